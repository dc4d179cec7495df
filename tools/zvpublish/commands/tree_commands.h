#pragma once

// The commands that read or renew a whole tree: refresh, verify, status and prune, each run from its
// row of the command table (command_table.h).

#include <optional>
#include <string>

#include "zvpublish/commands/command.h"

namespace zv::publish {

// verify and status: --public-keys and --update-host together or not at all.
std::optional<std::string> CheckSignatureOptions(const Command& command, const Parsed& parsed);

int RunRefresh(const Invocation& invocation);
int RunVerify(const Invocation& invocation);
int RunStatus(const Invocation& invocation);
int RunPrune(const Invocation& invocation);

}  // namespace zv::publish
