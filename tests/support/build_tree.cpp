#include "build_tree.h"

#include <cstdlib>
#include <string>

namespace zv::test {

namespace fs = std::filesystem;

fs::path HostPath(std::string_view hostPath) {
#ifdef _WIN32
    return fs::path("Z:" + std::string(hostPath)).make_preferred();
#else
    return fs::path(hostPath);
#endif
}

std::optional<fs::path> BuildTreePath(std::string_view relative) {
    const char* binaryDir = std::getenv("ZV_BINARY_DIR");
    if (binaryDir == nullptr || *binaryDir == '\0') {
        return std::nullopt;
    }
    return (HostPath(binaryDir) / fs::path(relative)).make_preferred();
}

}  // namespace zv::test
