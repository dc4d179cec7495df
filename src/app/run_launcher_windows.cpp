#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <optional>
#include <string>

#include "app/agreement_record.h"
#include "common/log.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "common/windows_version.h"
#include "integrity/file_digest.h"
#include "launch/process_paths.h"
#include "app/instance_guard.h"
#include "app/run_launcher.h"
#include "app/game_step.h"
#include "app/splash_progress.h"
#include "ui/ui.h"
#include "update/launcher_update.h"
#include "update/update_host.h"
#include "update/update_public_keys.h"

namespace zv {

namespace {

class WindowsLauncherSteps final : public LauncherSteps {
public:
    explicit WindowsLauncherSteps(LauncherWindows& windows) : windows_(windows), downloads_(windows) {}

    bool AcquireInstanceGuard() override { return zv::AcquireInstanceGuard(); }
    void ReleaseInstanceGuard() override { zv::ReleaseInstanceGuard(); }
    void StartUiThread() override { windows_.StartUiThread(); }
    void ShowSplash() override { windows_.ShowSplash(); }
    void HideSplash() override { windows_.HideSplash(); }
    void CloseSplash() override { windows_.CloseSplash(); }
    bool ReadAgreementAccepted() override { return zv::ReadAgreementAccepted(); }
    void RecordAgreementAccepted() override { zv::RecordAgreementAccepted(); }
    bool AskForConsent() override { return windows_.AskForConsent(); }
    StepResult UpdateLauncher() override { return zv::UpdateLauncher(downloads_); }
    StepResult UpdateAndLaunchGame() override {
        const std::unique_ptr<LaunchPlatform> platform = MakeWindowsLaunchPlatform(&zv::ReleaseInstanceGuard);
        return zv::UpdateAndLaunchGame(UpdateSource{kUpdateHost, kUpdatePublicKeys}, *platform, downloads_);
    }
    void ShowMessage(std::wstring_view text, std::wstring_view caption, unsigned flags) override {
        const std::wstring t(text);
        const std::wstring c(caption);
        ::MessageBoxW(nullptr, t.c_str(), c.c_str(), flags);
    }

private:
    LauncherWindows& windows_;
    // Both updaters' downloads show on the splash.
    SplashProgress downloads_;
};

}  // namespace

namespace {

std::string DescribeWindowsVersion() {
    const std::optional<WindowsVersion> version = ReadWindowsVersion();
    if (!version) {
        return "unknown";
    }
    return std::to_string(version->major) + "." + std::to_string(version->minor) + "." + std::to_string(version->build);
}

// How many arguments the launcher forwards, counted as the game will split them.
int ForwardedArgumentCount() {
    const std::wstring text = L"x " + BuildForwardedArguments();
    int count = 0;
    const UniqueLocal argv(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(text.c_str(), &count)));
    return argv ? count - 1 : 0;
}

}  // namespace

void LogStart() {
    const std::wstring self = GetModulePath();
    const std::string sha1 = Sha1ToHex(HashFile(self));
    LogEvent("start " + ToUtf8(self) + " sha1 " + sha1 + ", " + std::to_string(ForwardedArgumentCount()) +
             " arguments, Windows " + DescribeWindowsVersion());
}

int RunLauncher() {
    LauncherWindows windows;
    WindowsLauncherSteps steps(windows);
    return RunLauncher(steps);
}

}  // namespace zv
