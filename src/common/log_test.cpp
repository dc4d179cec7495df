#include "common/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono;

TEST(FormatLogLine, UtcTimeToTheMillisecondThenTheProcessThenTheEvent) {
    struct Case {
        sys_time<milliseconds> time;
        const char* text;
        const char* line;
    };
    const Case cases[] = {
        {sys_days{2026y / December / 10} + 12h + 0min + 0s + 123ms, "start", "2026-12-10T12:00:00.123Z 4242 start"},
        {sys_days{1970y / January / 1}, "epoch", "1970-01-01T00:00:00.000Z 4242 epoch"},
        {sys_days{2028y / February / 29} + 23h + 59min + 59s + 999ms, "leap day",
         "2028-02-29T23:59:59.999Z 4242 leap day"},
        // One event, one line: what comes from outside cannot start another.
        {sys_days{2026y / December / 10}, "GET https://h/a\r\n2026-12-10T00:00:00.000Z 1 forged\t\x7f",
         "2026-12-10T00:00:00.000Z 4242 GET https://h/a??2026-12-10T00:00:00.000Z 1 forged??"},
        {sys_days{2026y / December / 10}, "\xC3\xA9t\xC3\xA9", "2026-12-10T00:00:00.000Z 4242 \xC3\xA9t\xC3\xA9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::FormatLogLine(c.time, 4242, c.text), c.line);
    }
    // Below a millisecond is cut, never rounded up into the next second.
    EXPECT_EQ(zv::FormatLogLine(sys_days{2026y / December / 31} + 23h + 59min + 59s + 999999us, 1, "x"),
              "2026-12-31T23:59:59.999Z 1 x");
}

class Collected final : public zv::LogSink {
public:
    void WriteLine(std::string_view line) noexcept override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

TEST(LogEvent, GoesToTheSinkOrNowhere) {
    zv::LogEvent("before any sink");  // nothing to see, nothing fails
    Collected sink;
    zv::SetLogSink(&sink);
    zv::LogEvent("one");
    zv::SetLogSink(nullptr);
    zv::LogEvent("after");
    ASSERT_EQ(sink.lines.size(), 1u);
    // The time (24 characters and a blank), the process, the event and the line feed.
    std::string tail = " ";
    tail += std::to_string(zv::CurrentProcessId());
    tail += " one\n";
    EXPECT_EQ(sink.lines[0].size(), 24 + tail.size()) << sink.lines[0];
    EXPECT_TRUE(sink.lines[0].ends_with(tail)) << sink.lines[0];
}

}  // namespace
