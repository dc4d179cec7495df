#pragma once

// The file-system calls target discovery makes, kept thin so the discovery logic builds and runs
// on any platform. On Windows each one is the Win32 call of the same purpose; a build without
// Windows stands in for them (see discovery_platform_posix.cpp).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/read_only_file.h"

namespace zv {

// The attribute bits discovery looks at, with their Win32 values.
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;       // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;   // FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES

struct DirectoryEntry {
    // Valid until the next call of Next or the end of the search.
    std::wstring_view name;
    std::uint32_t attributes = 0;
};

// One directory listing: FindFirstFileW / FindNextFileW / FindClose. The pattern is a directory
// prefix followed by "*" (or "*" alone for the current directory). Entries come in the platform's
// order, "." and ".." included where the platform reports them.
class DirectorySearch {
public:
    explicit DirectorySearch(const std::wstring& pattern);
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    // False once the listing is exhausted, or when the directory could not be listed at all.
    bool Next(DirectoryEntry& entry);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// GetFileAttributesW: the attribute bits of path, or kInvalidFileAttributes when it does not exist
// or cannot be queried (the empty path included).
std::uint32_t QueryFileAttributes(const std::wstring& path);

// Opens a candidate file for reading, shared with readers only.
ReadOnlyFile OpenForReading(const std::wstring& path);

}  // namespace zv
