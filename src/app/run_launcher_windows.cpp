#include <windows.h>

#include <memory>
#include <string>

#include "app/agreement_record.h"
#include "app/instance_guard.h"
#include "app/run_launcher.h"
#include "app/game_step.h"
#include "ui/ui.h"
#include "update/launcher_update.h"
#include "update/update_host.h"

namespace zv {

namespace {

class WindowsLauncherSteps final : public LauncherSteps {
public:
    bool AcquireInstanceGuard() override { return zv::AcquireInstanceGuard(); }
    void ReleaseInstanceGuard() override { zv::ReleaseInstanceGuard(); }
    void StartUiThread() override { zv::StartUiThread(); }
    void ShowSplash() override { zv::ShowSplash(); }
    void HideSplash() override { zv::HideSplash(); }
    void CloseSplash() override { zv::CloseSplash(); }
    bool ReadAgreementAccepted() override { return zv::ReadAgreementAccepted(); }
    void RecordAgreementAccepted() override { zv::RecordAgreementAccepted(); }
    bool AskForConsent() override { return zv::AskForConsent(); }
    StepResult UpdateLauncher() override { return zv::UpdateLauncher(); }
    StepResult UpdateAndLaunchGame() override {
        const std::unique_ptr<LaunchPlatform> platform = MakeWindowsLaunchPlatform(&zv::ReleaseInstanceGuard);
        return zv::UpdateAndLaunchGame(kUpdateHost, *platform);
    }
    void ShowMessage(std::wstring_view text, std::wstring_view caption, unsigned flags) override {
        const std::wstring t(text);
        const std::wstring c(caption);
        ::MessageBoxW(nullptr, t.c_str(), c.c_str(), flags);
    }
};

}  // namespace

int RunLauncher() {
    WindowsLauncherSteps steps;
    return RunLauncher(steps);
}

}  // namespace zv
