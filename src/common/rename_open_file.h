#pragma once

// Renaming a file through a handle the caller holds open (with DELETE access), so that it is the
// file that handle refers to that moves, whatever the names around it do meanwhile. Windows only.

#include <windows.h>

#include <string>

namespace zv {

// Renames the open file to target (a full path on the same volume), replacing a file of that name
// when replace says so. False with the reason in GetLastError when it did not happen.
bool RenameOpenFile(HANDLE file, const std::wstring& target, bool replace);

}  // namespace zv
