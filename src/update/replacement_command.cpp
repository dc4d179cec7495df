#include "update/replacement_command.h"

#include <cstddef>

namespace zv {

namespace {

bool IsInterpreterSpecial(wchar_t ch) {
    switch (ch) {
        case L'&':
        case L'|':
        case L'<':
        case L'>':
        case L'^':
        case L'(':
        case L')':
        case L'%':
        case L'!':
            return true;
        default:
            return false;
    }
}

}  // namespace

std::wstring EscapeForCommandInterpreter(std::wstring_view forwarded) {
    std::wstring out;
    out.reserve(forwarded.size() * 2);
    bool quoted = false;
    std::size_t backslashes = 0;  // run of backslashes just written
    bool afterPercent = false;    // the last thing written was a percent sign in inserted quotes
    for (wchar_t ch : forwarded) {
        if (ch == L'\r' || ch == L'\n') {
            ch = L' ';
        }
        if (quoted && ch == L'%') {
            if (afterPercent) {
                // Percent signs side by side share one pair of inserted quotes: the "" that two
                // pairs would leave between them is a literal quote to the program wherever its
                // own splitting is inside quotes there.
                out.pop_back();
                out.append(L"^%\"");
                continue;
            }
            out.append(backslashes, L'\\');
            out.append(L"\"^%\"");
            backslashes = 0;
            afterPercent = true;
            continue;
        }
        afterPercent = false;
        if (ch == L'"') {
            quoted = !quoted;
            out.push_back(ch);
            backslashes = 0;
            continue;
        }
        if (!quoted && IsInterpreterSpecial(ch)) {
            out.push_back(L'^');
            out.push_back(ch);
            backslashes = 0;
            continue;
        }
        out.push_back(ch);
        backslashes = ch == L'\\' ? backslashes + 1 : 0;
    }
    return out;
}

std::wstring BuildReplacementCommandLine(std::wstring_view tempPath, std::wstring_view selfPath,
                                         std::wstring_view forwarded) {
    std::wstring line = L"cmd.exe /c \"";
    line += L"timeout /t 2 /nobreak >nul && ";
    line += L"copy /y \"";
    line += tempPath;
    line += L"\" \"";
    line += selfPath;
    line += L"\" >nul && ";
    line += L"del \"";
    line += tempPath;
    line += L"\" && ";
    line += L"start \"\" \"";
    line += selfPath;
    line += L"\"";
    if (!forwarded.empty()) {
        line += L' ';
        line += EscapeForCommandInterpreter(forwarded);
    }
    line += L"\"";
    return line;
}

ReplacementCommand BuildReplacementCommand(std::wstring_view tempPath, std::wstring_view selfPath,
                                           std::wstring_view forwarded) {
    ReplacementCommand command;
    const auto written = [&command](std::wstring_view path, const wchar_t* variable) {
        if (path.find(L'%') == std::wstring_view::npos) {
            return std::wstring(path);
        }
        command.environment.emplace_back(variable, std::wstring(path));
        return L"%" + std::wstring(variable) + L"%";
    };
    const std::wstring temp = written(tempPath, kReplacementDownloadVariable);
    const std::wstring self = written(selfPath, kReplacementSelfVariable);
    command.line = BuildReplacementCommandLine(temp, self, forwarded);
    return command;
}

}  // namespace zv
