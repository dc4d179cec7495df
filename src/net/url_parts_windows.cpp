#include <windows.h>
#include <winhttp.h>

#include <array>
#include <vector>

#include "net/url_parts.h"
#include "net/winhttp_library.h"

namespace zv {

std::optional<UrlParts> CrackUrl(const std::wstring& url, std::uint32_t& error) {
    const WinHttpFunctions* winhttp = WinHttpLibrary::Get().functions();
    if (!winhttp) {
        error = WinHttpLibrary::Get().error();
        return std::nullopt;
    }
    std::array<wchar_t, 256> hostBuffer{};
    std::vector<wchar_t> pathBuffer(2048);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = hostBuffer.data();
    parts.dwHostNameLength = static_cast<DWORD>(hostBuffer.size());
    parts.lpszUrlPath = pathBuffer.data();
    parts.dwUrlPathLength = static_cast<DWORD>(pathBuffer.size());
    if (!winhttp->crackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        error = ::GetLastError();
        return std::nullopt;
    }
    return UrlParts{hostBuffer.data(), pathBuffer.data(), parts.nPort, parts.nScheme == INTERNET_SCHEME_HTTPS};
}

}  // namespace zv
