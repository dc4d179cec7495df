#pragma once

// WinHTTP as the client calls it: loaded at run time from System32 and from nowhere else. The
// launcher never imports WINHTTP.dll: it is not a KnownDLL, so Windows would look for it in the
// launcher's own folder first, before the entry point could restrict the search. Windows only.

#include <windows.h>
#include <winhttp.h>

#include "common/unique_handle.h"

namespace zv {

// What every WinHTTP session of the launcher calls itself: the client's and the proxy script's.
inline constexpr wchar_t kUserAgent[] = L"Zarnovelle HTTP Client/1.0";

// The WinHTTP functions the client calls, typed as winhttp.h declares them.
struct WinHttpFunctions {
    decltype(&::WinHttpOpen) open = nullptr;
    decltype(&::WinHttpSetOption) setOption = nullptr;
    decltype(&::WinHttpSetTimeouts) setTimeouts = nullptr;
    decltype(&::WinHttpSetStatusCallback) setStatusCallback = nullptr;
    decltype(&::WinHttpCrackUrl) crackUrl = nullptr;
    decltype(&::WinHttpConnect) connect = nullptr;
    decltype(&::WinHttpOpenRequest) openRequest = nullptr;
    decltype(&::WinHttpSendRequest) sendRequest = nullptr;
    decltype(&::WinHttpReceiveResponse) receiveResponse = nullptr;
    decltype(&::WinHttpQueryHeaders) queryHeaders = nullptr;
    decltype(&::WinHttpQueryDataAvailable) queryDataAvailable = nullptr;
    decltype(&::WinHttpReadData) readData = nullptr;
    decltype(&::WinHttpCloseHandle) closeHandle = nullptr;
    // The proxy settings (proxy_settings.h).
    decltype(&::WinHttpGetDefaultProxyConfiguration) getDefaultProxyConfiguration = nullptr;
    decltype(&::WinHttpGetIEProxyConfigForCurrentUser) getIEProxyConfigForCurrentUser = nullptr;
    decltype(&::WinHttpGetProxyForUrl) getProxyForUrl = nullptr;
};

// System32's winhttp.dll with its functions, loaded by the first call of Get (which is
// thread-safe) and kept until the process ends.
class WinHttpLibrary {
public:
    static const WinHttpLibrary& Get() noexcept;

    WinHttpLibrary(const WinHttpLibrary&) = delete;
    WinHttpLibrary& operator=(const WinHttpLibrary&) = delete;

    // Null when the library could not be loaded or lacks one of the functions; error() then says
    // why, as the failed call reported it. It is not tried again.
    [[nodiscard]] const WinHttpFunctions* functions() const noexcept { return module_ ? &functions_ : nullptr; }
    [[nodiscard]] DWORD error() const noexcept { return error_; }

private:
    WinHttpLibrary() noexcept;

    UniqueModule module_;
    WinHttpFunctions functions_;
    DWORD error_ = 0;
};

namespace detail {

// A WinHTTP handle exists only once the library has loaded, so its functions are there to close it.
inline void CloseInternetHandle(HINTERNET h) noexcept { WinHttpLibrary::Get().functions()->closeHandle(h); }
inline HINTERNET NullInternet() noexcept { return nullptr; }

}  // namespace detail

// Sessions, connections and requests.
using UniqueInternet =
    UniqueResource<HINTERNET, detail::PreserveLastError<detail::CloseInternetHandle>, detail::NullInternet>;

}  // namespace zv
