#pragma once

#include <map>
#include <string>
#include <string_view>

namespace zv::test {

struct InterpreterResult {
    std::wstring text;          // what the started command receives
    bool otherCommand = false;  // an unescaped & | < > outside quotes: the interpreter would run more
};

// The documented command-line rules of the Windows command interpreter (cmd.exe), applied to text
// that follows a command's own tokens:
//  1. percent expansion, before anything else and inside quotes too: %NAME% is replaced when NAME
//     is defined (names compare without case); otherwise it stays as typed and the scan goes on
//     at its closing percent sign;
//  2. then, left to right, every double quote toggles the quote state (backslashes do not escape
//     it); outside quotes a caret takes the next character literally and is dropped, and an
//     unescaped & | < > would end the command; a line feed ends the line anywhere.
// Written from the interpreter's documentation, independently of the launcher's escaping.
InterpreterResult ApplyInterpreterRules(std::wstring_view text, const std::map<std::wstring, std::wstring>& variables);

}  // namespace zv::test
