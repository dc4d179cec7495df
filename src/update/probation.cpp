#include "update/probation.h"

#include <cwchar>

namespace zv {

namespace {

constexpr std::size_t kMaxDigits = 16;

std::wstring Hex(std::uint64_t value) {
    constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

// One number of 1 to maxDigits lower-case hexadecimal digits.
std::optional<std::uint64_t> ReadHex(std::wstring_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        std::uint64_t digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<std::uint64_t>(c - L'0');
        } else if (c >= L'a' && c <= L'f') {
            digit = static_cast<std::uint64_t>(c - L'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

}  // namespace

std::wstring FormatProbationToken(const ProbationToken& token) {
    return Hex(token.confirmEvent) + L" " + Hex(token.watcherProcess) + L" " + Hex(token.errorMode);
}

std::optional<ProbationToken> ParseProbationToken(std::wstring_view text) {
    std::wstring_view parts[3];
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t blank = text.find(L' ');
        if ((i < 2) != (blank != std::wstring_view::npos)) {
            return std::nullopt;
        }
        parts[i] = text.substr(0, blank);
        text = i < 2 ? text.substr(blank + 1) : std::wstring_view{};
    }
    const std::optional<std::uint64_t> event = ReadHex(parts[0], kMaxDigits);
    const std::optional<std::uint64_t> process = ReadHex(parts[1], kMaxDigits);
    const std::optional<std::uint64_t> errorMode = ReadHex(parts[2], 8);
    if (!event || !process || !errorMode || *event == 0 || *process == 0) {
        return std::nullopt;
    }
    return ProbationToken{*event, *process, static_cast<std::uint32_t>(*errorMode)};
}

ProbationVerdict JudgeProbation(const ProbationState& state) {
    if (state.confirmed) {
        return ProbationVerdict::Confirmed;
    }
    if (state.ended) {
        return ProbationVerdict::Ended;
    }
    if (state.sinceStart >= kProbationLimit && !state.showsWindow) {
        return ProbationVerdict::TimedOut;
    }
    return ProbationVerdict::Watch;
}

}  // namespace zv
