#pragma once

// What the updaters need of the network: a small document fetched into memory, and a file
// downloaded into a sink the caller holds, each by a plain GET. HttpClient (WinHTTP) is the
// launcher's; the updaters' unit tests stand in for it.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "net/download_sink.h"

namespace zv {

// How one transfer ended. The response's HTTP status and the platform's error code are kept apart:
// a response refused for its status has that status and no error; a failure of a platform call or
// of a check (connecting, TLS, reading, writing the file, a body too large or cut short) has its
// error code, and also the status when a response had arrived before it.
struct TransferResult {
    TransferResult() = default;
    TransferResult(bool complete_, std::uint32_t httpStatus_, std::uint32_t systemError_,
                   std::optional<std::string> retryAfter_ = std::nullopt)
        : complete(complete_), httpStatus(httpStatus_), systemError(systemError_), retryAfter(std::move(retryAfter_)) {}

    // True only for a 2xx response whose body arrived whole.
    bool complete = false;
    // The response's status; 0 when no response arrived or its status could not be read.
    std::uint32_t httpStatus = 0;
    // The error code of the call or check that failed; 0 when none failed.
    std::uint32_t systemError = 0;
    // A refused response's Retry-After header as it came, when it had one (retry.h reads it).
    std::optional<std::string> retryAfter;

    friend bool operator==(const TransferResult&, const TransferResult&) = default;
};

class Transfer {
public:
    virtual ~Transfer() = default;

    // Fetches url and, when complete, replaces body with the whole response body, byte for byte;
    // otherwise body is left as it was.
    virtual TransferResult GetString(const std::wstring& url, std::string& body) = 0;

    // Streams url's body into sink, chunk by chunk as it arrives. When the transfer is not complete
    // the sink holds whatever arrived before it failed; what becomes of it is the caller's.
    // With exactSize, the body must be exactly that long: a response that announces another
    // length fails before its body is read, and the transfer stops as soon as one byte more
    // arrives (nothing past exactSize is written) or when the body ends short.
    virtual TransferResult DownloadTo(const std::wstring& url, DownloadSink& sink,
                                      std::optional<std::uint64_t> exactSize) = 0;
};

}  // namespace zv
