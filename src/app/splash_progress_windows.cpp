#include "app/splash_progress.h"

#include "ui/ui.h"

namespace zv {

void SplashProgress::Begun() {
    begun_ = std::chrono::steady_clock::now();
    pacing_ = ProgressPacing{};
}

void SplashProgress::Received(std::uint64_t received, std::optional<std::uint64_t> expected) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun_);
    if (const std::optional<BarUpdate> update = pacing_.Next(elapsed, received, expected)) {
        windows_.ShowSplashProgress(*update);
    }
}

void SplashProgress::Ended() {
    if (pacing_.Shown() || waiting_) {
        windows_.RemoveSplashProgress();
    }
    pacing_ = ProgressPacing{};
    waiting_ = false;
}

void SplashProgress::Waiting() {
    // At once: a wait is long enough to wonder about, and nothing else moves meanwhile.
    windows_.ShowSplashProgress(BarUpdate{true, 0});
    waiting_ = true;
}

}  // namespace zv
