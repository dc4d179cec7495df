#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/launch_result.h"
#include "common/process_start.h"
#include "common/running_launcher.h"
#include "net/transfer.h"
#include "update/replacement_command.h"
#include "update/update_source.h"
#include "update/update_system.h"

namespace zv {

// What the self-update does to its own process beyond files and the network. The Windows
// implementation is the real one; the unit table stands in for it, and so do the Windows tests
// where starting the replacement command (which would overwrite and restart the test program) and
// ending the process cannot be let happen.
class SelfUpdatePlatform {
public:
    virtual ~SelfUpdatePlatform() = default;
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

// Brings the running launcher's own executable (launcher.path) up to date from
// https://HOST/launcher/manifest.json; the launcher it restarts gets launcher.forwarded.
// Returns 0 when it is current and 1 to 8 (30 and 31 with keys) when the update failed; when it
// has started the replacement it ends the process with exit code 0 instead of returning.
//  - A newer launcher is downloaded into a new temporary file, checked against the manifest, and
//    handed to the command interpreter (replacement_command.h), which copies it over the launcher
//    once this process has ended, deletes it and starts the launcher again.
//  - Every failure after the temporary file was made removes it (6, 7, 8).
//  - 8 also stands for a replacement the interpreter could not carry out (see FitsInterpreterLimits
//    and CanReplace), refused before the download is fetched.
// Without keys, the manifest's "sha1" decides whether the launcher is current and what the
// download must be. With keys (manifest_signature.h):
//  - a manifest not signed for this host and path by one of them, or not well-formed, is used for
//    nothing (30), and an expired one neither (31);
//  - a version not above launcher.version is no update: the run goes on (0), whatever the digests say;
//  - "sha256" decides whether the launcher is current, and the download must be exactly "size"
//    bytes long with both digests (6 when it is longer, 7 otherwise).
StepResult UpdateLauncher(const UpdateSource& source, const RunningLauncher& launcher, Transfer& transfer,
                          UpdateSystem& system, SelfUpdatePlatform& platform);

// In a launcher restarted by the hand-over: the forwarded text the previous launcher left in
// ZV_REPLACEMENT_ARGUMENTS, or nothing. Either way every variable of the hand-over is removed from
// the process's environment, so that no program the launcher starts inherits them. Called once,
// first thing at entry.
std::optional<std::wstring> TakeHandedOverArguments();

}  // namespace zv
