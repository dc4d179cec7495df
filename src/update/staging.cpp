#include "update/staging.h"

#include <string>

#include "common/log.h"
#include "common/text.h"
#include "update/update_system.h"

namespace zv {

std::wstring LauncherStagingPath(std::wstring_view launcherPath) { return std::wstring(launcherPath) + L".new"; }

std::wstring PreviousLauncherPath(std::wstring_view launcherPath) { return std::wstring(launcherPath) + L".previous"; }

std::wstring StubStagingPath(std::wstring_view stubPath) { return std::wstring(stubPath) + L".partial"; }

RenameOutcome RetryWhileInUse(UpdateSystem& system, std::string_view what,
                              const std::function<RenameOutcome()>& rename) {
    RenameOutcome outcome = rename();
    if (outcome.kind != RenameOutcome::Kind::InUse) {
        return outcome;
    }
    LogEvent(std::string(what) + ": a file is in use (error " + std::to_string(outcome.error) +
             "); trying again for up to 10 seconds");
    for (const std::chrono::milliseconds wait : kInUseRetryWaits) {
        system.Pause(wait);
        outcome = rename();
        if (outcome.kind != RenameOutcome::Kind::InUse) {
            break;
        }
    }
    LogEvent(std::string(what) + (outcome.done()
                                      ? ": done after waiting"
                                      : ": still refused after waiting (error " + std::to_string(outcome.error) + ")"));
    return outcome;
}

void RemoveLeftover(UpdateSystem& system, const std::wstring& path) {
    switch (system.RemoveFile(path)) {
        case Removal::Absent:
            return;
        case Removal::Removed:
            LogEvent("removed " + ToUtf8(path) + ", left by a run that was ended");
            return;
        case Removal::Failed:
            LogEvent("could not remove " + ToUtf8(path) + ", left by a run that was ended");
            return;
    }
}

}  // namespace zv
