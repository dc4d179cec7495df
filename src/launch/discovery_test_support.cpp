#include "launch/discovery_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace zv::test {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path candidate = base / ("zv-discovery-" + std::to_string(random() % 1000000000000ULL));
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

std::wstring DiscoveryPath(const fs::path& path) {
    std::wstring text = path.wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}

std::optional<fs::path> RealFixture(std::string_view name) {
    const char* binaryDir = std::getenv("ZV_BINARY_DIR");
    if (binaryDir == nullptr || *binaryDir == '\0') {
        return std::nullopt;
    }
#ifdef _WIN32
    // ctest hands over the host's path; under Wine the host's root is drive Z:.
    std::string host = binaryDir;
    std::replace(host.begin(), host.end(), '/', '\\');
    fs::path path = fs::path("Z:" + host) / "fixtures" / "discovery" / fs::path(name);
#else
    fs::path path = fs::path(binaryDir) / "fixtures" / "discovery" / fs::path(name);
#endif
    std::error_code error;
    if (!fs::exists(path, error)) {
        return std::nullopt;
    }
    return path;
}

void WriteFileBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::uint8_t> ReadFileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace zv::test
