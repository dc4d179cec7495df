// The hand-over to the command interpreter, run through a model of the interpreter's documented
// parsing (tests/support/interpreter_rules.h): which commands it runs with which words, and what
// the restarted launcher ends up forwarding.
#include "update/replacement_command.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "argv_split.h"
#include "hand_over_model.h"
#include "interpreter_rules.h"
#include "common/command_line.h"

namespace {

using zv::test::Environment;
using zv::test::InterpreterRun;
using zv::test::RunInterpreter;

constexpr wchar_t kSystem[] = L"C:\\Windows\\system32";
constexpr wchar_t kTemp[] = L"C:\\Users\\Ann\\AppData\\Local\\Temp\\ZVL1A2.tmp";
constexpr wchar_t kSelf[] = L"C:\\Games\\Foo\\Foo_ZV.exe";

// Variables that show any expansion of text that should have stayed as it was: values that
// would start commands or break quotes, and names that hostile text refers to.
Environment HostileEnvironment() {
    return {
        {L"OS", L"Windows_NT"}, {L"PATH", L"C:\\Windows"},
        {L"a", L"& calc &"},    {L"b", L"\"|x"},
        {L"x", L"%a%"},         {L"G", L"!a!"},
        {L"T", L"X"},
    };
}

std::vector<std::wstring> NonEmpty(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> kept;
    for (const auto& a : arguments) {
        if (!a.empty()) {
            kept.push_back(a);
        }
    }
    return kept;
}

std::vector<std::wstring> ArgumentsAfterProgram(const std::wstring& commandLine) {
    std::vector<std::wstring> split = zv::test::SplitCommandLine(commandLine);
    split.erase(split.begin());
    return split;
}

TEST(BuildReplacementCommand, TheLineNeverChangesAndEverythingThatVariesTravelsInVariables) {
    struct Case {
        const wchar_t* systemFolder;
        const wchar_t* interpreter;
        const wchar_t* timeout;
    };
    const Case cases[] = {
        {L"C:\\Windows\\system32", L"C:\\Windows\\system32\\cmd.exe", L"C:\\Windows\\system32\\timeout.exe"},
        {L"D:\\WIN\\System32\\", L"D:\\WIN\\System32\\cmd.exe", L"D:\\WIN\\System32\\timeout.exe"},
    };
    for (const auto& c : cases) {
        const auto command = zv::BuildReplacementCommand(c.systemFolder, kTemp, kSelf, L"-w \"a b\"");
        EXPECT_EQ(command.interpreter, c.interpreter);
        EXPECT_EQ(command.line, zv::ReplacementCommandLine());
        EXPECT_EQ(command.environment, (std::vector<std::pair<std::wstring, std::wstring>>{
                                           {L"ZV_REPLACEMENT_TIMEOUT", c.timeout},
                                           {L"ZV_REPLACEMENT_DOWNLOAD", kTemp},
                                           {L"ZV_REPLACEMENT_SELF", kSelf},
                                           {L"ZV_REPLACEMENT_ARGUMENTS", L"-w \"a b\""},
                                       }));
    }
    EXPECT_EQ(zv::ReplacementCommandLine(),
              L"cmd.exe /d /v:on /c \"\"!ZV_REPLACEMENT_TIMEOUT!\" /t 2 /nobreak >nul && copy /y "
              L"\"!ZV_REPLACEMENT_DOWNLOAD!\" \"!ZV_REPLACEMENT_SELF!\" >nul && del \"!ZV_REPLACEMENT_DOWNLOAD!\" && "
              L"start \"\" \"!ZV_REPLACEMENT_SELF!\"\"");
}

TEST(BuildReplacementCommand, TheInterpreterCopiesAndStartsThePathsAsTheyAre) {
    struct Case {
        const char* name;
        std::wstring temp;
        std::wstring self;
    };
    const Case cases[] = {
        {"plain", kTemp, kSelf},
        {"percent signs", L"C:\\Users\\%OS%\\ZVL1.tmp", L"C:\\Spiel %OS% f\u00fcr 100%\\Foo_ZV.exe"},
        {"substitution and substring forms", L"C:\\%OS:W=X%\\ZVL1.tmp", L"C:\\%CMDCMDLINE:~0,3%\\%CD%\\Foo_ZV.exe"},
        {"exclamation marks", L"C:\\Temp !G!\\ZVL1.tmp", L"C:\\Bang!\\!OS!\\Foo_ZV.exe"},
        {"carets and ampersands", L"C:\\T^&x\\ZVL1.tmp", L"C:\\Rock & Roll ^^\\a&&b\\Foo_ZV.exe"},
        {"other punctuation", L"C:\\Program Files (x86)\\ZVL1.tmp", L"C:\\a ; b, c = d + e [@#$~'`{}]\\Foo_ZV.exe"},
        {"non-ASCII", L"C:\\\u0416\u0443\u0440\u043d\u0430\u043b\\ZVL1.tmp", L"C:\\\u30b2\u30fc\u30e0\\Foo_ZV.exe"},
    };
    for (const auto& c : cases) {
        const auto command = zv::BuildReplacementCommand(kSystem, c.temp, c.self, L"");
        const auto outcome = zv::test::PlayHandOver(command, kSystem, c.temp, c.self, HostileEnvironment());
        EXPECT_EQ(outcome.fault, L"") << c.name;
    }
}

// Argument lists that would run another command, change on the way or expand a variable if they
// were written on the interpreter's line.
const std::vector<std::vector<std::wstring>> kHostileArguments = {
    {L"%OS:W=X%"},
    {L"%CMDCMDLINE:~0,3%", L"%CD%", L"%RANDOM%"},
    {L"%CMDCMDLINE:*ZZ=%", L"ZZ", L"x & calc & rem"},
    {L"!OS!", L"!a!", L"^!OS^!"},
    {L"%%", L"%", L"%a%b%", L"100% sure"},
    {L"^", L"^^", L"c^d"},
    {L"q\"&\"x", L"\"", L"\\\"", L"q\" & echo pwned"},
    {L"trailing\\", L"trail sp\\", L"a\\%b c"},
    {L"a\rb", L"line\nbreak", L"\r", L"\n&calc"},
    {L"a&b", L"x|y", L"<in", L">out", L"2>&1", L"(z)"},
    {L"\u00e9t\u00e9 & \u65e5\u672c", L"\u0416%PATH%\u0416"},
    {L"--zarnovelle-launcher", L"", L"-w"},
    {},
};

TEST(BuildReplacementCommand, TheRestartedLauncherForwardsExactlyTheArgumentsItWasGiven) {
    for (const auto& arguments : kHostileArguments) {
        const auto command = zv::BuildReplacementCommand(kSystem, kTemp, kSelf, zv::JoinQuotedArguments(arguments));
        const auto outcome = zv::test::PlayHandOver(command, kSystem, kTemp, kSelf, HostileEnvironment());
        EXPECT_EQ(outcome.fault, L"") << testing::PrintToString(arguments);
        EXPECT_EQ(outcome.restartedArguments, NonEmpty(arguments)) << testing::PrintToString(arguments);
    }
}

TEST(BuildReplacementCommand, ArgumentsGivenOnTheCommandLineWinOverAHandedOverList) {
    // Only the hand-over starts the launcher without arguments and with the variable set; a
    // variable left in some environment never replaces arguments a user gave.
    using zv::test::ArgumentsOfRestartedLauncher;
    const Environment inherited = {{zv::kReplacementArgumentsVariable, L"stale \"x y\""}};
    EXPECT_EQ(ArgumentsOfRestartedLauncher(L"\"C:\\Foo_ZV.exe\" -mine", inherited),
              (std::vector<std::wstring>{L"-mine"}));
    EXPECT_EQ(ArgumentsOfRestartedLauncher(L"\"C:\\Foo_ZV.exe\"", inherited),
              (std::vector<std::wstring>{L"stale", L"x y"}));
    EXPECT_EQ(ArgumentsOfRestartedLauncher(L"\"C:\\Foo_ZV.exe\"", {}), std::vector<std::wstring>{});
}

// The model is only worth its verdicts if it sees the faults of the caret escaping the launcher
// used before: these are the lines that escaping wrote.
TEST(InterpreterModel, SeesWhatTheCaretEscapingLetThrough) {
    const std::wstring oldPrefix =
        L"cmd.exe /c \"timeout /t 2 /nobreak >nul && copy /y \"C:\\T\\ZVL1.tmp\" \"C:\\G\\Foo_ZV.exe\" >nul && "
        L"del \"C:\\T\\ZVL1.tmp\" && start \"\" \"C:\\G\\Foo_ZV.exe\" ";
    const Environment environment = HostileEnvironment();
    const auto startedWith = [&](const std::wstring& escaped) {
        const InterpreterRun run = RunInterpreter(oldPrefix + escaped + L"\"", environment);
        std::vector<std::wstring> names;
        for (const auto& command : run.commands) {
            names.push_back(command.name);
        }
        const auto started = run.commands.size() >= 4 ? zv::test::ProgramStartedBy(run.commands[3]) : std::nullopt;
        return std::make_pair(names,
                              started ? ArgumentsAfterProgram(started->commandLine) : std::vector<std::wstring>{});
    };
    // %OS:W=X%: the caret before the closing percent sign became part of the replacement text.
    EXPECT_EQ(startedWith(L"^%OS:W=X^%").second, (std::vector<std::wstring>{L"XindoXs_NT"}));
    // %CMDCMDLINE:*ZZ=% pasted the tail of the interpreter's own line back in, out of its quotes.
    const auto pasted = startedWith(L"^%CMDCMDLINE:*ZZ=^% ZZ \"x & calc & rem\"");
    EXPECT_EQ(pasted.first.size() > 4 ? pasted.first[4] : L"", L"calc") << "calc runs";
    // A carriage return cannot travel on the line: the interpreter drops it (the escaping made it a
    // blank, so a<CR>b came back as two arguments).
    EXPECT_EQ(startedWith(L"a\rb").second, (std::vector<std::wstring>{L"ab"}));
    // A path with a percent sign, written on the line, named another file.
    const InterpreterRun path =
        RunInterpreter(L"cmd.exe /c \"copy /y \"C:\\T\\ZVL1.tmp\" \"C:\\Spiel %OS%\\Foo_ZV.exe\"\"", environment);
    ASSERT_EQ(path.commands.size(), 1u);
    EXPECT_EQ(path.commands[0].words.back(), L"C:\\Spiel Windows_NT\\Foo_ZV.exe");
}

TEST(InterpreterModel, KnowsTheVariableForms) {
    const Environment environment = {{L"OS", L"Windows_NT"}, {L"p", L"C:\\a\\b"}};
    struct Case {
        const wchar_t* typed;
        const wchar_t* expanded;
    };
    const Case cases[] = {
        {L"%OS%", L"Windows_NT"},
        {L"%os:w=X%", L"XindoXs_NT"},
        {L"%OS:*do=%", L"ws_NT"},
        {L"%OS:~0,3%", L"Win"},
        {L"%OS:~-2%", L"NT"},
        {L"%OS:~2,-3%", L"ndows"},
        {L"%p:\\=/%", L"C:/a/b"},
        {L"%CD%|%__CD__%", L"C:\\Games\\Foo|C:\\Games\\Foo\\"},
        {L"%RANDOM%%ERRORLEVEL%", L"42420"},
        {L"%CMDCMDLINE:~0,3%", L"cmd"},
        {L"%nope%", L"%nope%"},
        {L"%a %OS% c%", L"%a Windows_NT c%"},
        {L"100%", L"100%"},
        {L"%%", L"%%"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::test::ExpandPercentReferences(c.typed, environment, L"cmd.exe /c x"), c.expanded)
            << testing::PrintToString(std::wstring(c.typed));
    }
    // Delayed expansion: after the operators, and its values are not read again.
    const InterpreterRun run =
        RunInterpreter(L"cmd /v:on /c \"echo !V! ^& !OS:~0,3! a^^!b & x\"", {{L"V", L"%OS% & !OS!"}, {L"OS", L"W"}});
    ASSERT_EQ(run.commands.size(), 2u);
    EXPECT_EQ(run.commands[0].tail, L" %OS% & !OS! & W a!b ");
    EXPECT_EQ(run.commands[1].name, L"x");
}

TEST(FitsInterpreterLimits, PathsBelowMaxPathAndArgumentsWithinOneVariable) {
    const std::wstring longest(259, L'x');
    const std::wstring tooLong(260, L'x');
    const std::wstring text(8191, L'a');
    EXPECT_TRUE(zv::FitsInterpreterLimits(longest, longest, text));
    EXPECT_FALSE(zv::FitsInterpreterLimits(tooLong, kSelf, L""));
    EXPECT_FALSE(zv::FitsInterpreterLimits(kTemp, tooLong, L""));
    EXPECT_FALSE(zv::FitsInterpreterLimits(kTemp, kSelf, text + L"a"));
}

}  // namespace
