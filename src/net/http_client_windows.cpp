#include <windows.h>
#include <winhttp.h>

#include <array>
#include <chrono>
#include <limits>
#include <string_view>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "net/http_client.h"
#include "net/run_proxy.h"
#include "net/transfer_log.h"
#include "net/transfer_rules.h"
#include "net/url_parts.h"

// Older SDK headers lack TLS 1.3.
#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace zv {

namespace {

// The functions of an open session: a session exists only once the library has loaded.
const WinHttpFunctions& SessionFunctions() { return *WinHttpLibrary::Get().functions(); }

static_assert(kSecureProtocolTls12 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2);
static_assert(kSecureProtocolTls13 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3);
static_assert(kProtocolsNotSupported == ERROR_INVALID_PARAMETER);

// A session of proxy's choice that speaks TLS 1.2 or 1.3 only (RunSessionOpener).
HINTERNET OpenRunSession(const RunProxy& proxy, const wchar_t* userAgent) {
    const WinHttpLibrary& library = WinHttpLibrary::Get();
    const WinHttpFunctions* winhttp = library.functions();
    if (!winhttp) {
        ::SetLastError(library.error());
        return nullptr;
    }
    UniqueInternet session(winhttp->open(userAgent, proxy.AccessType(), proxy.ProxyName(), proxy.ProxyBypass(), 0));
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
    // A server that takes the connection and then says nothing is given up in bounded time (and the
    // request tried again, retry.h); resolving keeps WinHTTP's own limit. A session whose waits
    // cannot be bounded counts as not opened.
    if (!winhttp->setTimeouts(session.get(), 0, static_cast<int>(kConnectTimeout.count()),
                              static_cast<int>(kSendTimeout.count()), static_cast<int>(kReceiveTimeout.count()))) {
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

struct Fetched {
    Outcome outcome = Outcome::NoResponse;
    TransferResult result;
    // The address of the last redirect WinHTTP followed; empty when there was none.
    std::wstring redirectedTo;
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

// A header's value of up to 512 characters as ASCII; nothing when it is absent, longer, or holds
// anything but printable ASCII (only such a value may go back into a request).
std::optional<std::string> QueryAscii(const WinHttpFunctions& winhttp, HINTERNET request, DWORD query) {
    std::array<wchar_t, 513> value{};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (!winhttp.queryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                              WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    std::string text;
    for (std::size_t i = 0; i < size / sizeof(wchar_t); ++i) {
        if (!IsPrintableAscii(value[i])) {
            return std::nullopt;
        }
        text.push_back(static_cast<char>(value[i]));
    }
    return text;
}

// Keeps the address of each redirect WinHTTP follows for a request in the std::wstring its context
// value points to. (WinHttpQueryOption's WINHTTP_OPTION_URL would give the final address after
// the response; Wine does not offer it, and this serves on both.) Runs on the requesting thread:
// the requests are synchronous.
void CALLBACK NoteRedirect(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD length) {
    if (status != WINHTTP_CALLBACK_STATUS_REDIRECT || context == 0 || information == nullptr) {
        return;
    }
    const auto* url = static_cast<const wchar_t*>(information);
    std::size_t size = 0;
    while (size < length && url[size] != L'\0') {
        ++size;
    }
    reinterpret_cast<std::wstring*>(context)->assign(url, size);
}

// A GET whose response has arrived. The request handle is closed before the connection, and both
// before the redirect address their callback writes.
struct OpenRequest {
    std::wstring redirectedTo;  // the last redirect's address; empty when there was none
    UniqueInternet connection;
    UniqueInternet request;
};

// The origin a proxy script is asked about: scheme, host and port.
std::wstring Origin(const UrlParts& url) {
    return std::wstring(url.secure ? L"https://" : L"http://") + url.host + L":" + std::to_wstring(url.port) + L"/";
}

// Tells the request the proxy the script names for its origin, or that it goes direct; the
// platform's error code when the request refuses, 0 otherwise.
std::uint32_t SetScriptProxy(const WinHttpFunctions& winhttp, HINTERNET request, ProxyScript& script,
                             const UrlParts& url) {
    const RequestProxy& named = script.For(Origin(url));
    std::wstring proxy = named.proxy;
    std::wstring bypass = named.bypass;
    WINHTTP_PROXY_INFO info{};
    info.dwAccessType = proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = proxy.empty() ? nullptr : proxy.data();
    info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
    return winhttp.setOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info) ? 0 : ::GetLastError();
}

// Connects, sends the GET and receives the response's head; the platform's error code when any of
// it fails, 0 otherwise. With a proxy script, the script names the request's proxy first.
std::uint32_t SendRequest(const WinHttpFunctions& winhttp, HINTERNET session, ProxyScript* script, const UrlParts& url,
                          const std::wstring& headers, OpenRequest& open) {
    open.connection.reset(winhttp.connect(session, url.host.c_str(), url.port, 0));
    if (!open.connection) {
        return ::GetLastError();
    }
    open.request.reset(winhttp.openRequest(open.connection.get(), L"GET", url.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!open.request) {
        return ::GetLastError();
    }
    // The redirect address is for the log only: a request whose callback cannot be set goes on.
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&open.redirectedTo);
    if (winhttp.setOption(open.request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        winhttp.setStatusCallback(open.request.get(), &NoteRedirect, WINHTTP_CALLBACK_FLAG_REDIRECT, 0);
    }
    if (script) {
        if (const std::uint32_t error = SetScriptProxy(winhttp, open.request.get(), *script, url); error != 0) {
            return error;
        }
    }
    if (!winhttp.sendRequest(open.request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                             headers.empty() ? 0 : static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                             0) ||
        !winhttp.receiveResponse(open.request.get(), nullptr)) {
        return ::GetLastError();
    }
    return 0;
}

// The body length an accepted response commits to (see AnnouncedBodyLength).
std::optional<std::uint64_t> AnnouncedLength(const WinHttpFunctions& winhttp, HINTERNET request, DWORD status) {
    const bool chunked = HasHeader(winhttp, request, WINHTTP_QUERY_TRANSFER_ENCODING);
    const std::optional<std::wstring> contentLength = QueryText(winhttp, request, WINHTTP_QUERY_CONTENT_LENGTH);
    return AnnouncedBodyLength(status, chunked, contentLength);
}

// Hands the body to sink(data, size, error) chunk by chunk, each exactly as large as WinHTTP
// reports available, until WinHTTP reports no more; sink returns false, with its reason in error,
// to stop. Tells progress, when there is one, how far it got: offset bytes of whole once before the
// body, then after every chunk. Returns the error code that ended the body early, or 0, with the
// bytes received so far in received.
template <typename Sink>
std::uint32_t ReadBody(const WinHttpFunctions& winhttp, HINTERNET request, std::uint64_t bodyLimit,
                       std::uint64_t offset, std::optional<std::uint64_t> whole, DownloadProgress* progress,
                       std::uint64_t& received, Sink& sink) {
    if (progress) {
        progress->Received(offset, whole);
    }
    std::vector<char> chunk;
    for (;;) {
        DWORD available = 0;
        if (!winhttp.queryDataAvailable(request, &available)) {
            return ::GetLastError();
        }
        if (available == 0) {
            return 0;
        }
        if (received + available > bodyLimit) {
            return ERROR_FILE_TOO_LARGE;
        }
        chunk.resize(available);
        DWORD read = 0;
        if (!winhttp.readData(request, chunk.data(), available, &read)) {
            return ::GetLastError();
        }
        std::uint32_t error = 0;
        if (!sink(chunk.data(), read, error)) {
            return error;
        }
        received += read;
        if (progress) {
            progress->Received(offset + received, whole);
        }
    }
}

// WinHTTP can end a body quietly when the connection closes early; the announced length tells a cut
// body from a whole one. The codes are those WinHTTP reports for a dropped connection and for a
// response it cannot make sense of; 0 for a whole body.
std::uint32_t BodyEndError(std::optional<std::uint64_t> announced, std::uint64_t received) {
    switch (CheckBodyEnd(announced, received)) {
        case BodyEnd::Complete:
            return 0;
        case BodyEnd::Short:
            return ERROR_WINHTTP_CONNECTION_ERROR;
        case BodyEnd::Long:
            return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    }
    return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
}

// How the body of an accepted response is taken: at most limit bytes, ending at expected when that
// is known (the announced length, or the exact size a download was given), counted for progress
// after offset bytes held before it, of whole.
struct BodyPlan {
    std::uint64_t limit = 0;
    std::optional<std::uint64_t> expected;
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> whole;
};

// One GET on session with headers, its body handed to sink (see ReadBody) as plan(status, request,
// body) lays it out for an accepted status: plan fills body and returns 0, or an error code that
// fails the transfer before the body is read. A refused 429 or 503 keeps its Retry-After.
template <typename Plan, typename Sink>
Fetched Fetch(const WinHttpFunctions& winhttp, HINTERNET session, ProxyScript* script, const UrlParts& url,
              const std::wstring& headers, DownloadProgress* progress, Plan&& plan, Sink&& sink) {
    Fetched fetched;
    OpenRequest open;
    fetched.result.systemError = SendRequest(winhttp, session, script, url, headers, open);
    fetched.redirectedTo = open.redirectedTo;
    if (fetched.result.systemError != 0) {
        fetched.outcome = Outcome::NoResponse;
        return fetched;
    }
    const DWORD status = QueryNumber(winhttp, open.request.get(), WINHTTP_QUERY_STATUS_CODE);
    fetched.result.httpStatus = status;
    if (!IsSuccessStatus(status)) {
        if (status == 429 || status == 503) {
            fetched.result.retryAfter = QueryAscii(winhttp, open.request.get(), WINHTTP_QUERY_RETRY_AFTER);
        }
        fetched.outcome = Outcome::Refused;
        return fetched;
    }
    BodyPlan body;
    if (const std::uint32_t refused = plan(status, open.request.get(), body); refused != 0) {
        fetched.result.systemError = refused;
        fetched.outcome = Outcome::BodyFailed;
        return fetched;
    }
    std::uint64_t received = 0;
    std::uint32_t error =
        ReadBody(winhttp, open.request.get(), body.limit, body.offset, body.whole, progress, received, sink);
    if (error == 0) {
        error = BodyEndError(body.expected, received);
    }
    fetched.result.systemError = error;
    fetched.result.complete = error == 0;
    fetched.outcome = error == 0 ? Outcome::Complete : Outcome::BodyFailed;
    return fetched;
}

TransferResult Failed(std::uint32_t error) { return TransferResult{false, 0, error, std::nullopt}; }

// The body of a GET into memory: at most kMaxBodyInMemory, as long as announced.
std::uint32_t PlanMemoryBody(const WinHttpFunctions& winhttp, DWORD status, HINTERNET request, BodyPlan& body) {
    const std::optional<std::uint64_t> announced = AnnouncedLength(winhttp, request, status);
    body = BodyPlan{kMaxBodyInMemory, announced, 0, announced};
    return 0;
}

// What identifies an answer for a later resume: its ETag, else its Last-Modified, when usable.
std::string AnswerValidator(const WinHttpFunctions& winhttp, HINTERNET request) {
    for (const DWORD query :
         {static_cast<DWORD>(WINHTTP_QUERY_ETAG), static_cast<DWORD>(WINHTTP_QUERY_LAST_MODIFIED)}) {
        if (const std::optional<std::string> value = QueryAscii(winhttp, request, query);
            value && IsUsableValidator(*value)) {
            return *value;
        }
    }
    return {};
}

// The body of a download into sink. A 206 must be the rest of the answer the sink holds (held,
// asked for with ResumeHeaders): it is appended. Any other accepted answer is the whole body: the
// sink starts over. With exactSize, the whole body must be exactly that long.
std::uint32_t PlanDownloadBody(const WinHttpFunctions& winhttp, DWORD status, HINTERNET request,
                               const std::optional<HeldAnswer>& held, std::optional<std::uint64_t> exactSize,
                               DownloadSink& sink, BodyPlan& body) {
    const std::optional<std::uint64_t> announced = AnnouncedLength(winhttp, request, status);
    const std::string validator = AnswerValidator(winhttp, request);
    std::uint32_t error = 0;
    if (status == 206) {
        const std::optional<std::wstring> text = QueryText(winhttp, request, WINHTTP_QUERY_CONTENT_RANGE);
        const std::optional<ContentRange> range = text ? ParseContentRange(*text) : std::nullopt;
        if (!held || !range || !ContinuesHeld(*range, held->bytes, held->total) ||
            (announced && *announced != held->total - held->bytes)) {
            LogEvent("a 206 answer that is not the rest of the answer held (Content-Range " +
                     (text ? ToUtf8(*text) : std::string("none")) + ")");
            return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
        }
        if (!sink.Begin(false, validator.empty() ? held->validator : validator, held->total, error)) {
            return error;
        }
        const std::uint64_t rest = held->total - held->bytes;
        body = BodyPlan{rest, rest, held->bytes, held->total};
        return 0;
    }
    if (!AnnouncementFits(exactSize, announced)) {
        LogEvent("the response announces " + std::to_string(*announced) + " bytes where exactly " +
                 std::to_string(*exactSize) + " are expected");
        return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    }
    const std::optional<std::uint64_t> whole = exactSize ? exactSize : announced;
    if (!sink.Begin(true, validator, whole, error)) {
        return error;
    }
    body = BodyPlan{exactSize.value_or(std::numeric_limits<std::uint64_t>::max()), whole, 0, whole};
    return 0;
}

// A file opened by path for DownloadToFile: written without sharing, as it arrives.
class FileSink final : public DownloadSink {
public:
    explicit FileSink(std::wstring path) : path_(std::move(path)) {}

    // Creates or truncates the file; false, with the reason in GetLastError, when it cannot.
    bool Open() {
        file_.reset(
            ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_.valid();
    }
    void Close() { file_.reset(); }

    bool Write(const char* data, std::size_t size, std::uint32_t& error) override {
        DWORD written = 0;
        if (!::WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr)) {
            error = ::GetLastError();
            return false;
        }
        if (written != size) {
            // A short write that reports success carries no error code.
            error = ERROR_WRITE_FAULT;
            return false;
        }
        return true;
    }
    [[nodiscard]] std::wstring Name() const override { return path_; }

    // A file opened anew holds nothing to resume.
    [[nodiscard]] std::optional<HeldAnswer> Held() const override { return std::nullopt; }
    bool Begin(bool, std::string_view, std::optional<std::uint64_t>, std::uint32_t&) override { return true; }

private:
    std::wstring path_;
    UniqueFile file_;
};

}  // namespace

HttpClient::SessionOpener RunSessionOpener(const RunProxy& proxy) {
    return [&proxy](const wchar_t* userAgent) { return OpenRunSession(proxy, userAgent); };
}

HttpClient::HttpClient(const SessionOpener& openSession, ProxyScript* script)
    : session_(openSession(kUserAgent)), script_(script) {
    if (!session_) {
        noSessionError_ = ::GetLastError();
    }
}

void HttpClient::Close() noexcept {
    if (session_) {
        session_.reset();
        noSessionError_ = ERROR_INVALID_HANDLE;
    }
}

TransferResult HttpClient::GetString(const std::wstring& url, std::string& body) {
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t error = 0;
    std::string received;
    Fetched fetched;
    if (!session_) {
        fetched.result = Failed(noSessionError_);
    } else if (const std::optional<UrlParts> parts = CrackUrl(url, error); !parts) {
        fetched.result = Failed(error);
    } else {
        const WinHttpFunctions& winhttp = SessionFunctions();
        fetched = Fetch(
            winhttp, session_.get(), script_, *parts, std::wstring(), nullptr,
            [&](DWORD status, HINTERNET request, BodyPlan& body) {
                return PlanMemoryBody(winhttp, status, request, body);
            },
            [&received](const char* data, DWORD size, std::uint32_t&) {
                received.append(data, size);
                return true;
            });
    }
    LogEvent(DescribeTransfer(url, fetched.result, received.size(), MillisecondsSince(start), fetched.redirectedTo));
    if (fetched.result.complete) {
        body = std::move(received);
    }
    return fetched.result;
}

template <typename Run>
TransferResult HttpClient::Reported(Run&& download) {
    if (!downloads_) {
        return download(nullptr);
    }
    // Ended on every way out, so that whatever shows the download goes with it.
    struct Reporting {
        DownloadProgress& downloads;
        explicit Reporting(DownloadProgress& d) : downloads(d) { downloads.Begun(); }
        ~Reporting() { downloads.Ended(); }
        Reporting(const Reporting&) = delete;
        Reporting& operator=(const Reporting&) = delete;
    } reporting(*downloads_);
    return download(downloads_);
}

TransferResult HttpClient::DownloadTo(const std::wstring& url, DownloadSink& sink,
                                      std::optional<std::uint64_t> exactSize) {
    return Reported([&](DownloadProgress* progress) { return Download(url, sink, exactSize, progress); });
}

TransferResult HttpClient::DownloadToFile(const std::wstring& url, const std::wstring& targetPath,
                                          std::optional<std::uint64_t> exactSize) {
    return Reported([&](DownloadProgress* progress) { return DownloadFile(url, targetPath, exactSize, progress); });
}

TransferResult HttpClient::Download(const std::wstring& url, DownloadSink& sink, std::optional<std::uint64_t> exactSize,
                                    DownloadProgress* progress) {
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t error = 0;
    std::uint64_t written = 0;
    // What the sink holds of an earlier answer is asked for no more: only its rest, and only if the
    // answer is still the same (If-Range); a held answer of another length than the exact one is
    // not resumed.
    std::optional<HeldAnswer> held = sink.Held();
    if (held && (!IsUsableValidator(held->validator) || held->bytes > held->total ||
                 (exactSize && held->total != *exactSize))) {
        held.reset();
    }
    Fetched fetched;
    std::string resumed;
    if (!session_) {
        fetched.result = Failed(noSessionError_);
    } else if (const std::optional<UrlParts> parts = CrackUrl(url, error); !parts) {
        fetched.result = Failed(error);
    } else if (held && held->bytes == held->total) {
        // Whole already: a run that was ended before it could check the download.
        fetched.result = TransferResult{true, 0, 0, std::nullopt};
        resumed = " (held whole from an earlier answer: " + std::to_string(held->bytes) + " bytes)";
    } else {
        const WinHttpFunctions& winhttp = SessionFunctions();
        fetched = Fetch(
            winhttp, session_.get(), script_, *parts,
            held && held->bytes > 0 ? ResumeHeaders(held->bytes, held->validator) : std::wstring(), progress,
            [&](DWORD status, HINTERNET request, BodyPlan& body) {
                return PlanDownloadBody(winhttp, status, request, held && held->bytes > 0 ? held : std::nullopt,
                                        exactSize, sink, body);
            },
            [&sink, &written](const char* data, DWORD size, std::uint32_t& failure) {
                if (!sink.Write(data, size, failure)) {
                    return false;
                }
                written += size;
                return true;
            });
        if (held && held->bytes > 0 && fetched.result.httpStatus == 206) {
            resumed = " (resumed from byte " + std::to_string(held->bytes) + ")";
        } else if (held && held->bytes > 0 && IsSuccessStatus(fetched.result.httpStatus)) {
            resumed = " (asked to resume from byte " + std::to_string(held->bytes) + "; the whole answer came)";
        }
    }
    LogEvent(DescribeTransfer(url, fetched.result, written, MillisecondsSince(start), fetched.redirectedTo) + " into " +
             ToUtf8(sink.Name()) + resumed);
    return fetched.result;
}

TransferResult HttpClient::DownloadFile(const std::wstring& url, const std::wstring& targetPath,
                                        std::optional<std::uint64_t> exactSize, DownloadProgress* progress) {
    FileSink file(targetPath);
    // The file is opened only for a request that can be made: otherwise it is left as it was.
    std::uint32_t error = 0;
    if (session_ && CrackUrl(url, error) && !file.Open()) {
        const TransferResult failed = Failed(::GetLastError());
        LogEvent(DescribeTransfer(url, failed, 0, 0, L"") + " into " + ToUtf8(targetPath));
        return failed;
    }
    const TransferResult result = Download(url, file, exactSize, progress);
    file.Close();
    // A response arrived (a status was read) and was refused, or its body failed.
    if (!result.complete && result.httpStatus != 0) {
        ::DeleteFileW(targetPath.c_str());
    }
    return result;
}

}  // namespace zv
