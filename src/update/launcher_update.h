#pragma once

#include "app/launch_result.h"

namespace zv {

// Brings the launcher's own executable up to date. Returns 0 to 8; when it has started the
// replacement it ends the process with exit code 0 instead of returning.
StepResult UpdateLauncher();

}  // namespace zv
