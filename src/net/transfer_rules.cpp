#include "net/transfer_rules.h"

#include <limits>

namespace zv {

namespace {

constexpr bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::optional<std::uint64_t> ParseContentLength(std::wstring_view value) {
    while (!value.empty() && IsBlank(value.front())) {
        value.remove_prefix(1);
    }
    while (!value.empty() && IsBlank(value.back())) {
        value.remove_suffix(1);
    }
    if (value.empty()) {
        return std::nullopt;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t length = 0;
    for (const wchar_t c : value) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - L'0');
        if (length > (kMax - digit) / 10) {
            return std::nullopt;
        }
        length = length * 10 + digit;
    }
    return length;
}

std::optional<std::uint64_t> AnnouncedBodyLength(std::uint32_t status, bool chunked,
                                                 std::optional<std::wstring_view> contentLength) {
    if (status == 204 || chunked || !contentLength) {
        return std::nullopt;
    }
    return ParseContentLength(*contentLength);
}

}  // namespace zv
