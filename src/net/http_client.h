#pragma once

// The launcher's only network client: plain synchronous GET requests over WinHTTP. Windows only.

#include <cstdint>
#include <functional>
#include <string>

#include "net/winhttp_library.h"

namespace zv {

// Receives the share of a response body received so far, in percent: 0.0 once the response is
// accepted, then the running figure after every chunk. Called only when the response announces a
// nonzero Content-Length. May be empty.
using ProgressCallback = std::function<void(float)>;

// One WinHTTP session with the code of its most recent failure. Every operation returns a success
// flag and never throws; on failure lastError says why. Requests send no headers beyond the user
// agent, use the system's default proxy, time-outs and redirect policy, speak TLS 1.2 or 1.3 only
// (TLS 1.2 alone where WinHTTP has no TLS 1.3), and always verify the server's certificate. Not
// copied; used by one thread.
class HttpClient {
public:
    // Opens a session as WinHttpOpen does: the handle, or null with the reason in GetLastError. A
    // session comes from WinHttpLibrary's functions, which then serve every request on it.
    using SessionOpener = HINTERNET (*)(const wchar_t* userAgent);

    // Opens the session. Never fails as such: when the platform refuses (WinHTTP cannot be loaded
    // from System32, does not open the session, or cannot restrict it to TLS 1.2 and 1.3),
    // session stays null, lastError holds the reason, and every request fails at once and leaves
    // lastError as it is.
    HttpClient();
    // The same with another opener in place of the one above (which also restricts the TLS
    // versions), for tests.
    explicit HttpClient(SessionOpener openSession);

    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Fetches url and, on true, replaces text with the whole body, byte for byte. On false text is
    // left as it was. Bodies over kMaxBodyInMemory are refused.
    bool GetString(const std::wstring& url, std::string& text);

    // Splits an http or https URL. The path keeps any query. On false the outputs are left as they
    // were: a scheme other than http or https, a malformed URL, a host over 255 or a path over
    // 2047 characters.
    bool CrackUrl(const std::wstring& url, std::wstring& host, std::wstring& path, std::uint16_t& port, bool& secure);

    // One GET whose body is collected into body. Once the status is accepted, body is cleared and
    // then holds what arrived, even when the transfer fails later; a failure before that leaves it
    // as it was. True only for a 2xx response whose body arrived whole: as long as its
    // Content-Length says, when it gives one, and no longer than kMaxBodyInMemory.
    bool GetBytes(const std::wstring& host, const std::wstring& path, std::uint16_t port, bool secure,
                  std::string& body, ProgressCallback progress);

    // One GET whose body is streamed into the file at targetPath, opened for writing without
    // sharing (created or truncated) before any network traffic. True only when a 2xx body arrived
    // whole (no size limit). On false the file is left as it was when the URL cannot be split or
    // the file cannot be opened, stays empty when no response arrived, and is deleted when the
    // status was refused or the body failed.
    bool DownloadToFile(const std::wstring& url, const std::wstring& targetPath, ProgressCallback progress);

    // Closes the session; harmless when it is already closed. Later requests fail at once.
    void Close() noexcept;

    UniqueInternet session;
    // 0 until the first failure, then the code of the latest one: the HTTP status for a refused
    // status (0 when it could not be read), otherwise the platform's error code.
    std::uint32_t lastError = 0;
};

}  // namespace zv
