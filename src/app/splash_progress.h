#pragma once

// A download's progress on the splash: the updaters report to it, the pacing (ui/progress_pacing.h)
// decides what reaches the bar, and the bar goes when the download ends. Windows only.

#include <chrono>
#include <cstdint>
#include <optional>

#include "net/download_progress.h"
#include "ui/progress_pacing.h"

namespace zv {

class LauncherWindows;

class SplashProgress final : public DownloadProgress {
public:
    explicit SplashProgress(LauncherWindows& windows) : windows_(windows) {}

    void Begun() override;
    void Received(std::uint64_t received, std::optional<std::uint64_t> expected) override;
    void Ended() override;
    void Waiting() override;

private:
    LauncherWindows& windows_;
    std::chrono::steady_clock::time_point begun_;
    ProgressPacing pacing_;
    // The bar shows a wait before another attempt.
    bool waiting_ = false;
};

}  // namespace zv
