#pragma once

// The hand-over of a verified launcher update to the Windows command interpreter, which waits for
// the running launcher to end, copies the update over it, deletes the download and starts the
// launcher again.
//
// The interpreter parses its command line and expands variables in it, so nothing that comes from
// outside (the forwarded arguments, the launcher's path, the temporary file's path) is ever
// written on that line. The line is the same text for every update:
//
//   cmd.exe /d /v:on /c ""!ZV_REPLACEMENT_TIMEOUT!" /t 2 /nobreak >nul && copy /y
//   "!ZV_REPLACEMENT_DOWNLOAD!" "!ZV_REPLACEMENT_SELF!" >nul && del "!ZV_REPLACEMENT_DOWNLOAD!" &&
//   start "" "!ZV_REPLACEMENT_SELF!""
//
// and everything that varies travels in the interpreter's environment:
//  - The paths are read with delayed expansion (/v:on, !NAME!). The interpreter expands a delayed
//    reference after it has split the line into commands and handled quotes, carets and
//    operators, and does not look into the value again, so no character of a path can end a
//    command, start another, or name a variable.
//  - The forwarded arguments are not on the line at all. The restarted launcher is started
//    without arguments and inherits ZV_REPLACEMENT_ARGUMENTS (the forwarded text, quoted as
//    JoinQuotedArguments quotes it) from the interpreter; it takes its arguments from there
//    and removes the hand-over's variables from its environment before it does anything else, so
//    the game never sees them. A carriage return or line feed inside an argument therefore arrives
//    as it left.
//  - The wait program is named by its full path in the system folder, and the interpreter itself
//    is started by its full path there: neither is searched for in the launcher's folder or the
//    current directory. /d keeps the user's AutoRun commands from running first.
//
// The launcher checks the limits below before it starts the interpreter, because once it has ended
// nobody would see the interpreter fail.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zv {

inline constexpr wchar_t kReplacementTimeoutVariable[] = L"ZV_REPLACEMENT_TIMEOUT";
inline constexpr wchar_t kReplacementDownloadVariable[] = L"ZV_REPLACEMENT_DOWNLOAD";
inline constexpr wchar_t kReplacementSelfVariable[] = L"ZV_REPLACEMENT_SELF";
inline constexpr wchar_t kReplacementArgumentsVariable[] = L"ZV_REPLACEMENT_ARGUMENTS";

// Every variable of the hand-over, for removing them again.
inline constexpr const wchar_t* kReplacementVariables[] = {kReplacementTimeoutVariable, kReplacementDownloadVariable,
                                                           kReplacementSelfVariable, kReplacementArgumentsVariable};

// The interpreter's command line (see above).
std::wstring_view ReplacementCommandLine();

struct ReplacementCommand {
    std::wstring interpreter;  // the interpreter's full path, the program CreateProcessW starts
    std::wstring line;         // its command line
    // Set in the interpreter's environment, and nowhere else.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
};

// The hand-over for a launcher at selfPath, its verified update at tempPath, and the forwarded
// argument text. systemFolder is the system directory (GetSystemDirectoryW), where the interpreter
// and the wait program are.
ReplacementCommand BuildReplacementCommand(std::wstring_view systemFolder, std::wstring_view tempPath,
                                           std::wstring_view selfPath, std::wstring_view forwarded);

// What keeps a hand-over within the interpreter's limits.
//  - Each path must be shorter than MAX_PATH (260): the interpreter's copy and start, and the
//    process start behind start, take no longer paths.
//  - The forwarded text must fit into one of the interpreter's variables: it handles no string
//    longer than 8,191 characters (the limit its own command lines had when the arguments still
//    travelled on them).
inline constexpr std::size_t kInterpreterPathLimit = 260;
inline constexpr std::size_t kInterpreterStringLimit = 8191;
bool FitsInterpreterLimits(std::wstring_view tempPath, std::wstring_view selfPath, std::wstring_view forwarded);

}  // namespace zv
