#include "app/run_launcher.h"

namespace zv {

namespace {

// A step that throws is reported like any other failure of that step, with the unknown-error
// text: the user still gets exactly one box under the step's caption.
template <typename Step>
StepResult RunStep(Step&& step) {
    try {
        return step();
    } catch (...) {
        return StepResult(kUnexpectedFailure);
    }
}

int ReportFailure(LauncherSteps& steps, const StepResult& failure, std::wstring_view caption) {
    steps.CloseSplash();
    const std::wstring text = DescribeLaunchResult(failure);
    steps.ShowMessage(text, caption, kErrorBox);
    steps.ReleaseInstanceGuard();
    return 1;
}

}  // namespace

int RunLauncher(LauncherSteps& steps) {
    if (!steps.AcquireInstanceGuard()) {
        steps.ShowMessage(kAnotherInstanceText, kLauncherCaption, kInformationBox);
        return 1;
    }

    steps.StartUiThread();

    if (!steps.ReadAgreementAccepted()) {
        steps.HideSplash();
        if (!steps.AskForConsent()) {
            steps.ReleaseInstanceGuard();
            return 1;
        }
        steps.RecordAgreementAccepted();
        steps.ShowSplash();
    }

    const StepResult launcher = RunStep([&] { return steps.UpdateLauncher(); });
    if (!launcher.succeeded()) {
        return ReportFailure(steps, launcher, kLauncherUpdateCaption);
    }

    const StepResult game = RunStep([&] { return steps.UpdateAndLaunchGame(); });
    if (!game.succeeded()) {
        return ReportFailure(steps, game, kGameUpdateCaption);
    }

    steps.ReleaseInstanceGuard();
    return 0;
}

}  // namespace zv
