#pragma once

// Paths of the build tree as a test program sees them. ctest tells a test program where the build
// tree is (ZV_BINARY_DIR, see zv_add_tests) as a path of the host; a Windows test program under
// Wine sees the host's root as drive Z:.

#include <filesystem>
#include <optional>
#include <string_view>

namespace zv::test {

// A path of the host as this program sees it: itself natively, on drive Z: under Wine.
std::filesystem::path HostPath(std::string_view hostPath);

// relative (parts separated by "/") under the build tree; nothing when ZV_BINARY_DIR is not set
// (the program was not started by ctest).
std::optional<std::filesystem::path> BuildTreePath(std::string_view relative);

// The same under the source tree (ZV_SOURCE_DIR).
std::optional<std::filesystem::path> SourceTreePath(std::string_view relative);

}  // namespace zv::test
