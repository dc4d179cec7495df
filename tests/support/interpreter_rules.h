#pragma once

// A model of how the Windows command interpreter (cmd.exe) reads a command line of the form
//   cmd.exe [/d] [/q] [/s] [/v:on|/v:off] /c "COMMANDS"
// written from its documentation (cmd /?, set /?, start /?) and the well-known descriptions of its
// parsing phases, independently of the launcher's code. The tests run the launcher's hand-over
// through it to see exactly which commands the interpreter would run with which arguments, and
// what the program it starts would receive.
//
// What it knows, in the interpreter's order:
//  0. The string after /c: when it starts with a quote, the first quote and the last quote are
//     removed, unless /s is absent and the string holds exactly two quotes around text with a
//     blank and without any of & < > ( ) @ ^ | (the interpreter then also requires the text to
//     name a program; the model assumes it does).
//  1. Percent expansion, on the whole string and inside quotes too: %NAME%, %NAME:~start,length%
//     (negative numbers count from the end), %NAME:old=new% (every match, without case) and
//     %NAME:*old=new% (everything up to the first match). Names compare without case. Besides the
//     environment the dynamic variables are defined: CD, __CD__, DATE, TIME, RANDOM, ERRORLEVEL,
//     CMDEXTVERSION, CMDCMDLINE (the interpreter's whole command line), HIGHESTNUMANODENUMBER and
//     __APPDIR__. An undefined reference stays as typed and the scan goes on at its closing percent
//     sign (the command-line rule; batch files differ). A line feed ends the line here.
//  1.5 Carriage returns are removed.
//  2. Left to right: a double quote toggles the quote state; outside quotes a caret takes the next
//     character literally and is dropped, & && | || separate commands, and < > >> (with an
//     optional handle digit before and &N after) redirect to the next word. A line feed ends the
//     line. Parentheses are taken literally (the launcher writes no blocks).
//  5. With /v:on, per word of each command (words end at blanks and tabs outside quotes): a word
//     holding an exclamation mark loses its carets (each keeps the character after it), then
//     !NAME! and the same :~ and := forms are expanded; an undefined reference and a lone
//     exclamation mark disappear. The value of a reference is not read again.
// Then each command's first word (without its quotes) is the command; copy, del and start read
// their own words from what phases 1 to 5 left, with quotes and blanks as word boundaries.
//
// The model is deliberately literal: where the interpreter would do something it does not know,
// the run shows text that differs from what was intended, never less.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::test {

// Environment variables; names compare without case.
using Environment = std::map<std::wstring, std::wstring>;

// The dynamic variables' values in the model (an environment variable of the same name wins).
struct DynamicVariables {
    std::wstring cd = L"C:\\Games\\Foo";
    std::wstring date = L"Thu 12/10/2026";
    std::wstring time = L"12:00:00.00";
    std::wstring random = L"4242";
    std::wstring errorLevel = L"0";
};

struct InterpreterCommand {
    std::wstring name;                    // the first word, its quotes removed
    std::vector<std::wstring> words;      // the words after it, their quotes removed
    std::wstring tail;                    // the text after the first word, as the command receives it
    std::vector<std::wstring> redirects;  // each redirection as written, e.g. ">nul"
};

struct InterpreterRun {
    std::vector<InterpreterCommand> commands;
    std::vector<std::wstring> separators;  // between the commands: "&&", "&", "||" or "|"
    bool delayedExpansion = false;
};

// Reads a whole interpreter command line (program name, switches, /c and its string).
InterpreterRun RunInterpreter(std::wstring_view commandLine, const Environment& environment,
                              const DynamicVariables& dynamic = {});

// What "start" does with its command: skips the title (a first quoted word) and any switches, and
// starts the program named by the next word with the rest of its text as the arguments. The
// started program's command line is the program's path in quotes and, when there is a rest, one
// blank and the rest. Nothing when the command names no program.
struct StartedProgram {
    std::wstring program;
    std::wstring commandLine;
};
std::optional<StartedProgram> ProgramStartedBy(const InterpreterCommand& start);

// Percent expansion alone (phase 1), for text typed after a command on the interpreter's command
// line; cmdcmdline is what %CMDCMDLINE% gives.
std::wstring ExpandPercentReferences(std::wstring_view text, const Environment& environment,
                                     std::wstring_view cmdcmdline = {}, const DynamicVariables& dynamic = {});

}  // namespace zv::test
