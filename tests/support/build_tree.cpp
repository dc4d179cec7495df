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

namespace {

std::optional<fs::path> TreePath(const char* variable, std::string_view relative) {
    const char* dir = std::getenv(variable);
    if (dir == nullptr || *dir == '\0') {
        return std::nullopt;
    }
    return (HostPath(dir) / fs::path(relative)).make_preferred();
}

}  // namespace

std::optional<fs::path> BuildTreePath(std::string_view relative) { return TreePath("ZV_BINARY_DIR", relative); }

std::optional<fs::path> SourceTreePath(std::string_view relative) { return TreePath("ZV_SOURCE_DIR", relative); }

}  // namespace zv::test
