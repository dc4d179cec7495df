#include "common/command_line.h"

#include <cstddef>

namespace zv {

namespace {

bool NeedsQuoting(std::wstring_view argument) {
    return argument.find_first_of(L" \t\n\v\"") != std::wstring_view::npos;
}

}  // namespace

void AppendQuotedArgument(std::wstring& text, std::wstring_view argument) {
    if (argument.empty() || !NeedsQuoting(argument)) {
        text.append(argument);
        return;
    }
    text.push_back(L'"');
    std::size_t pendingBackslashes = 0;
    for (const wchar_t ch : argument) {
        if (ch == L'\\') {
            ++pendingBackslashes;
            continue;
        }
        if (ch == L'"') {
            // Backslashes before a quote are doubled, and the quote itself is escaped.
            text.append(pendingBackslashes * 2 + 1, L'\\');
        } else {
            text.append(pendingBackslashes, L'\\');
        }
        text.push_back(ch);
        pendingBackslashes = 0;
    }
    // Backslashes before the closing quote are doubled so that it stays a closing quote.
    text.append(pendingBackslashes * 2, L'\\');
    text.push_back(L'"');
}

std::wstring JoinQuotedArguments(std::span<const std::wstring> arguments) {
    std::wstring text;
    bool first = true;
    for (const auto& argument : arguments) {
        if (!first) {
            text.push_back(L' ');
        }
        first = false;
        AppendQuotedArgument(text, argument);
    }
    return text;
}

std::vector<std::wstring> ForwardedArguments(std::span<const std::wstring> ownArguments,
                                             const std::optional<std::vector<std::wstring>>& handedOver) {
    if (ownArguments.empty() && handedOver) {
        return *handedOver;
    }
    return {ownArguments.begin(), ownArguments.end()};
}

}  // namespace zv
