#include "ui/progress_pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zv::BarUpdate;

struct Step {
    std::chrono::milliseconds elapsed;
    std::uint64_t received;
    std::optional<BarUpdate> sent;
};

struct PacingCase {
    const char* name;
    std::optional<std::uint64_t> expected;
    std::vector<Step> steps;
};

constexpr BarUpdate Percent(int percent) { return BarUpdate{false, percent}; }
constexpr BarUpdate kMarquee{true, 0};

TEST(ProgressPacing, ShowsLongDownloadsOnlyAndSendsFewUpdates) {
    const PacingCase cases[] = {
        {"a download over before half a second never shows", 1000, {{0ms, 0, {}}, {200ms, 500, {}}, {499ms, 1000, {}}}},
        {"the first figure from half a second on shows the bar",
         1000,
         {{0ms, 0, {}}, {499ms, 100, {}}, {500ms, 120, Percent(12)}}},
        {"only a change of the whole percent is sent",
         1000,
         {{600ms, 120, Percent(12)}, {800ms, 129, {}}, {900ms, 130, Percent(13)}}},
        {"at most one update in a tenth of a second, then the figure of that moment",
         1000,
         {{600ms, 100, Percent(10)}, {650ms, 200, {}}, {699ms, 300, {}}, {700ms, 310, Percent(31)}}},
        {"whole percents round down; the end is 100", 1000, {{600ms, 999, Percent(99)}, {700ms, 1000, Percent(100)}}},
        {"more than announced stays at 100", 1000, {{600ms, 1000, Percent(100)}, {700ms, 1200, {}}}},
        {"no length: the marquee, once",
         std::nullopt,
         {{0ms, 0, {}}, {600ms, 5000, kMarquee}, {900ms, 9000, {}}, {5000ms, 90000, {}}}},
        {"a length of 0 is none", 0, {{600ms, 0, kMarquee}, {900ms, 0, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zv::ProgressPacing pacing;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(std::to_string(step.elapsed.count()) + " ms, " + std::to_string(step.received) + " bytes");
            EXPECT_EQ(pacing.Next(step.elapsed, step.received, c.expected), step.sent);
        }
        const bool anySent = std::any_of(c.steps.begin(), c.steps.end(), [](const Step& s) { return s.sent; });
        EXPECT_EQ(pacing.Shown(), anySent);
    }
}

TEST(WholePercent, RoundsDownAndHoldsForTheLargestBodies) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(zv::WholePercent(0, 1), 0);
    EXPECT_EQ(zv::WholePercent(1, 3), 33);
    EXPECT_EQ(zv::WholePercent(2, 3), 66);
    EXPECT_EQ(zv::WholePercent(3, 3), 100);
    EXPECT_EQ(zv::WholePercent(2'500'000'000, 5'000'000'000), 50);
    EXPECT_EQ(zv::WholePercent(kMax - 1, kMax), 99);
    EXPECT_EQ(zv::WholePercent(kMax, kMax), 100);
}

}  // namespace
