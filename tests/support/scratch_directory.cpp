#include "scratch_directory.h"

#include <random>
#include <string>

namespace zv::test {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory() : ScratchDirectory(fs::temp_directory_path()) {}

ScratchDirectory::ScratchDirectory(const fs::path& base) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    // A name nobody else holds: create_directory reports a folder that is already there.
    for (;;) {
        const fs::path candidate = base / ("zv-scratch-" + std::to_string(random() % 1000000000000ULL));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

}  // namespace zv::test
