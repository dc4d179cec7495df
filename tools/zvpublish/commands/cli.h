#pragma once

// The zvpublish command line: a command's row found by its name (command_table.h), its line parsed
// and checked, and the command run; help and version.

#include <ostream>
#include <string>
#include <vector>

#include "zvpublish/commands/output.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

// Runs one command. arguments leave out the program name; out gets results, err errors and
// warnings (UTF-8). Returns kExitSuccess, kExitFailure or kExitUsage (output.h).
int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err);

// The same with the moment that status and prune count files' ages up to; the one above takes the
// system clock's.
int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err, FileTime now);

}  // namespace zv::publish
