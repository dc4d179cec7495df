#pragma once

// The version Windows reports of itself. Windows only.

#include <windows.h>

#include <optional>

#include "common/system_library.h"

namespace zv {

struct WindowsVersion {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;

    [[nodiscard]] bool AtLeast(DWORD wantedMajor, DWORD wantedMinor) const {
        return major > wantedMajor || (major == wantedMajor && minor >= wantedMinor);
    }
};

// RtlGetVersion: unlike GetVersionExW, no compatibility shim changes what it says. Nothing when
// it cannot be asked.
inline std::optional<WindowsVersion> ReadWindowsVersion() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    RtlGetVersionFunction getVersion = nullptr;
    if (ntdll == nullptr || !ResolveExport(ntdll, "RtlGetVersion", getVersion)) {
        return std::nullopt;
    }
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (getVersion(&info) != 0) {
        return std::nullopt;
    }
    return WindowsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

}  // namespace zv
