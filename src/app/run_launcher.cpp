#include "app/run_launcher.h"

#include <string>

#include "app/timed_step.h"
#include "common/log.h"
#include "common/text.h"

namespace zv {

namespace {

// A step that throws is reported like any other failure of that step, with the unknown-error
// text: the user still gets exactly one box under the step's caption. The log gets its start, its
// end with its result and how long it took.
template <typename Step>
StepResult RunStep(std::string_view name, Step&& step) {
    const std::string stepName = "step " + std::string(name);
    LogEvent(stepName + " begins");
    return Timed(stepName, [&] {
        try {
            return step();
        } catch (...) {
            LogEvent(stepName + " threw an exception");
            return StepResult(kUnexpectedFailure);
        }
    });
}

int Exit(int code) {
    LogEvent("exit " + std::to_string(code));
    return code;
}

int ReportFailure(LauncherSteps& steps, const PlayerTexts& texts, const StepResult& failure, PlayerText caption) {
    steps.CloseSplash();
    // Support reads the log: its text is the English one, whatever the player reads.
    LogEvent("result " + std::to_string(static_cast<std::uint32_t>(failure.result)) + ": " +
             ToUtf8(DescribeLaunchResult(failure)));
    steps.ShowMessage(texts.Describe(failure), texts.Get(caption), kErrorBox);
    steps.ReleaseInstanceGuard();
    return Exit(1);
}

}  // namespace

int RunLauncher(LauncherSteps& steps, const PlayerTexts& texts) {
    if (!steps.AcquireInstanceGuard()) {
        LogEvent("another launcher is running");
        steps.ShowMessage(texts.Get(PlayerText::AnotherInstance), texts.Get(PlayerText::LauncherTitle),
                          kInformationBox);
        return Exit(1);
    }

    steps.StartUiThread();

    if (!steps.ReadAgreementAccepted()) {
        LogEvent("the agreement is asked for");
        steps.HideSplash();
        if (!steps.AskForConsent()) {
            LogEvent("the agreement was not accepted");
            steps.ReleaseInstanceGuard();
            return Exit(1);
        }
        LogEvent("the agreement was accepted");
        steps.RecordAgreementAccepted();
        steps.ShowSplash();
    }

    const StepResult launcher = RunStep("self-update", [&] { return steps.UpdateLauncher(); });
    if (!launcher.succeeded()) {
        return ReportFailure(steps, texts, launcher, PlayerText::LauncherUpdateCaption);
    }

    const StepResult game = RunStep("game", [&] { return steps.UpdateAndLaunchGame(); });
    if (!game.succeeded()) {
        return ReportFailure(steps, texts, game, PlayerText::GameUpdateCaption);
    }

    LogEvent("result 0: " + ToUtf8(DescribeLaunchResult(LaunchResult::Success)));
    steps.ReleaseInstanceGuard();
    return Exit(0);
}

}  // namespace zv
