#pragma once

// Text that the launcher and the publishing tool handle alike: UTF-8 from the wide strings the code
// keeps, paths joined, names compared without regard to ASCII case, and UTC times in ISO 8601.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

// UTF-8 of a wide text (paths, URLs); each unpaired surrogate becomes U+FFFD. wchar_t holds UTF-16
// on Windows and whole code points elsewhere; both are read.
std::string ToUtf8(std::wstring_view text);

// The wide text of UTF-8: UTF-16 on Windows, whole code points elsewhere. Bytes that are not UTF-8
// (and encoded surrogates, and values past U+10FFFF) become U+FFFD, one per byte.
std::wstring FromUtf8(std::string_view text);

// directory, separator, name. No separator is added after an empty directory (a name relative to
// the current directory) or one that already ends in separator or "/" ("/" separates on Windows
// too; "\\" is an ordinary character of a POSIX name).
std::wstring JoinPath(std::wstring_view directory, std::wstring_view name, wchar_t separator = L'\\');

// A-Z become a-z; every other character stays itself, as towlower folds them in the "C" locale.
constexpr char FoldAsciiCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr wchar_t FoldAsciiCase(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// The text with each character folded as above.
std::string FoldAsciiCase(std::string_view text);

// Whether a and b are equal once both are folded as above.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);

// Printable ASCII without blanks (0x21 to 0x7E): what an address, a host or a word of a record may
// hold as it is, one byte or unit a character. The text forms hold for every character of a text
// (and so for an empty one).
constexpr bool IsVisibleAscii(char c) { return c > 0x20 && c < 0x7F; }
constexpr bool IsVisibleAscii(wchar_t c) { return c > 0x20 && c < 0x7F; }
bool IsVisibleAscii(std::string_view text);
bool IsVisibleAscii(std::wstring_view text);

// Printable ASCII with the blank (0x20 to 0x7E): what a header's value may hold to go back into a
// request as it is.
constexpr bool IsPrintableAscii(char c) { return c >= 0x20 && c < 0x7F; }
constexpr bool IsPrintableAscii(wchar_t c) { return c >= 0x20 && c < 0x7F; }
bool IsPrintableAscii(std::string_view text);

enum class UtcPrecision { Seconds, Milliseconds };

// "2026-12-10T12:00:00Z", or with milliseconds "2026-12-10T12:00:00.123Z"; the time is cut, not
// rounded, to the precision. (Milliseconds, not the system clock's own unit: every year a text can
// name, up to 9999, fits them; a clock counting nanoseconds ends in 2262.)
std::string FormatUtcTime(std::chrono::sys_time<std::chrono::milliseconds> time, UtcPrecision precision);

// The moment "YYYY-MM-DDTHH:MM:SSZ" names: exactly that form (upper-case T and Z, two-digit fields,
// a four-digit year from 1970), a date that exists, hours 00 to 23, minutes and seconds 00 to 59.
// Nothing for anything else, so a text read back is the text written.
std::optional<std::chrono::sys_seconds> ParseUtcTime(std::string_view text);

}  // namespace zv
