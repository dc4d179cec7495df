#include "app/game_step.h"

#include "launch/process_paths.h"
#include "launch/target_discovery.h"
#include "update/stub_update.h"

namespace zv {

StepResult UpdateAndLaunchGame(std::wstring_view updateHost, LaunchPlatform& platform) {
    GameLocation location;
    if (const LaunchResult located = LocateGame(location); located != LaunchResult::Success) {
        return located;
    }
    if (const StepResult stub = UpdateClientStub(location, updateHost); !stub.succeeded()) {
        return stub;
    }
    return LaunchGame(location.gameExecutable, BuildForwardedArguments(), platform);
}

}  // namespace zv
