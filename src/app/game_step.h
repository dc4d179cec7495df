#pragma once

#include <string_view>

#include "common/launch_result.h"
#include "launch/game_launch.h"
#include "net/download_progress.h"
#include "update/update_source.h"

namespace zv {

// The game step: locates the game, brings its client stub up to date from source (the download
// reporting to downloads) and starts it. Returns 0, 10 to 16, 18 to 20 or (with keys) 32 to 34;
// after a hand-over to an elevated copy it ends the process with exit code 0.
StepResult UpdateAndLaunchGame(const UpdateSource& source, LaunchPlatform& platform, DownloadProgress& downloads);

}  // namespace zv
