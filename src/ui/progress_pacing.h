#pragma once

// The rule that turns a download's progress into updates of the splash's bar. The bar is worth
// showing only for a download long enough to make a player wonder, and each update is a message
// to the UI thread, so they come seldom: only when the whole percent changed, and never more than
// about ten a second.

#include <chrono>
#include <cstdint>
#include <optional>

namespace zv {

// What the bar is to show: a share of the body in whole percent, or, without a length to measure
// against, a marquee that only says the download is moving.
struct BarUpdate {
    bool marquee = false;
    int percent = 0;  // 0 to 100; 0 for a marquee

    friend bool operator==(const BarUpdate&, const BarUpdate&) = default;
};

// The share of expected that received makes, in whole percent rounded down, at most 100.
// expected must not be 0.
int WholePercent(std::uint64_t received, std::uint64_t expected);

// One download's updates. Fresh for every download.
class ProgressPacing {
public:
    // A download shorter than this never shows the bar.
    static constexpr std::chrono::milliseconds kShowAfter{500};
    // The least time between two updates.
    static constexpr std::chrono::milliseconds kLeastInterval{100};

    // The update to send now, if any, for received bytes of expected (nothing or 0: unknown), at
    // elapsed since the download began. Without a length the only update is the one that starts
    // the marquee.
    std::optional<BarUpdate> Next(std::chrono::milliseconds elapsed, std::uint64_t received,
                                  std::optional<std::uint64_t> expected);

    // Whether an update was sent, so the bar is there to take away.
    [[nodiscard]] bool Shown() const { return last_.has_value(); }

private:
    std::optional<BarUpdate> last_;
    std::chrono::milliseconds lastAt_{0};
};

}  // namespace zv
