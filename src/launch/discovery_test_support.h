#pragma once

// Test-only helpers shared by the discovery tests and benchmarks: scratch folders, paths in the
// form discovery builds them, and the real PE files the test build makes with mingw-w64.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::test {

// A fresh, empty folder under the system's temporary folder, removed with all it holds when the
// object goes.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// path as discovery writes paths: the parts joined by "\" (the POSIX stand-in maps them back).
std::wstring DiscoveryPath(const std::filesystem::path& path);

// One of the real PE files the test build makes under its binary folder (fixtures/discovery);
// nothing when this build has none (no mingw-w64 on the machine) or ZV_BINARY_DIR is not set.
std::optional<std::filesystem::path> RealFixture(std::string_view name);

// Writes bytes to a new file (or replaces one); throws std::runtime_error on failure.
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// The whole content of a file; throws std::runtime_error when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

}  // namespace zv::test
