#pragma once

// An http or https URL split as WinHTTP splits it, for the requests of the client. Windows only.

#include <cstdint>
#include <optional>
#include <string>

namespace zv {

struct UrlParts {
    std::wstring host;
    std::wstring path;  // keeps any query
    std::uint16_t port = 0;
    bool secure = false;
};

// Splits an http or https URL; nothing, with the reason in error, for a scheme other than http or
// https, a malformed URL, a host over 255 or a path over 2047 characters, or when WinHTTP cannot be
// loaded.
std::optional<UrlParts> CrackUrl(const std::wstring& url, std::uint32_t& error);

}  // namespace zv
