#pragma once

// The decisions of an HTTP transfer that do not depend on the platform: which statuses count,
// which body length a response commits to, when a body is complete, and the progress figure.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zv {

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

// The share of the body received so far, in percent.
constexpr float ProgressPercent(std::uint64_t received, std::uint64_t length) {
    return static_cast<float>(received) / static_cast<float>(length) * 100.0f;
}

}  // namespace zv
