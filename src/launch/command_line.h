#pragma once

#include <span>
#include <string>
#include <string_view>

namespace zv {

// Appends one argument to a command line so that the platform's standard splitting
// (CommandLineToArgvW) gives it back unchanged. Arguments without blank, tab, line feed, vertical
// tab or double quote are appended as they are; an empty argument adds nothing.
void AppendQuotedArgument(std::wstring& text, std::wstring_view argument);

// The forwarded-argument text: each argument quoted as above, joined by single blanks.
std::wstring JoinQuotedArguments(std::span<const std::wstring> arguments);

}  // namespace zv
