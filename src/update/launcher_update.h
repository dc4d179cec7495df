#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/launch_result.h"
#include "common/process_start.h"
#include "update/replacement_command.h"

namespace zv {

// What the self-update does beyond files and the network. The Windows implementation is the real
// one; tests replace it to point the update at a copy of the launcher and to see the start of the
// replacement command (or make it fail) without ending the test process.
class SelfUpdatePlatform {
public:
    virtual ~SelfUpdatePlatform() = default;
    virtual std::wstring GetModulePath() = 0;
    virtual std::wstring BuildForwardedArguments() = 0;
    // The system directory, where the command interpreter and the programs it runs are.
    virtual std::wstring SystemFolder() = 0;
    // Whether the interpreter will be able to copy a file over the launcher's own file at path:
    // the file is not read-only, and the user may open it for writing (it may only be refused
    // for being in use, as a running launcher is). A launcher under a folder the user may not write
    // to would otherwise end as though it had updated, and fail the same way on every run.
    virtual bool CanReplace(const std::wstring& path) = 0;
    // CreateProcessW of command.interpreter with command.line, CREATE_NO_WINDOW and a hidden window,
    // and with command.environment added to the environment it inherits; the launcher's own
    // environment is as before once this returns. Both handles of a started process are closed.
    virtual ProcessStart StartHidden(const ReplacementCommand& command) = 0;
    // Ends the process with exit code 0.
    [[noreturn]] virtual void ExitProcess() = 0;
};

// Brings the launcher's own executable up to date from https://updateHost/launcher/manifest.json.
// Returns 0 when it is current and 1 to 8 when the update failed; when it has started the
// replacement it ends the process with exit code 0 instead of returning. 8 also stands for a
// replacement the interpreter could not carry out (see FitsInterpreterLimits and CanReplace);
// the download is then not fetched and the temporary file is removed.
StepResult UpdateLauncher(std::wstring_view updateHost, SelfUpdatePlatform& platform);

// The real platform (Windows only).
SelfUpdatePlatform& WindowsSelfUpdatePlatform();

// The same against the update server the launcher was built for, with the real platform.
StepResult UpdateLauncher();

// In a launcher restarted by the hand-over: the forwarded text the previous launcher left in
// ZV_REPLACEMENT_ARGUMENTS, or nothing. Either way every variable of the hand-over is removed from
// the process's environment, so that no program the launcher starts inherits them. Called once,
// first thing at entry.
std::optional<std::wstring> TakeHandedOverArguments();

}  // namespace zv
