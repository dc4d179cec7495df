#include "net/transfer_rules.h"

#include <limits>
#include <string>

#include "common/text.h"

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

std::optional<ContentRange> ParseContentRange(std::wstring_view value) {
    while (!value.empty() && IsBlank(value.front())) {
        value.remove_prefix(1);
    }
    while (!value.empty() && IsBlank(value.back())) {
        value.remove_suffix(1);
    }
    constexpr std::wstring_view kUnit = L"bytes ";
    if (value.substr(0, kUnit.size()) != kUnit) {
        return std::nullopt;
    }
    value.remove_prefix(kUnit.size());
    const std::size_t dash = value.find(L'-');
    const std::size_t slash = value.find(L'/');
    if (dash == std::wstring_view::npos || slash == std::wstring_view::npos || dash > slash) {
        return std::nullopt;
    }
    // ParseContentLength takes digits only here: the blanks it allows are not inside the range.
    const auto number = [](std::wstring_view digits) -> std::optional<std::uint64_t> {
        if (digits.empty() || digits.front() == L' ' || digits.back() == L' ' || digits.front() == L'\t' ||
            digits.back() == L'\t') {
            return std::nullopt;
        }
        return ParseContentLength(digits);
    };
    const auto first = number(value.substr(0, dash));
    const auto last = number(value.substr(dash + 1, slash - dash - 1));
    const auto total = number(value.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total) {
        return std::nullopt;
    }
    return ContentRange{*first, *last, *total};
}

bool IsUsableValidator(std::string_view validator) {
    if (validator.empty() || validator.size() > 256) {
        return false;
    }
    return IsPrintableAscii(validator);
}

std::wstring ResumeHeaders(std::uint64_t held, std::string_view validator) {
    std::wstring headers = L"Range: bytes=" + std::to_wstring(held) + L"-\r\nIf-Range: ";
    headers.append(validator.begin(), validator.end());  // printable ASCII: one character each
    headers += L"\r\n";
    return headers;
}

}  // namespace zv
