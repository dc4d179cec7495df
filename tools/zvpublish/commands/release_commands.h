#pragma once

// The commands that make releases and keys: key, stub, launcher, withdraw and keygen, each run from
// its row of the command table (command_table.h), with the checks of how their options go together.

#include <optional>
#include <string>

#include "zvpublish/commands/command.h"

namespace zv::publish {

// stub and launcher: the options of a signed manifest only with --signing-key, which needs
// --update-host and excludes --allow-unsigned.
std::optional<std::string> CheckSignedPublishOptions(const Command& command, const Parsed& parsed);
// withdraw: the build by --target or by --build-key, one of them.
std::optional<std::string> CheckWithdrawOptions(const Command& command, const Parsed& parsed);
// keygen: the private and the public key in two files.
std::optional<std::string> CheckKeygenOptions(const Command& command, const Parsed& parsed);

int RunKey(const Invocation& invocation);
int RunStub(const Invocation& invocation);
int RunLauncher(const Invocation& invocation);
int RunWithdraw(const Invocation& invocation);
int RunKeygen(const Invocation& invocation);

}  // namespace zv::publish
