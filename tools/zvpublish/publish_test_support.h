#pragma once

// Small helpers of the publishing tool's tests.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "integrity/sha1.h"
#include "publish.h"
#include "tree_files.h"

namespace zv::publish {

// The lower-case hex SHA-1 of bytes, from the SHA-1 core alone.
inline std::string Sha1Hex(const std::vector<std::uint8_t>& bytes) {
    Sha1Context context;
    Sha1Init(context);
    Sha1Update(context, bytes.data(), bytes.size());
    return ToUtf8(DigestToHex(Sha1Final(context)));
}

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

}  // namespace zv::publish
