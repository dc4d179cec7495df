#pragma once

// What tree_files.cpp needs from the platform besides std::filesystem: how the tool's wide paths
// become std::filesystem paths and back. On Windows a wide path is already the native form
// (tree_files_windows.cpp); elsewhere it goes through UTF-8 (tree_files_posix.cpp), since
// std::filesystem would convert it through the C locale, which knows no characters beyond ASCII.

#include <filesystem>
#include <string>

namespace zv::publish {

std::filesystem::path ToFileSystemPath(const std::wstring& path);
std::wstring FromFileSystemPath(const std::filesystem::path& path);

}  // namespace zv::publish
