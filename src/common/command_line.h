#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// Appends one argument to a command line so that the platform's standard splitting
// (CommandLineToArgvW) gives it back unchanged. Arguments without blank, tab, line feed, vertical
// tab or double quote are appended as they are; an empty argument adds nothing.
void AppendQuotedArgument(std::wstring& text, std::wstring_view argument);

// The forwarded-argument text: each argument quoted as above, joined by single blanks.
std::wstring JoinQuotedArguments(std::span<const std::wstring> arguments);

// The arguments a launcher passes on (to the game, to an elevated copy of itself, to the launcher
// its self-update restarts), when its command line gave it ownArguments (after the program name)
// and a self-update may have handed over arguments (the hand-over's text, split as a command
// line's arguments are). The hand-over starts the launcher without arguments of its own, so the
// handed-over ones count only then; arguments on the command line always win.
std::vector<std::wstring> ForwardedArguments(std::span<const std::wstring> ownArguments,
                                             const std::optional<std::vector<std::wstring>>& handedOver);

}  // namespace zv
