#pragma once

// The log line of one transfer (common/log.h): the URL, how the transfer ended (the HTTP status,
// or the WinHTTP or system error with its name), the bytes received and the time taken. Support
// reads the cause of a failed run from it: a name that does not resolve, a proxy or certificate
// problem, a refused status, a body cut short.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/transfer.h"

namespace zv {

// The constant's name of an error code a transfer reports (ERROR_WINHTTP_... for WinHTTP's own,
// ERROR_... for the system's the client meets); "unknown" for any other.
std::string_view TransferErrorName(std::uint32_t code);

// For example:
//   GET https://h/launcher/manifest.json -> HTTP 200, 352 bytes in 12 ms
//   GET https://h/stub/0a1b.../manifest.json -> HTTP 404, 162 bytes in 9 ms
//   GET https://h/launcher/manifest.json -> error 12029 ERROR_WINHTTP_CANNOT_CONNECT, 0 bytes in 1003 ms
//   GET https://h/launcher/manifest.json -> HTTP 407 (the proxy asks for credentials), 0 bytes in 8 ms
//   GET https://h/stub/0a1b.../ZVClient-....dll -> HTTP 200, then error 12030 ERROR_WINHTTP_CONNECTION_ERROR,
//       1000 bytes in 30 ms
// redirectedTo, when the request was redirected, is the address of the last redirect:
//   GET https://h/launcher/ZVLauncher-....exe -> redirected to https://cdn/..., HTTP 200, ...
std::string DescribeTransfer(std::wstring_view url, const TransferResult& result, std::uint64_t bytes,
                             std::int64_t milliseconds, std::wstring_view redirectedTo = {});

}  // namespace zv
