#include "common/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "argv_split.h"
#include "common/process_paths.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

using zv::AppendQuotedArgument;
using zv::JoinQuotedArguments;

std::wstring Quote(std::wstring_view argument) {
    std::wstring text;
    AppendQuotedArgument(text, argument);
    return text;
}

struct QuoteCase {
    const wchar_t* argument;
    const wchar_t* quoted;
};

constexpr QuoteCase kQuoteCases[] = {
    {L"", L""},
    {L"plain", L"plain"},
    {L"C:\\Games\\Foo", L"C:\\Games\\Foo"},  // single backslashes kept, no quotes
    {L"trailing\\", L"trailing\\"},
    {L"a&b", L"a&b"},
    {L"x^y", L"x^y"},
    {L"\u00e9t\u00e9\u65e5\u672c", L"\u00e9t\u00e9\u65e5\u672c"},  // nothing above U+00FF forces quotes
    {L"two words", L"\"two words\""},
    {L"C:\\Program Files\\Foo", L"\"C:\\Program Files\\Foo\""},
    {L"ends in one\\", L"\"ends in one\\\\\""},
    {L"say\"hi", L"\"say\\\"hi\""},
    {L"two\\\\\"q", L"\"two\\\\\\\\\\\"q\""},  // two backslashes before a quote: five and the quote
    {L"tab\there", L"\"tab\there\""},
    {L"line\nfeed", L"\"line\nfeed\""},
    {L"vertical\vtab", L"\"vertical\vtab\""},
    {L"\"", L"\"\\\"\""},
    {L" ", L"\" \""},
};

TEST(AppendQuotedArgument, QuotesOnlyWhereTheRuleSays) {
    for (const auto& c : kQuoteCases) {
        EXPECT_EQ(Quote(c.argument), c.quoted) << "argument: " << testing::PrintToString(std::wstring(c.argument));
    }
}

TEST(AppendQuotedArgument, AppendsToWhatIsThere) {
    std::wstring text = L"\"C:\\Game.exe\" ";
    AppendQuotedArgument(text, L"a b");
    EXPECT_EQ(text, L"\"C:\\Game.exe\" \"a b\"");
}

TEST(JoinQuotedArguments, SeparatesByOneBlankAndDropsNothingButEmptyText) {
    EXPECT_EQ(JoinQuotedArguments(std::vector<std::wstring>{}), L"");
    EXPECT_EQ(JoinQuotedArguments(std::vector<std::wstring>{L"one"}), L"one");
    EXPECT_EQ(JoinQuotedArguments(std::vector<std::wstring>{L"a", L"", L"c"}), L"a  c");
    EXPECT_EQ(JoinQuotedArguments(std::vector<std::wstring>{L"a b", L"c"}), L"\"a b\" c");
}

// Arguments that are awkward for one rule or another of the platform's splitting.
const std::vector<std::wstring> kAwkward = {
    L"plain",
    L"two words",
    L"\ttab first",
    L"say \"hi\" there",
    L"\"",
    L"\"\"",
    L"trailing\\",
    L"trailing space\\",
    L"trailing\\\\",
    L"blank and many\\\\\\",
    L"\\\\\"",
    L"a\\\\\\\"b c",
    L"\\\\server\\share\\dir with blank\\",
    L"C:\\Program Files (x86)\\Zarnovelle\\",
    L"--opt=\"quoted value\"",
    L"a&b",
    L"x|y",
    L"100%",
    L"%PATH%",
    L"^caret^",
    L"a^&b c",
    L"\u00c9l\u00e8ve \u0416\u0443\u043a \u65e5\u672c\u8a9e",
    L"\U0001F3AE game",
    L"line\nfeed",
    L"--zarnovelle-launcher",
};

// What splitting the joined text gives back: every argument except the empty ones.
std::vector<std::wstring> WithoutEmpty(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> kept;
    for (const auto& a : arguments) {
        if (!a.empty()) {
            kept.push_back(a);
        }
    }
    return kept;
}

std::vector<std::vector<std::wstring>> RoundTripCases() {
    std::vector<std::vector<std::wstring>> cases;
    for (const auto& a : kAwkward) {
        cases.push_back({a});
    }
    cases.push_back(kAwkward);
    cases.push_back({L"first", L"", L"third"});
    cases.push_back({L"", L""});
    return cases;
}

TEST(JoinQuotedArguments, SplitsBackIntoTheSameArgumentsByTheDocumentedRules) {
    for (const auto& arguments : RoundTripCases()) {
        const std::wstring line = L"\"C:\\Launcher Dir\\Foo_ZV.exe\" " + JoinQuotedArguments(arguments);
        auto split = zv::test::SplitCommandLine(line);
        ASSERT_FALSE(split.empty());
        EXPECT_EQ(split.front(), L"C:\\Launcher Dir\\Foo_ZV.exe");
        split.erase(split.begin());
        EXPECT_EQ(split, WithoutEmpty(arguments)) << "line: " << testing::PrintToString(line);
    }
}

#ifdef _WIN32
// The same with the platform's own splitter.
TEST(JoinQuotedArguments, SplitsBackIntoTheSameArgumentsWithCommandLineToArgvW) {
    for (const auto& arguments : RoundTripCases()) {
        const std::wstring line = L"\"C:\\Launcher Dir\\Foo_ZV.exe\" " + JoinQuotedArguments(arguments);
        int count = 0;
        wchar_t** argv = ::CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(argv, nullptr);
        std::vector<std::wstring> split(argv + 1, argv + count);
        ::LocalFree(argv);
        EXPECT_EQ(split, WithoutEmpty(arguments)) << "line: " << testing::PrintToString(line);
    }
}
#endif

// GetModuleFileNameW's contract: the count written, or the buffer size when the path was cut.
struct FakeModuleFileName {
    std::wstring path;
    std::vector<std::uint32_t> sizesSeen;
    bool fail = false;

    std::uint32_t operator()(wchar_t* buffer, std::uint32_t size) {
        sizesSeen.push_back(size);
        if (fail) {
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(path.size(), size - 1);
        path.copy(buffer, n);
        buffer[n] = L'\0';
        return path.size() >= size ? size : static_cast<std::uint32_t>(path.size());
    }
};

TEST(ReadGrowingPath, GrowsTheBufferUntilTheWholePathFits) {
    struct Case {
        std::size_t length;
        std::vector<std::uint32_t> sizes;
    };
    const Case cases[] = {
        {1, {260}},
        {259, {260}},
        {260, {260, 520}},
        {600, {260, 520, 1040}},
        {32767, {260, 520, 1040, 2080, 4160, 8320, 16640, 33280}},
    };
    for (const auto& c : cases) {
        FakeModuleFileName fake{std::wstring(c.length, L'p'), {}, false};
        EXPECT_EQ(zv::ReadGrowingPath(std::ref(fake)), fake.path);
        EXPECT_EQ(fake.sizesSeen, c.sizes) << "length " << c.length;
    }
}

TEST(ReadGrowingPath, IsEmptyWhenThePlatformReportsNothing) {
    FakeModuleFileName fake{L"C:\\x.exe", {}, true};
    EXPECT_EQ(zv::ReadGrowingPath(std::ref(fake)), L"");
}

}  // namespace
