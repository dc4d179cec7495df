// The composition root: the run's facts are read here once, and every real object of the run is
// built here and handed what it needs of them.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/agreement_record.h"
#include "app/game_step.h"
#include "app/instance_guard.h"
#include "app/run_launcher.h"
#include "app/splash_progress.h"
#include "common/command_line.h"
#include "common/log.h"
#include "common/process_paths.h"
#include "common/text.h"
#include "common/windows_version.h"
#include "integrity/file_digest.h"
#include "launch/game_launch_windows.h"
#include "net/http_client.h"
#include "net/retrying_transfer.h"
#include "net/run_proxy.h"
#include "ui/ui.h"
#include "update/launcher_update.h"
#include "update/launcher_version.h"
#include "update/update_host.h"
#include "update/update_public_keys.h"
#include "update/update_windows.h"

namespace zv {

namespace {

class WindowsLauncherSteps final : public LauncherSteps {
public:
    explicit WindowsLauncherSteps(const RunFacts& facts)
        : facts_(facts),
          windows_(facts.texts),
          downloads_(windows_),
          selfUpdatePlatform_(facts.probation, SelfUpdateHooks{[this] { StepAside(); }, [this] { ComeBack(); }}),
          launchPlatform_([this] { guard_.Release(); }) {}

    bool AcquireInstanceGuard() override {
        // Started on probation, the launcher that put this one in place hands the guard on.
        return facts_.probation ? guard_.AcquireHandedOn(kHandOnLimit) : guard_.Acquire();
    }
    void ReleaseInstanceGuard() override { guard_.Release(); }
    void StartUiThread() override { windows_.StartUiThread(); }
    void ShowSplash() override { windows_.ShowSplash(); }
    void HideSplash() override { windows_.HideSplash(); }
    void CloseSplash() override { windows_.CloseSplash(); }
    bool ReadAgreementAccepted() override { return zv::ReadAgreementAccepted(); }
    void RecordAgreementAccepted() override { zv::RecordAgreementAccepted(); }
    bool AskForConsent() override { return windows_.AskForConsent(); }
    StepResult UpdateLauncher() override {
        return zv::UpdateLauncher(facts_.source, facts_.launcher, Network(), system_, selfUpdatePlatform_);
    }
    StepResult UpdateAndLaunchGame() override {
        return zv::UpdateAndLaunchGame(facts_.launcher, facts_.source, Network(), system_, launchPlatform_);
    }
    void ShowMessage(std::wstring_view text, std::wstring_view caption, unsigned flags) override {
        const std::wstring t(text);
        const std::wstring c(caption);
        ::MessageBoxW(nullptr, t.c_str(), c.c_str(), flags);
    }

private:
    // How long a launcher waits for the guard a hand-over passes on, and to take it back after one.
    static constexpr std::chrono::seconds kHandOnLimit{10};

    // Before the launcher this one has put in place starts: the splash leaves the screen, and the
    // guard is handed on without being let go, so that nothing else starts in between.
    void StepAside() {
        windows_.HideSplash();
        guard_.Lend();
    }
    // After that launcher was rolled back, this one goes on with the run.
    void ComeBack() {
        if (!guard_.TakeBack(kHandOnLimit)) {
            LogEvent("could not take the single-instance guard back; the run goes on without it");
        }
        windows_.ShowSplash();
    }

    // One session serves both updaters, through the proxy chosen for the run, its downloads shown
    // on the splash, each request tried again while it fails in a way worth it, within the run's one
    // schedule. It is made by the first step that uses the network, so a run that ends at the guard
    // or the agreement never loads WinHTTP or looks for a proxy.
    Transfer& Network() {
        if (!client_) {
            proxy_.emplace();
            client_.emplace(RunSessionOpener(*proxy_), proxy_->script());
            client_->ReportDownloadsTo(&downloads_);
            transfer_.emplace(*client_, retryWorld_, &downloads_);
        }
        return *transfer_;
    }

    const RunFacts& facts_;
    // Made first and so gone last: its UI thread ends once nothing else of the run is left.
    LauncherWindows windows_;
    InstanceGuard guard_;
    SplashProgress downloads_;
    WindowsUpdateSystem system_;
    WindowsSelfUpdatePlatform selfUpdatePlatform_;
    WindowsLaunchPlatform launchPlatform_;
    SystemRetryWorld retryWorld_;
    std::optional<RunProxy> proxy_;
    std::optional<HttpClient> client_;
    std::optional<RetryingTransfer> transfer_;
};

std::string DescribeWindowsVersion() {
    const std::optional<WindowsVersion> version = ReadWindowsVersion();
    if (!version) {
        return "unknown";
    }
    return std::to_string(version->major) + "." + std::to_string(version->minor) + "." + std::to_string(version->build);
}

}  // namespace

RunFacts ReadRunFacts() {
    const HandedOver handedOver = TakeHandedOver();
    RunFacts facts;
    facts.launcher.path = GetModulePath();
    // A command line that cannot be split forwards nothing, handed-over arguments included.
    std::vector<std::wstring> forwarded;
    if (const std::optional<std::vector<std::wstring>> own = OwnArguments()) {
        std::optional<std::vector<std::wstring>> handed;
        if (handedOver.arguments) {
            // Split behind a program name of its own, exactly as the same text would be on a command line.
            handed = SplitCommandLine((L"ZVLauncher.exe " + *handedOver.arguments).c_str());
        }
        forwarded = ForwardedArguments(*own, handed);
    }
    facts.launcher.forwarded = JoinQuotedArguments(forwarded);
    // As the game will split them: an empty argument travels as nothing (JoinQuotedArguments).
    facts.forwardedCount = static_cast<std::size_t>(std::count_if(
        forwarded.begin(), forwarded.end(), [](const std::wstring& argument) { return !argument.empty(); }));
    facts.launcher.version = kLauncherVersion;
    facts.source = UpdateSource{kUpdateHost, kUpdatePublicKeys};
    facts.probation = handedOver.probation;
    ReadPlayerTexts(facts);
    return facts;
}

void LogStart(const RunFacts& facts) {
    const std::string sha1 = Sha1ToHex(HashFile(facts.launcher.path));
    LogEvent("start " + ToUtf8(facts.launcher.path) + " sha1 " + sha1 + ", " + std::to_string(facts.forwardedCount) +
             " arguments, Windows " + DescribeWindowsVersion() +
             (facts.probation ? ", on probation after a self-update" : ""));
    std::string preferred;
    for (const std::string& language : facts.preferredLanguages) {
        preferred += (preferred.empty() ? "" : ", ") + language;
    }
    LogEvent("texts in " + facts.texts.language() + " (Windows prefers " + (preferred.empty() ? "none" : preferred) +
             ")" + (facts.textsProblem.empty() ? "" : "; " + facts.textsProblem));
}

int RunLauncher(const RunFacts& facts) {
    WindowsLauncherSteps steps(facts);
    return RunLauncher(steps, facts.texts);
}

}  // namespace zv
