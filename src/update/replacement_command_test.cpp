#include "update/replacement_command.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "argv_split.h"
#include "interpreter_rules.h"
#include "launch/command_line.h"

namespace {

TEST(BuildReplacementCommandLine, WaitsCopiesDeletesAndStartsInOneHiddenCommand) {
    EXPECT_EQ(zv::BuildReplacementCommandLine(L"C:\\Temp\\ZVL1A2.tmp", L"C:\\Games\\Foo\\Foo_ZV.exe", L""),
              L"cmd.exe /c \"timeout /t 2 /nobreak >nul && copy /y \"C:\\Temp\\ZVL1A2.tmp\" "
              L"\"C:\\Games\\Foo\\Foo_ZV.exe\" >nul && del \"C:\\Temp\\ZVL1A2.tmp\" && start \"\" "
              L"\"C:\\Games\\Foo\\Foo_ZV.exe\"\"");
    EXPECT_EQ(zv::BuildReplacementCommandLine(L"T", L"S", L"-windowed \"a b\""),
              L"cmd.exe /c \"timeout /t 2 /nobreak >nul && copy /y \"T\" \"S\" >nul && del \"T\" && start \"\" \"S\" "
              L"-windowed \"a b\"\"");
}

TEST(BuildReplacementCommand, TheInterpreterSeesThePathsAsTheyAreWhateverIsDefined) {
    struct Case {
        const char* name;
        const wchar_t* temp;
        const wchar_t* self;
        std::size_t variables;  // how many paths travel in variables
    };
    const Case cases[] = {
        {"no percent sign", L"C:\\T\\ZVL1.tmp", L"C:\\G\\Foo_ZV.exe", 0},
        {"launcher folder", L"C:\\T\\ZVL1.tmp", L"C:\\G %OS%\\Foo_ZV.exe", 1},
        {"temporary folder", L"C:\\Users\\%OS%\\ZVL1.tmp", L"C:\\G\\Foo_ZV.exe", 1},
        {"both", L"C:\\%T%\\ZVL1.tmp", L"C:\\%G% 100%\\Foo_ZV.exe", 2},
    };
    // With nothing defined the interpreter leaves every percent sign as typed: that is the text the
    // commands must get whatever the environment holds.
    const std::map<std::wstring, std::wstring> defined = {{L"OS", L"Windows_NT"}, {L"T", L"X"}, {L"G", L"Y"}};
    for (const auto& c : cases) {
        const zv::ReplacementCommand command = zv::BuildReplacementCommand(c.temp, c.self, L"");
        auto variables = defined;
        variables.insert(command.environment.begin(), command.environment.end());
        const auto seen = zv::test::ApplyInterpreterRules(command.line, variables);
        const auto intended = zv::test::ApplyInterpreterRules(zv::BuildReplacementCommandLine(c.temp, c.self, L""), {});
        EXPECT_EQ(seen.text, intended.text) << c.name;
        EXPECT_EQ(command.environment.size(), c.variables) << c.name;
        // The plain line is what goes wrong.
        if (c.variables > 0) {
            EXPECT_NE(
                zv::test::ApplyInterpreterRules(zv::BuildReplacementCommandLine(c.temp, c.self, L""), defined).text,
                intended.text)
                << c.name;
        }
    }
}

struct EscapeCase {
    const wchar_t* forwarded;
    const wchar_t* escaped;
};

constexpr EscapeCase kEscapes[] = {
    {L"plain \"two words\"", L"plain \"two words\""},
    {L"a&b x|y <in >out", L"a^&b x^|y ^<in ^>out"},
    {L"c^d (z) e!f 100%", L"c^^d ^(z^) e^!f 100^%"},
    // Inside the interpreter's quotes only the percent sign needs help.
    {L"\"a & b | c ^ d\"", L"\"a & b | c ^ d\""},
    {L"\"%PATH%\"", L"\"\"^%\"PATH\"^%\"\""},
    // Backslashes before an inserted quote are doubled, so they stay literal for the program.
    {L"\"a\\%b\"", L"\"a\\\\\"^%\"b\""},
    // Percent signs side by side share one pair of inserted quotes: "" between them would be a
    // literal quote to the program wherever its splitting is inside quotes there.
    {L"\"%%\" \"a%%%b\"", L"\"\"^%^%\"\" \"a\"^%^%^%\"b\""},
    // After \" the interpreter is outside its quotes while the program's splitting is inside.
    {L"\"q\\\" & x\"", L"\"q\\\" ^& x\""},
    {L"\"line\nbreak\"", L"\"line break\""},
};

TEST(EscapeForCommandInterpreter, EscapesByTheInterpretersOwnQuoteState) {
    for (const auto& c : kEscapes) {
        EXPECT_EQ(zv::EscapeForCommandInterpreter(c.forwarded), c.escaped) << testing::PrintToString(c.forwarded);
    }
}

// Arguments that would run another command, change on the way, or expand a variable if the text
// went to the interpreter as it is.
const std::vector<std::vector<std::wstring>> kHostile = {
    {L"a&b", L"x|y", L"%PATH%"},
    {L"&& calc &&"},
    {L"\" & calc & \""},
    {L"q\" & echo pwned"},
    {L"x\" | calc \""},
    {L"a b\"c&d", L"e&f"},
    {L"\"", L"&"},
    {L"\\\"", L"|"},
    {L"^\"^&", L"^"},
    {L"%PATH%", L"a %PATH% b", L"%a%b%", L"%%", L"%"},
    {L"100% sure", L"50%"},
    {L"trailing\\", L"trail sp\\", L"a\\%b c"},
    {L"<nul", L"> out.txt", L"2>&1"},
    {L"(a)", L"!x!", L"^^"},
    {L"\u00e9t\u00e9 & \u65e5\u672c", L"\u0416%PATH%\u0416"},
    {L"--zarnovelle-launcher", L"", L"-w"},
    // After the escaped quote of the first argument the interpreter is inside its quotes while the
    // program's splitting is outside them; percent signs side by side must not leave "" behind,
    // which the program reads as a literal quote inside its own quotes.
    {L"\"", L"%%"},
    {L"a\"b", L"x%%%y", L"%%\\%"},
};

TEST(EscapeForCommandInterpreter, TheStartedLauncherGetsExactlyItsArgumentsAndNothingElseRuns) {
    // Variables that a careless escaping would expand.
    const std::map<std::wstring, std::wstring> variables = {
        {L"PATH", L"C:\\Windows"}, {L"a", L"AAA"}, {L"b", L"BBB"}, {L"x", L"XXX"}};
    for (const auto& arguments : kHostile) {
        const std::wstring forwarded = zv::JoinQuotedArguments(arguments);
        const auto passed = zv::test::ApplyInterpreterRules(zv::EscapeForCommandInterpreter(forwarded), variables);
        EXPECT_FALSE(passed.otherCommand) << testing::PrintToString(forwarded);
        // The text may differ by quote pairs inserted around percent signs; the arguments may not.

        auto split = zv::test::SplitCommandLine(L"\"C:\\Foo_ZV.exe\" " + passed.text);
        split.erase(split.begin());
        std::vector<std::wstring> expected;
        for (const auto& a : arguments) {
            if (!a.empty()) {
                expected.push_back(a);
            }
        }
        EXPECT_EQ(split, expected);
    }
}

TEST(EscapeForCommandInterpreter, UnescapedTextWouldRunAnotherCommand) {
    // The rules the test applies do catch the fault the escaping mends.
    const std::wstring forwarded = zv::JoinQuotedArguments(std::vector<std::wstring>{L"a&b"});
    EXPECT_TRUE(zv::test::ApplyInterpreterRules(forwarded, {}).otherCommand);
    const std::wstring percent = zv::JoinQuotedArguments(std::vector<std::wstring>{L"a %PATH% b"});
    EXPECT_NE(zv::test::ApplyInterpreterRules(percent, {{L"PATH", L"C:\\Windows"}}).text, percent);
}

}  // namespace
