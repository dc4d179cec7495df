#include "common/log.h"

#include <cstdio>

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
    using namespace std::chrono;
    const auto milliseconds = floor<std::chrono::milliseconds>(time);
    const auto day = floor<days>(milliseconds);
    const year_month_day date{day};
    const hh_mm_ss clock{milliseconds - day};
    char head[64];
    std::snprintf(head, sizeof head, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ %u ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()), pid);
    std::string line = head;
    line.reserve(line.size() + text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        line.push_back(u < 0x20 || u == 0x7F ? '?' : c);
    }
    return line;
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto cp = static_cast<std::uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
            static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
        } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace zv
