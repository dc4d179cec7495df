#include <windows.h>
#include <winhttp.h>

#include <array>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/http_client.h"
#include "net/transfer_rules.h"

// Older SDK headers lack TLS 1.3.
#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace zv {

namespace {

constexpr wchar_t kUserAgent[] = L"Zarnovelle HTTP Client/1.0";

// The library's functions, or null with the reason it could not be loaded in lastError.
const WinHttpFunctions* Functions(std::uint32_t& lastError) {
    const WinHttpLibrary& library = WinHttpLibrary::Get();
    if (!library.functions()) {
        lastError = library.error();
    }
    return library.functions();
}

// The functions of an open session: a session exists only once the library has loaded.
const WinHttpFunctions& SessionFunctions() { return *WinHttpLibrary::Get().functions(); }

static_assert(kSecureProtocolTls12 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2);
static_assert(kSecureProtocolTls13 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3);
static_assert(kProtocolsNotSupported == ERROR_INVALID_PARAMETER);

// A session of the default proxy that speaks TLS 1.2 or 1.3 only. A library that could not be
// loaded, and a session that cannot be restricted, count as a session that did not open.
HINTERNET OpenWinHttpSession(const wchar_t* userAgent) {
    const WinHttpLibrary& library = WinHttpLibrary::Get();
    const WinHttpFunctions* winhttp = library.functions();
    if (!winhttp) {
        ::SetLastError(library.error());
        return nullptr;
    }
    UniqueInternet session(
        winhttp->open(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return nullptr;
    }
    const auto setProtocols = [&](std::uint32_t flags, std::uint32_t& error) {
        DWORD protocols = flags;
        if (winhttp->setOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
            return true;
        }
        error = ::GetLastError();
        return false;
    };
    std::uint32_t error = 0;
    if (!RestrictToTls12And13(setProtocols, error)) {
        session.reset();
        ::SetLastError(error);
        return nullptr;
    }
    return session.release();
}

// How far one GET got.
enum class Outcome {
    Complete,    // a 2xx response whose body reached the sink whole
    NoResponse,  // connecting, creating the request, sending it or receiving the response failed
    Refused,     // the status was outside 200..299
    BodyFailed,  // reading, the sink or the body's length failed
};

DWORD QueryNumber(const WinHttpFunctions& winhttp, HINTERNET request, DWORD query) {
    // The call's own result does not matter: a value that cannot be read stays 0.
    DWORD value = 0;
    DWORD size = sizeof value;
    winhttp.queryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                         WINHTTP_NO_HEADER_INDEX);
    return value;
}

bool HasHeader(const WinHttpFunctions& winhttp, HINTERNET request, DWORD query) {
    DWORD size = 0;
    winhttp.queryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                         WINHTTP_NO_HEADER_INDEX);
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// A header's value; empty when it is absent or too long to be a sensible Content-Length.
std::optional<std::wstring> QueryText(const WinHttpFunctions& winhttp, HINTERNET request, DWORD query) {
    std::array<wchar_t, 64> value{};
    DWORD size = sizeof value;
    if (!winhttp.queryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                              WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    return std::wstring(value.data(), size / sizeof(wchar_t));
}

// One GET on session. Each chunk of the body, exactly as large as WinHTTP reports available, goes
// to sink(data, size), which returns false (having stored the reason in lastError) to stop. The
// request handle is closed before the connection on every path out.
template <typename Sink>
Outcome Fetch(const WinHttpFunctions& winhttp, HINTERNET session, const std::wstring& host, const std::wstring& path,
              std::uint16_t port, bool secure, std::uint64_t bodyLimit, const ProgressCallback& progress,
              std::uint32_t& lastError, Sink&& sink) {
    const UniqueInternet connection(winhttp.connect(session, host.c_str(), port, 0));
    if (!connection) {
        lastError = ::GetLastError();
        return Outcome::NoResponse;
    }
    const UniqueInternet request(winhttp.openRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        lastError = ::GetLastError();
        return Outcome::NoResponse;
    }
    if (!winhttp.sendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !winhttp.receiveResponse(request.get(), nullptr)) {
        lastError = ::GetLastError();
        return Outcome::NoResponse;
    }

    const DWORD status = QueryNumber(winhttp, request.get(), WINHTTP_QUERY_STATUS_CODE);
    if (!IsSuccessStatus(status)) {
        lastError = status;
        return Outcome::Refused;
    }
    const bool chunked = HasHeader(winhttp, request.get(), WINHTTP_QUERY_TRANSFER_ENCODING);
    const std::optional<std::wstring> contentLength = QueryText(winhttp, request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
    const std::optional<std::uint64_t> announced = AnnouncedBodyLength(status, chunked, contentLength);
    const bool reportProgress = progress && announced.value_or(0) != 0;
    if (reportProgress) {
        progress(0.0f);
    }

    std::uint64_t received = 0;
    std::vector<char> chunk;
    for (;;) {
        DWORD available = 0;
        if (!winhttp.queryDataAvailable(request.get(), &available)) {
            lastError = ::GetLastError();
            return Outcome::BodyFailed;
        }
        if (available == 0) {
            break;
        }
        if (received + available > bodyLimit) {
            lastError = ERROR_FILE_TOO_LARGE;
            return Outcome::BodyFailed;
        }
        chunk.resize(available);
        DWORD read = 0;
        if (!winhttp.readData(request.get(), chunk.data(), available, &read)) {
            lastError = ::GetLastError();
            return Outcome::BodyFailed;
        }
        if (!sink(chunk.data(), read)) {
            return Outcome::BodyFailed;
        }
        received += read;
        if (reportProgress) {
            progress(ProgressPercent(received, *announced));
        }
    }

    // WinHTTP can end a body quietly when the connection closes early; the announced length
    // tells a cut body from a whole one. The codes are those WinHTTP reports for a dropped
    // connection and for a response it cannot make sense of.
    switch (CheckBodyEnd(announced, received)) {
        case BodyEnd::Complete:
            return Outcome::Complete;
        case BodyEnd::Short:
            lastError = ERROR_WINHTTP_CONNECTION_ERROR;
            return Outcome::BodyFailed;
        case BodyEnd::Long:
            lastError = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
            return Outcome::BodyFailed;
    }
    return Outcome::BodyFailed;
}

}  // namespace

HttpClient::HttpClient() : HttpClient(&OpenWinHttpSession) {}

HttpClient::HttpClient(SessionOpener openSession) : session(openSession(kUserAgent)) {
    if (!session) {
        lastError = ::GetLastError();
    }
}

void HttpClient::Close() noexcept { session.reset(); }

bool HttpClient::CrackUrl(const std::wstring& url, std::wstring& host, std::wstring& path, std::uint16_t& port,
                          bool& secure) {
    std::array<wchar_t, 256> hostBuffer{};
    std::vector<wchar_t> pathBuffer(2048);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = hostBuffer.data();
    parts.dwHostNameLength = static_cast<DWORD>(hostBuffer.size());
    parts.lpszUrlPath = pathBuffer.data();
    parts.dwUrlPathLength = static_cast<DWORD>(pathBuffer.size());
    const WinHttpFunctions* winhttp = Functions(lastError);
    if (!winhttp) {
        return false;
    }
    if (!winhttp->crackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        lastError = ::GetLastError();
        return false;
    }
    host.assign(hostBuffer.data());
    path.assign(pathBuffer.data());
    port = parts.nPort;
    secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

bool HttpClient::GetBytes(const std::wstring& host, const std::wstring& path, std::uint16_t port, bool secure,
                          std::string& body, ProgressCallback progress) {
    if (!session) {
        return false;
    }
    std::string received;
    const Outcome outcome = Fetch(SessionFunctions(), session.get(), host, path, port, secure, kMaxBodyInMemory,
                                  progress, lastError, [&received](const char* data, DWORD size) {
                                      received.append(data, size);
                                      return true;
                                  });
    if (outcome == Outcome::Complete || outcome == Outcome::BodyFailed) {
        body = std::move(received);
    }
    return outcome == Outcome::Complete;
}

bool HttpClient::GetString(const std::wstring& url, std::string& text) {
    std::wstring host;
    std::wstring path;
    std::uint16_t port = 0;
    bool secure = false;
    if (!CrackUrl(url, host, path, port, secure)) {
        return false;
    }
    std::string body;
    if (!GetBytes(host, path, port, secure, body, ProgressCallback{})) {
        return false;
    }
    text = std::move(body);
    return true;
}

bool HttpClient::DownloadToFile(const std::wstring& url, const std::wstring& targetPath, ProgressCallback progress) {
    if (!session) {
        return false;
    }
    std::wstring host;
    std::wstring path;
    std::uint16_t port = 0;
    bool secure = false;
    if (!CrackUrl(url, host, path, port, secure)) {
        return false;
    }
    UniqueFile file(
        ::CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        lastError = ::GetLastError();
        return false;
    }
    const Outcome outcome =
        Fetch(SessionFunctions(), session.get(), host, path, port, secure, std::numeric_limits<std::uint64_t>::max(),
              progress, lastError, [this, &file](const char* data, DWORD size) {
                  DWORD written = 0;
                  if (!::WriteFile(file.get(), data, size, &written, nullptr)) {
                      lastError = ::GetLastError();
                      return false;
                  }
                  if (written != size) {
                      // A short write that reports success carries no error code.
                      lastError = ERROR_WRITE_FAULT;
                      return false;
                  }
                  return true;
              });
    file.reset();
    if (outcome == Outcome::Refused || outcome == Outcome::BodyFailed) {
        ::DeleteFileW(targetPath.c_str());
    }
    return outcome == Outcome::Complete;
}

}  // namespace zv
