#pragma once

#include <filesystem>

namespace zv::test {

// A fresh, empty folder of its own for one test (or one fuzzing or benchmark run), removed with
// all it holds when the object goes. Made under the system's temporary folder, or under base.
// Throws std::filesystem::filesystem_error when no folder can be made there.
class ScratchDirectory {
public:
    ScratchDirectory();
    explicit ScratchDirectory(const std::filesystem::path& base);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace zv::test
