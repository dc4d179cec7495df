#include "app/game_step.h"

#include <chrono>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "launch/target_discovery.h"
#include "update/stub_update.h"

namespace zv {

namespace {

// Runs one part of the game step and logs how it ended and how long it took.
template <typename Part>
StepResult Timed(std::string_view name, Part&& part) {
    const auto start = std::chrono::steady_clock::now();
    const StepResult result = part();
    LogEvent(std::string(name) + " ends with " + std::to_string(static_cast<std::uint32_t>(result.result)) + " after " +
             std::to_string(MillisecondsSince(start)) + " ms");
    return result;
}

}  // namespace

StepResult UpdateAndLaunchGame(const RunningLauncher& launcher, const UpdateSource& source, Transfer& transfer,
                               UpdateSystem& system, LaunchPlatform& platform) {
    GameLocation location;
    if (const StepResult located = Timed("discovery", [&] { return StepResult(LocateGame(launcher.path, location)); });
        !located.succeeded()) {
        return located;
    }
    LogEvent("the game is " + ToUtf8(location.gameExecutable) + ", its client target " + ToUtf8(location.clientTarget));
    if (const StepResult stub =
            Timed("stub update", [&] { return UpdateClientStub(location, source, transfer, system); });
        !stub.succeeded()) {
        return stub;
    }
    return Timed("game start", [&] { return LaunchGame(location.gameExecutable, launcher, platform); });
}

}  // namespace zv
