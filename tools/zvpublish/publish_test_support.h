#pragma once

// Small helpers of the publishing tool's tests.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "digest_text.h"
#include "publish.h"
#include "tree_files.h"

namespace zv::publish {

using zv::test::Sha1Hex;

inline std::string KeyOf(const std::filesystem::path& target) { return ToUtf8(ComputeBuildKey(target.wstring()).key); }

// The names in a folder, sorted.
inline std::vector<std::string> EntriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A file's modification time, set to a moment a test fixes (never the clock's) and read back.
inline void SetModified(const std::filesystem::path& path, FileTime time) {
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(time));
}
inline FileTime ModifiedAt(const std::filesystem::path& path) {
    return std::chrono::time_point_cast<FileTime::duration>(
        std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path)));
}

}  // namespace zv::publish
