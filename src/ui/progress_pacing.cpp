#include "ui/progress_pacing.h"

#include <algorithm>
#include <limits>

namespace zv {

int WholePercent(std::uint64_t received, std::uint64_t expected) {
    if (received >= expected) {
        return 100;
    }
    // received * 100 would overflow for bodies beyond 2^64 / 100 bytes; there the length is divided
    // first, which is off by less than a percent. Short of the whole body is short of 100.
    constexpr std::uint64_t kMaxMultipliable = std::numeric_limits<std::uint64_t>::max() / 100;
    const std::uint64_t percent =
        received <= kMaxMultipliable ? received * 100 / expected : received / (expected / 100);
    return static_cast<int>(std::min<std::uint64_t>(percent, 99));
}

std::optional<BarUpdate> ProgressPacing::Next(std::chrono::milliseconds elapsed, std::uint64_t received,
                                              std::optional<std::uint64_t> expected) {
    if (elapsed < kShowAfter) {
        return std::nullopt;
    }
    const bool known = expected.value_or(0) != 0;
    const BarUpdate update = known ? BarUpdate{false, WholePercent(received, *expected)} : BarUpdate{true, 0};
    if (last_) {
        if (update == *last_ || elapsed - lastAt_ < kLeastInterval) {
            return std::nullopt;
        }
    }
    last_ = update;
    lastAt_ = elapsed;
    return update;
}

}  // namespace zv
