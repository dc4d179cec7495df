// The forwarded arguments on their way through the command interpreter: joined by the quoting rule,
// escaped for the interpreter, and passed through the interpreter's rules with variables defined,
// the text must run no other command and must split into the arguments the started program would
// have had from the joined text itself. Carriage returns and line feeds cannot ride on an
// interpreter command line and become blanks on purpose, so the comparison is with the joined text
// after that change (the same arguments when there were none).
//
// Input: the name of one more defined variable, a zero byte, then the arguments separated by zero
// bytes (see argument_list.h).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "argument_list.h"
#include "argv_split.h"
#include "fuzz_check.h"
#include "interpreter_rules.h"
#include "launch/command_line.h"
#include "update/replacement_command.h"

namespace {

std::vector<std::wstring> SplitAfterProgram(const std::wstring& text) {
    std::vector<std::wstring> split = zv::test::SplitCommandLine(L"\"" + zv::fuzz::kProgram + L"\" " + text);
    split.erase(split.begin());
    return split;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> arguments = zv::fuzz::DecodeArguments(data, size);
    const std::wstring name = arguments.front();
    arguments.erase(arguments.begin());

    // Values that show any expansion: another command, a stray quote, or text that differs.
    std::map<std::wstring, std::wstring> variables = {
        {L"PATH", L"C:\\Windows"}, {L"a", L"& calc &"}, {L"b", L"\"|x"}, {L"x", L"%a%"}, {L"CD", L"C:\\"},
    };
    // The interpreter has no escape for a percent sign on a command line: the caret written before
    // each one only keeps the text between two of them from naming an ordinary variable. Such text
    // always ends in that caret, so a variable whose name ends in a caret would still be expanded;
    // none is defined here.
    if (!name.empty() && name.back() != L'^') {
        variables[name] = L"& calc &";
    }

    const std::wstring forwarded = zv::JoinQuotedArguments(arguments);
    const zv::test::InterpreterResult passed =
        zv::test::ApplyInterpreterRules(zv::EscapeForCommandInterpreter(forwarded), variables);
    zv::fuzz::Check(!passed.otherCommand, "the interpreter runs no other command");

    std::wstring carried = forwarded;
    std::replace_if(
        carried.begin(), carried.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; }, L' ');
    zv::fuzz::Check(SplitAfterProgram(passed.text) == SplitAfterProgram(carried),
                    "the started program gets the forwarded arguments");
    return 0;
}
