#pragma once

// Owners for the Windows handle kinds the launcher opens. Windows only.

#include <windows.h>

#include "common/unique_resource.h"

namespace zv {

namespace detail {

// Runs a release function without disturbing the thread's last error.
template <auto Release>
struct PreserveLastError {
    template <typename T>
    void operator()(T value) const noexcept {
        const DWORD saved = ::GetLastError();
        Release(value);
        ::SetLastError(saved);
    }
};

inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
// A mutex this thread owns: let go of, then closed.
inline void ReleaseAndCloseMutex(HANDLE h) noexcept {
    ::ReleaseMutex(h);
    ::CloseHandle(h);
}
inline void CloseFindHandle(HANDLE h) noexcept { ::FindClose(h); }
inline void CloseRegistryKey(HKEY h) noexcept { ::RegCloseKey(h); }
inline void FreeLoadedLibrary(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void FreeLocal(HLOCAL h) noexcept { ::LocalFree(h); }
inline void FreeGlobalText(wchar_t* text) noexcept { ::GlobalFree(text); }

inline HANDLE NullHandle() noexcept { return nullptr; }
// Kernel handles are answered as "nothing" by null from most calls and by INVALID_HANDLE_VALUE from
// CreateFileW and FindFirstFileW: both owners below count either as nothing, whichever they hold
// when empty. (The current process's pseudo-handle has the value of INVALID_HANDLE_VALUE; it is
// never owned.)
inline bool IsKernelHandle(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
inline HANDLE InvalidHandle() noexcept { return INVALID_HANDLE_VALUE; }
inline HKEY NullKey() noexcept { return nullptr; }
inline HMODULE NullModule() noexcept { return nullptr; }
inline HLOCAL NullLocal() noexcept { return nullptr; }
inline wchar_t* NullText() noexcept { return nullptr; }

}  // namespace detail

// Kernel objects whose calls answer null for nothing: processes, threads, events, mutexes, tokens.
using UniqueHandle = UniqueResource<HANDLE, detail::PreserveLastError<detail::CloseKernelHandle>, detail::NullHandle,
                                    detail::IsKernelHandle>;
// Files from CreateFileW, which answers INVALID_HANDLE_VALUE for nothing.
using UniqueFile = UniqueResource<HANDLE, detail::PreserveLastError<detail::CloseKernelHandle>, detail::InvalidHandle,
                                  detail::IsKernelHandle>;
// Searches from FindFirstFileW.
using UniqueFind = UniqueResource<HANDLE, detail::PreserveLastError<detail::CloseFindHandle>, detail::InvalidHandle,
                                  detail::IsKernelHandle>;
using UniqueRegKey = UniqueResource<HKEY, detail::PreserveLastError<detail::CloseRegistryKey>, detail::NullKey>;
// Libraries loaded with LoadLibraryExW.
using UniqueModule = UniqueResource<HMODULE, detail::PreserveLastError<detail::FreeLoadedLibrary>, detail::NullModule>;
using UniqueLocal = UniqueResource<HLOCAL, detail::PreserveLastError<detail::FreeLocal>, detail::NullLocal>;
// Text a platform call allocated with GlobalAlloc for the caller to free (WinHTTP's proxy settings).
using UniqueGlobalText = UniqueResource<wchar_t*, detail::PreserveLastError<detail::FreeGlobalText>, detail::NullText>;
// A mutex the thread holding the owner has acquired.
using UniqueOwnedMutex = UniqueResource<HANDLE, detail::PreserveLastError<detail::ReleaseAndCloseMutex>,
                                        detail::NullHandle, detail::IsKernelHandle>;

// The two handles CreateProcessW hands back for a started process, closed together.
// CreateProcessW writes the structure only when it succeeds.
class UniqueProcessInformation {
public:
    UniqueProcessInformation() = default;
    UniqueProcessInformation(const UniqueProcessInformation&) = delete;
    UniqueProcessInformation& operator=(const UniqueProcessInformation&) = delete;
    ~UniqueProcessInformation() { reset(); }

    // For CreateProcessW's last argument: releases what is owned and gives the structure to fill.
    [[nodiscard]] PROCESS_INFORMATION* put() noexcept {
        reset();
        return &info_;
    }

    void reset() noexcept {
        UniqueHandle thread(info_.hThread);
        UniqueHandle process(info_.hProcess);
        info_ = PROCESS_INFORMATION{};
    }

    [[nodiscard]] HANDLE process() const noexcept { return info_.hProcess; }
    [[nodiscard]] HANDLE thread() const noexcept { return info_.hThread; }

private:
    PROCESS_INFORMATION info_{};
};

}  // namespace zv
