#pragma once

// Paths for a build without Windows: the launcher keeps paths wide from end to end, and only the
// last step before a POSIX call turns them into UTF-8.

#include <string>
#include <string_view>

namespace zv {

// UTF-8 form of a wide path (wchar_t holds whole code points on these platforms).
std::string ToNativePath(std::wstring_view path);

// The wide form of a UTF-8 path; bytes that are not UTF-8 become U+FFFD.
std::wstring FromNativePath(std::string_view path);

}  // namespace zv
