#pragma once

// The decisions of an HTTP transfer that do not depend on the platform: which TLS versions a
// session may use, which statuses count, which body length a response commits to, and when a body
// is complete.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

// TLS versions as WinHTTP's secure protocol flags (WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2, _TLS1_3).
inline constexpr std::uint32_t kSecureProtocolTls12 = 0x00000800;
inline constexpr std::uint32_t kSecureProtocolTls13 = 0x00002000;
// How a WinHTTP without TLS 1.3 refuses a set of protocols that includes it (ERROR_INVALID_PARAMETER).
inline constexpr std::uint32_t kProtocolsNotSupported = 87;

// Restricts a session to TLS 1.2 and 1.3. setProtocols(flags, error) sets the session's protocols
// and returns true, or false with the reason in error. Where TLS 1.3 is refused as not supported,
// TLS 1.2 alone is set; an older version never is. False, with error from the last attempt, means
// the session must not be used.
template <typename SetProtocols>
bool RestrictToTls12And13(SetProtocols&& setProtocols, std::uint32_t& error) {
    if (setProtocols(kSecureProtocolTls12 | kSecureProtocolTls13, error)) {
        return true;
    }
    return error == kProtocolsNotSupported && setProtocols(kSecureProtocolTls12, error);
}

// How long a request may wait (WinHttpSetTimeouts): for its connection, for its request to go out,
// and for each byte of its answer. A server that accepts the connection and then says nothing is
// given up within these, and the attempt counts as a reset (retry.h). Resolving a name keeps
// WinHTTP's own limit.
inline constexpr std::chrono::milliseconds kConnectTimeout{10000};
inline constexpr std::chrono::milliseconds kSendTimeout{30000};
inline constexpr std::chrono::milliseconds kReceiveTimeout{15000};

// The most a body fetched into memory may hold. Only small documents travel that way; a server
// that sends more is refused rather than allowed to exhaust the launcher's memory.
inline constexpr std::uint64_t kMaxBodyInMemory = 1024 * 1024;

// A response counts only with a 2xx status; anything else, and an unreadable status (0), fails.
constexpr bool IsSuccessStatus(std::uint32_t status) { return status >= 200 && status <= 299; }

// A Content-Length value as a number: decimal digits with optional surrounding blanks. Empty when
// the value is anything else or does not fit 64 bits.
std::optional<std::uint64_t> ParseContentLength(std::wstring_view value);

// The body length a response commits to, or empty when it commits to none: its Content-Length,
// except where that header does not frame the body (a chunked body, a 204, which has no body).
std::optional<std::uint64_t> AnnouncedBodyLength(std::uint32_t status, bool chunked,
                                                 std::optional<std::wstring_view> contentLength);

// Whether a response that announces announced bytes can carry a body of exactly exactSize bytes:
// yes when either is unknown or both are the same.
constexpr bool AnnouncementFits(std::optional<std::uint64_t> exactSize, std::optional<std::uint64_t> announced) {
    return !exactSize || !announced || *exactSize == *announced;
}

// A 206 answer's Content-Range: "bytes FIRST-LAST/TOTAL" with FIRST <= LAST < TOTAL, blanks
// around it allowed. Nothing for anything else (an unknown total "*" included).
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;

    friend bool operator==(const ContentRange&, const ContentRange&) = default;
};
std::optional<ContentRange> ParseContentRange(std::wstring_view value);

// Whether an answer's ETag or Last-Modified, as it came, can go back in an If-Range header: 1 to 256
// printable ASCII characters. Anything else is not used, so that nothing a server sent can add a
// header or end the request early.
bool IsUsableValidator(std::string_view validator);

// The headers that ask for the rest of an answer of which held bytes are held: "Range: bytes=N-"
// and "If-Range" with its validator, each ended by CR LF. The validator must be usable.
std::wstring ResumeHeaders(std::uint64_t held, std::string_view validator);

// Whether a 206 answer's range is exactly the rest of the held answer: from the first byte not
// held to the end of a body as long as the held one.
constexpr bool ContinuesHeld(const ContentRange& range, std::uint64_t held, std::uint64_t total) {
    return range.first == held && range.total == total && range.last + 1 == total;
}

enum class BodyEnd {
    Complete,  // as announced, or nothing was announced
    Short,     // fewer bytes than announced: the connection ended early
    Long,      // more bytes than announced
};

constexpr BodyEnd CheckBodyEnd(std::optional<std::uint64_t> announced, std::uint64_t received) {
    if (!announced || *announced == received) {
        return BodyEnd::Complete;
    }
    return received < *announced ? BodyEnd::Short : BodyEnd::Long;
}

}  // namespace zv
