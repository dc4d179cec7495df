#pragma once

// Libraries that are not KnownDLLs, loaded at run time from System32 and from nowhere else: an
// import of one would let Windows look for it in the launcher's own folder first. Windows only.

#include <windows.h>

#include "common/unique_handle.h"

namespace zv {

// System32's library name, never one from the launcher's folder or the current directory.
inline UniqueModule LoadSystemLibrary(const wchar_t* name) noexcept {
    return UniqueModule(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// Fills slot with the export name of module. GetProcAddress gives every export one generic type;
// slot's type, from the library's header, is the real one. False, and a null slot, when module
// has no such export.
template <typename Function>
bool ResolveExport(HMODULE module, const char* name, Function& slot) noexcept {
    const FARPROC address = ::GetProcAddress(module, name);
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

}  // namespace zv
