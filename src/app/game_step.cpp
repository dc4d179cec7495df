#include "app/game_step.h"

#include <string>

#include "app/timed_step.h"
#include "common/log.h"
#include "common/text.h"
#include "launch/target_discovery.h"
#include "update/stub_update.h"

namespace zv {

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
