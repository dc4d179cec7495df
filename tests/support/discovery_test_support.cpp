#include "discovery_test_support.h"

#include <algorithm>
#include <string>

#include "build_tree.h"

namespace zv::test {

namespace fs = std::filesystem;

std::wstring DiscoveryPath(const fs::path& path) {
    std::wstring text = path.wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}

std::optional<fs::path> RealFixture(std::string_view name) {
    const std::optional<fs::path> path = BuildTreePath("fixtures/discovery/" + std::string(name));
    std::error_code error;
    if (!path || !fs::exists(*path, error)) {
        return std::nullopt;
    }
    return path;
}

}  // namespace zv::test
