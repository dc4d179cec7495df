#pragma once

// The launcher's self-update hand-over played through the interpreter model: what the interpreter
// would run, and what the launcher it restarts would forward. Shared by the unit tests and the
// fuzz target.

#include <string>
#include <vector>

#include "interpreter_rules.h"
#include "update/replacement_command.h"

namespace zv::test {

struct HandOverOutcome {
    // Empty when the interpreter runs exactly the wait, the copy of the download over the launcher,
    // the deletion of the download and the start of the launcher (without arguments), joined by
    // &&; otherwise what differs.
    std::wstring fault;
    // The arguments the restarted launcher forwards, from its command line or the hand-over it
    // inherited, as a program would split them.
    std::vector<std::wstring> restartedArguments;
};

// launcherEnvironment is the launcher's own environment; the interpreter gets it with the
// command's variables added, and passes it on to what it starts.
HandOverOutcome PlayHandOver(const ReplacementCommand& command, const std::wstring& systemFolder,
                             const std::wstring& tempPath, const std::wstring& selfPath,
                             const Environment& launcherEnvironment);

// What a restarted launcher forwards, given its command line and inherited environment, split as
// the program it starts would split them.
std::vector<std::wstring> ArgumentsOfRestartedLauncher(const std::wstring& commandLine, const Environment& inherited);

}  // namespace zv::test
