#pragma once

// The launcher's only network client: plain synchronous GET requests over WinHTTP. Windows only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "net/download_progress.h"
#include "net/transfer.h"
#include "net/winhttp_library.h"

namespace zv {

class ProxyScript;

// Receives how much of a response body has arrived, and how much is expected: the exact size a
// download was given, else the response's Content-Length, else nothing. Called with 0 once the
// response is accepted, then after every chunk. May be empty.
using ProgressCallback = std::function<void(std::uint64_t received, std::optional<std::uint64_t> expected)>;

// An http or https URL as WinHTTP splits it. The path keeps any query.
struct UrlParts {
    std::wstring host;
    std::wstring path;
    std::uint16_t port = 0;
    bool secure = false;
};

// One WinHTTP session. Every request returns how it ended and never throws. Requests send no
// headers beyond the user agent, go through the run's proxy (run_proxy.h), use the platform's
// time-outs and redirect policy, speak TLS 1.2 or 1.3 only (TLS 1.2 alone where WinHTTP has no
// TLS 1.3), and always verify the server's certificate, through a proxy as without one. Not
// copied; used by one thread.
class HttpClient final : public Transfer {
public:
    // Opens a session as WinHttpOpen does: the handle, or null with the reason in GetLastError. A
    // session comes from WinHttpLibrary's functions, which then serve every request on it.
    using SessionOpener = HINTERNET (*)(const wchar_t* userAgent);

    // Opens the session for the run's proxy. Never fails as such: when the platform refuses
    // (WinHTTP cannot be loaded from System32, does not open the session, or cannot restrict it to
    // TLS 1.2 and 1.3), the client has no session, and every request fails at once, before any
    // traffic, with the reason the session did not open as its systemError.
    HttpClient();
    // The same with another opener in place of the one above (which also restricts the TLS
    // versions), for tests; no proxy script is asked.
    explicit HttpClient(SessionOpener openSession);

    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(session_); }

    // Transfer's GET into memory. Bodies over kMaxBodyInMemory are refused (ERROR_FILE_TOO_LARGE).
    // The URL is split before the session is looked at.
    TransferResult GetString(const std::wstring& url, std::string& text) override;

    // Transfer's download, reported to the DownloadProgress given to ReportDownloadsTo, if any.
    TransferResult DownloadToFile(const std::wstring& url, const std::wstring& targetPath,
                                  std::optional<std::uint64_t> exactSize) override;
    // The same with progress figures. The session is looked at before the URL is split.
    TransferResult DownloadToFile(const std::wstring& url, const std::wstring& targetPath,
                                  std::optional<std::uint64_t> exactSize, const ProgressCallback& progress);

    // Splits an http or https URL; nothing, with the reason in error, for a scheme other than http
    // or https, a malformed URL, a host over 255 or a path over 2047 characters, or when WinHTTP
    // cannot be loaded.
    static std::optional<UrlParts> CrackUrl(const std::wstring& url, std::uint32_t& error);

    // One GET whose body is collected into body. Once a 2xx status has arrived, body is cleared and
    // then holds what arrived, even when the transfer fails later; a failure before that leaves it
    // as it was. Complete only when the body arrived whole: as long as its Content-Length says,
    // when it gives one, and no longer than kMaxBodyInMemory.
    TransferResult GetBytes(const UrlParts& url, std::string& body, const ProgressCallback& progress);

    // Where Transfer's downloads report how far they have got from now on; null for nowhere.
    void ReportDownloadsTo(DownloadProgress* downloads) { downloads_ = downloads; }

    // Closes the session; harmless when it is already closed. Later requests fail at once with
    // ERROR_INVALID_HANDLE.
    void Close() noexcept;

    // What a body must be: no longer than limit bytes in any case, and with exactSize exactly that
    // long (transfer.h).
    struct BodyRule {
        std::uint64_t limit = 0;
        std::optional<std::uint64_t> exactSize;
    };

private:
    // GetBytes, also giving the address of the last redirect WinHTTP followed, or empty.
    TransferResult GetBytes(const UrlParts& url, std::string& body, const ProgressCallback& progress,
                            std::wstring& redirectedTo);
    // DownloadToFile without its log line; bytesWritten counts what reached the file, redirectedTo
    // is as for GetBytes.
    TransferResult Download(const std::wstring& url, const std::wstring& targetPath, const BodyRule& rule,
                            const ProgressCallback& progress, std::uint64_t& bytesWritten, std::wstring& redirectedTo);

    UniqueInternet session_;
    // The run's proxy script, when the run uses one: it names each request's proxy.
    ProxyScript* script_ = nullptr;
    DownloadProgress* downloads_ = nullptr;
    // Why there is no session: the reason it did not open, or ERROR_INVALID_HANDLE once closed.
    std::uint32_t noSessionError_ = 0;
};

}  // namespace zv
