#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zv {

// Makes forwarded-argument text safe to hand to the Windows command interpreter inside a
// "cmd.exe /c" line, so that the interpreter passes the text on unchanged and runs nothing else.
//
// The interpreter's quote state toggles at every double quote, whatever backslashes stand before
// it (unlike the argument splitting of the program it starts). Outside its quotes, & | < > ^ ( )
// % and ! are escaped with a caret. Inside its quotes those are literal already, except %, which
// is expanded even there: the quote is closed around a caret-escaped percent sign (one pair of
// quotes for a run of them) and opened again, with the backslashes before the inserted quote
// doubled so the started program's own argument splitting sees the same text. Carriage returns and line feeds end an
// interpreter command line wherever they stand, so they cannot be carried: each becomes a blank.
std::wstring EscapeForCommandInterpreter(std::wstring_view forwarded);

// The hidden command that replaces the launcher with its downloaded update and starts it again:
//   cmd.exe /c "timeout /t 2 /nobreak >nul && copy /y "TEMP" "SELF" >nul && del "TEMP" &&
//   start "" "SELF" ARGS"
// ARGS (with the blank before it) only when there are forwarded arguments; they are escaped for
// the interpreter as above.
std::wstring BuildReplacementCommandLine(std::wstring_view tempPath, std::wstring_view selfPath,
                                         std::wstring_view forwarded);

// The replacement command for these paths, and the variables that the launcher must put into its
// own environment before it starts the command. The interpreter expands %NAME% inside quotes and
// knows no escape there that keeps a path usable by copy and start, so a path holding a percent
// sign (a folder named after a user "50%", or "%OS%") would name another file. Such a path is
// written as a reference to a variable that holds it: the interpreter expands a variable once and
// does not look into its value again. Paths without a percent sign are written as they are and
// need no variable.
struct ReplacementCommand {
    std::wstring line;
    std::vector<std::pair<std::wstring, std::wstring>> environment;
};
ReplacementCommand BuildReplacementCommand(std::wstring_view tempPath, std::wstring_view selfPath,
                                           std::wstring_view forwarded);

inline constexpr wchar_t kReplacementDownloadVariable[] = L"ZV_REPLACEMENT_DOWNLOAD";
inline constexpr wchar_t kReplacementSelfVariable[] = L"ZV_REPLACEMENT_SELF";

}  // namespace zv
