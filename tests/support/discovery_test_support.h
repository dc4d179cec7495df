#pragma once

// What the discovery tests and benchmarks share besides scratch folders and whole files: paths in
// the form discovery builds them, and the real PE files the test build makes with mingw-w64.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zv::test {

// path as discovery writes paths: the parts joined by "\" (the POSIX stand-in maps them back).
std::wstring DiscoveryPath(const std::filesystem::path& path);

// One of the real PE files the test build makes under its binary folder (fixtures/discovery, see
// tests/fixtures/discovery); nothing when this build has none (no mingw-w64 on the machine) or
// ZV_BINARY_DIR is not set.
std::optional<std::filesystem::path> RealFixture(std::string_view name);

}  // namespace zv::test
