#include "common/log.h"

#include "common/text.h"

namespace zv {

namespace {

LogSink* g_logSink = nullptr;  // main thread only

}  // namespace

void SetLogSink(LogSink* sink) noexcept { g_logSink = sink; }

void LogEvent(std::string_view text) noexcept {
    if (g_logSink == nullptr) {
        return;
    }
    try {
        std::string line = FormatLogLine(std::chrono::system_clock::now(), CurrentProcessId(), text);
        line.push_back('\n');
        g_logSink->WriteLine(line);
    } catch (...) {
        // Out of memory while formatting: the event is lost, the run goes on.
    }
}

std::string FormatLogLine(std::chrono::system_clock::time_point time, std::uint32_t pid, std::string_view text) {
    std::string line = FormatUtcTime(std::chrono::floor<std::chrono::milliseconds>(time), UtcPrecision::Milliseconds) +
                       " " + std::to_string(pid) + " ";
    line.reserve(line.size() + text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        line.push_back(u < 0x20 || u == 0x7F ? '?' : c);
    }
    return line;
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace zv
