#pragma once

#include "app/launch_result.h"

namespace zv {

// Locates the game, brings its client stub up to date and starts it. Returns 0, 10 to 16 or
// 18 to 20; after a hand-over to an elevated copy it ends the process with exit code 0.
StepResult UpdateAndLaunchGame();

}  // namespace zv
