#pragma once

// The launcher's log, for a player to send to support: one line per event, appended to
// %LOCALAPPDATA%\Zarnovelle\Logs\launcher.log (log_windows.cpp). Each line is the UTC time in
// ISO 8601 with milliseconds and a trailing Z, the process id, and the event's text:
//
//   2026-12-10T12:00:00.123Z 4242 GET https://updates.example.com/launcher/manifest.json -> 200, ...
//
// Logging never changes a run: without a sink (none set, or the log could not be opened) events go
// nowhere, and a write that fails is dropped. Only the main thread logs, so the UI thread never
// waits on it; nothing here locks.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zv {

// Where the lines go.
class LogSink {
public:
    virtual ~LogSink() = default;
    // One whole line, ended by a line feed. Must not throw; a line it cannot write is lost.
    virtual void WriteLine(std::string_view line) noexcept = 0;
};

// The process's sink, or none (nullptr). Set once at entry, before anything logs.
void SetLogSink(LogSink* sink) noexcept;

// Logs one event now. Control characters in text become '?', so every event stays one line.
void LogEvent(std::string_view text) noexcept;

// The line for an event at time in process pid, without the line feed.
std::string FormatLogLine(std::chrono::system_clock::time_point time, std::uint32_t pid, std::string_view text);

// Milliseconds since start, for the durations the events report.
std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start);

// The log kept under %LOCALAPPDATA%\Zarnovelle\Logs (Windows; nothing elsewhere): the folders are
// made when missing, and a log over kLogRotateBytes becomes launcher.1.log (replacing an older
// one) before a new one is begun. Nothing when any of it fails.
inline constexpr std::uint64_t kLogRotateBytes = 1024 * 1024;
std::unique_ptr<LogSink> OpenLauncherLog();

// The platform's id of this process.
std::uint32_t CurrentProcessId();

}  // namespace zv
