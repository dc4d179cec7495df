// Placeholder until the game step is built: nothing to do, nothing started.
#include "launch/game_step.h"

namespace zv {

StepResult UpdateAndLaunchGame() { return LaunchResult::Success; }

}  // namespace zv
