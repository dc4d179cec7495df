#pragma once

// Text that the launcher's log and the publishing tool write alike: UTF-8 from the wide strings the
// code keeps, and UTC times in ISO 8601.

#include <chrono>
#include <string>
#include <string_view>

namespace zv {

// UTF-8 of a wide text (paths, URLs); each unpaired surrogate becomes U+FFFD. wchar_t holds UTF-16
// on Windows and whole code points elsewhere; both are read.
std::string ToUtf8(std::wstring_view text);

enum class UtcPrecision { Seconds, Milliseconds };

// "2026-12-10T12:00:00Z", or with milliseconds "2026-12-10T12:00:00.123Z"; the time is cut, not
// rounded, to the precision.
std::string FormatUtcTime(std::chrono::system_clock::time_point time, UtcPrecision precision);

}  // namespace zv
