#pragma once

// What the tests and the test tools reach of HttpClient beyond the launcher's contract: a client on
// another session opener, whether its session is open, closing it, and its transfers with progress
// figures. Only the test support library has this folder on its include path, so the launcher's
// own code cannot include it. Windows only.

#include <cstdint>
#include <optional>
#include <string>

#include "net/http_client.h"

namespace zv::test {

class HttpClientProbe {
public:
    // Opens a session as WinHttpOpen does (HttpClient's own opener also restricts the TLS versions).
    using SessionOpener = HttpClient::SessionOpener;
    // Told how much of a body has arrived and how much is expected (see HttpClient).
    using ProgressCallback = HttpClient::ProgressCallback;

    // A client whose session comes from openSession; no proxy script is asked.
    static HttpClient WithSessionOpener(SessionOpener openSession) { return HttpClient(openSession); }

    static bool IsOpen(const HttpClient& client) { return client.IsOpen(); }

    // Closes the client's session; harmless when it is already closed. Later requests fail at once
    // with ERROR_INVALID_HANDLE.
    static void Close(HttpClient& client) noexcept { client.Close(); }

    // GetString, telling progress how far the body has got. body is replaced only by a complete
    // transfer, as by GetString.
    static TransferResult GetString(HttpClient& client, const std::wstring& url, std::string& body,
                                    const ProgressCallback& progress) {
        return client.Get(url, body, progress);
    }

    // DownloadToFile, telling progress how far the body has got instead of the client's
    // DownloadProgress.
    static TransferResult DownloadToFile(HttpClient& client, const std::wstring& url, const std::wstring& targetPath,
                                         std::optional<std::uint64_t> exactSize, const ProgressCallback& progress) {
        return client.DownloadFile(url, targetPath, exactSize, progress);
    }
};

}  // namespace zv::test
