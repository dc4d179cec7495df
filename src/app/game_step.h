#pragma once

#include <string_view>

#include "common/launch_result.h"
#include "launch/game_launch.h"

namespace zv {

// The game step: locates the game, brings its client stub up to date from updateHost and starts
// it. Returns 0, 10 to 16 or 18 to 20; after a hand-over to an elevated copy it ends the process
// with exit code 0.
StepResult UpdateAndLaunchGame(std::wstring_view updateHost, LaunchPlatform& platform);

}  // namespace zv
