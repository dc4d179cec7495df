#pragma once

#include <string>
#include <string_view>

#include "app/launch_result.h"
#include "common/process_start.h"

namespace zv {

// What the self-update does beyond files and the network. The Windows implementation is the real
// one; tests replace it to point the update at a copy of the launcher and to see the start of the
// replacement command (or make it fail) without ending the test process.
class SelfUpdatePlatform {
public:
    virtual ~SelfUpdatePlatform() = default;
    virtual std::wstring GetModulePath() = 0;
    virtual std::wstring BuildForwardedArguments() = 0;
    // CreateProcessW of the command line with CREATE_NO_WINDOW and a hidden window; both handles
    // of a started process are closed.
    virtual ProcessStart StartHidden(std::wstring& commandLine) = 0;
    // Ends the process with exit code 0.
    [[noreturn]] virtual void ExitProcess() = 0;
};

// Brings the launcher's own executable up to date from https://updateHost/launcher/manifest.json.
// Returns 0 when it is current and 1 to 8 when the update failed; when it has started the
// replacement it ends the process with exit code 0 instead of returning.
StepResult UpdateLauncher(std::wstring_view updateHost, SelfUpdatePlatform& platform);

// The same against the update server the launcher was built for, with the real platform.
StepResult UpdateLauncher();

// The launcher manifest's address.
std::wstring LauncherManifestUrl(std::wstring_view updateHost);

}  // namespace zv
