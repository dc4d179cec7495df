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
class RunProxy;

// One WinHTTP session. Every request returns how it ended and never throws. Requests send no
// headers beyond the user agent (and, to resume a download, Range and If-Range), go through the
// run's proxy (run_proxy.h), wait at most 10 s to connect and 15 s for each byte of an answer
// (transfer_rules.h), follow the platform's redirect policy, speak TLS 1.2 or 1.3 only (TLS 1.2
// alone where WinHTTP has no TLS 1.3), and always verify the server's certificate, through a proxy
// as without one. A request is made once: RetryingTransfer (retrying_transfer.h) tries again. Not
// copied; used by one thread. Each request looks at the session before it splits the URL.
class HttpClient final : public Transfer {
public:
    // Opens a session as WinHttpOpen does: the handle, or null with the reason in GetLastError. A
    // session comes from WinHttpLibrary's functions, which then serve every request on it.
    using SessionOpener = std::function<HINTERNET(const wchar_t* userAgent)>;

    // A client on the session openSession gives it; with script, each request is told the proxy the
    // script names for its origin. The composition root hands in RunSessionOpener of the run's
    // proxy and the proxy's script; a test may hand in another opener. Never fails as such: when the
    // opener refuses, the client has no session, and every request fails at once, before any
    // traffic, with the reason the session did not open as its systemError.
    HttpClient(const SessionOpener& openSession, ProxyScript* script);

    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Transfer's GET into memory: text is replaced only by a complete transfer, and otherwise left
    // as it was. Bodies over kMaxBodyInMemory are refused (ERROR_FILE_TOO_LARGE). Not reported as a
    // download.
    TransferResult GetString(const std::wstring& url, std::string& text) override;

    // Transfer's download into a sink, reported to the DownloadProgress given to ReportDownloadsTo,
    // if any. What the sink holds of an earlier answer (download_sink.h) is not asked for again:
    // only the rest, with Range and If-Range, and a 206 that is exactly that rest is appended; any
    // other accepted answer starts the sink over. A sink that holds a whole answer already is
    // complete without a request.
    TransferResult DownloadTo(const std::wstring& url, DownloadSink& sink,
                              std::optional<std::uint64_t> exactSize) override;

    // The same download into the file at targetPath, which is opened for writing without sharing
    // (created or truncated) before any network traffic. When the transfer is not complete the file
    // is left as it was if the session or url cannot serve or the file cannot be opened, stays
    // empty if no response arrived, and is deleted if the status was refused or the body failed.
    // For tools that fetch one file; the launcher's updaters download into files they hold.
    TransferResult DownloadToFile(const std::wstring& url, const std::wstring& targetPath,
                                  std::optional<std::uint64_t> exactSize);

    // Where downloads report how far they have got from now on (DownloadProgress: when one begins,
    // how many bytes of how many have arrived after every part of the body, when it ends, on every
    // way out); null for nowhere.
    void ReportDownloadsTo(DownloadProgress* downloads) { downloads_ = downloads; }

    // Whether the session opened (and has not been closed).
    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(session_); }

    // Closes the session; harmless when it is already closed. Later requests fail at once with
    // ERROR_INVALID_HANDLE.
    void Close() noexcept;

private:
    // DownloadTo and DownloadToFile, each with its log line, telling progress (when not null) how far
    // the body has got.
    TransferResult Download(const std::wstring& url, DownloadSink& sink, std::optional<std::uint64_t> exactSize,
                            DownloadProgress* progress);
    TransferResult DownloadFile(const std::wstring& url, const std::wstring& targetPath,
                                std::optional<std::uint64_t> exactSize, DownloadProgress* progress);
    // Runs download(progress) with progress reported to downloads_, when there is one, from its
    // beginning to its end on every way out.
    template <typename Run>
    TransferResult Reported(Run&& download);

    UniqueInternet session_;
    // The run's proxy script, when the run uses one: it names each request's proxy.
    ProxyScript* script_ = nullptr;
    DownloadProgress* downloads_ = nullptr;
    // Why there is no session: the reason it did not open, or ERROR_INVALID_HANDLE once closed.
    std::uint32_t noSessionError_ = 0;
};

// The run's sessions: WinHttpOpen for proxy's choice (run_proxy.h), restricted to TLS 1.2 and 1.3
// and with bounded waits. A library that could not be loaded, and a session that cannot be
// restricted or bounded, count as a session that did not open.
HttpClient::SessionOpener RunSessionOpener(const RunProxy& proxy);

}  // namespace zv
