#pragma once

// The zvpublish command line: commands, options, help, messages and exit codes.

#include <ostream>
#include <string>
#include <vector>

#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // refused, failed, or problems found; the reason is on err
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

// Runs one command. arguments leave out the program name; out gets results, err errors and
// warnings (UTF-8).
int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err);

// The same with the moment that status and prune count files' ages up to; the one above takes the
// system clock's.
int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err, FileTime now);

}  // namespace zv::publish
