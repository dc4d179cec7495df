#pragma once

#include "common/launch_result.h"
#include "common/running_launcher.h"
#include "launch/game_launch.h"
#include "net/transfer.h"
#include "update/update_source.h"
#include "update/update_system.h"

namespace zv {

// The game step: locates the game beside the launcher, brings its client stub up to date from
// source and starts it with the launcher's forwarded arguments. Returns 0, 10 to 16, 18 to 20 or
// (with keys) 32 to 34; after a hand-over to an elevated copy it ends the process with exit code 0.
StepResult UpdateAndLaunchGame(const RunningLauncher& launcher, const UpdateSource& source, Transfer& transfer,
                               UpdateSystem& system, LaunchPlatform& platform);

}  // namespace zv
