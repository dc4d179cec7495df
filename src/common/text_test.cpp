#include "common/text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

namespace {

using namespace std::chrono;

TEST(ToUtf8, EncodesEveryCodePointAndReplacesWhatIsNone) {
    EXPECT_EQ(zv::ToUtf8(L"C:\\Games\\Foo"), "C:\\Games\\Foo");
    EXPECT_EQ(zv::ToUtf8(L"\u00e9\u0416\u30b2"), "\xC3\xA9\xD0\x96\xE3\x82\xB2");
    EXPECT_EQ(zv::ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD") << "a lone surrogate";
#ifdef _WIN32
    EXPECT_EQ(zv::ToUtf8(L"\xD83C\xDFAE"), "\xF0\x9F\x8E\xAE") << "a surrogate pair";
#else
    EXPECT_EQ(zv::ToUtf8(std::wstring(1, static_cast<wchar_t>(0x1F3AE))), "\xF0\x9F\x8E\xAE");
#endif
}

TEST(FromUtf8, DecodesUtf8AndReplacesWhatIsNot) {
    EXPECT_EQ(zv::FromUtf8("C:\\Games\\Foo"), L"C:\\Games\\Foo");
    EXPECT_EQ(zv::FromUtf8("\xC3\xA9\xD0\x96\xE3\x82\xB2"), L"\u00e9\u0416\u30b2");
    EXPECT_EQ(zv::ToUtf8(zv::FromUtf8("\xF0\x9F\x8E\xAE")), "\xF0\x9F\x8E\xAE") << "beyond U+FFFF, both ways";
    const std::wstring replacement(1, static_cast<wchar_t>(0xFFFD));
    for (const char* text : {"\xFF", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_EQ(zv::FromUtf8(text).substr(0, 1), replacement) << "a lone byte, cut short, overlong, a surrogate, "
                                                                   "past U+10FFFF";
    }
}

TEST(FormatUtcTime, CutsToItsPrecision) {
    const auto time = floor<milliseconds>(sys_days{2026y / December / 31} + 23h + 59min + 59s + 999999us);
    EXPECT_EQ(zv::FormatUtcTime(time, zv::UtcPrecision::Seconds), "2026-12-31T23:59:59Z");
    EXPECT_EQ(zv::FormatUtcTime(time, zv::UtcPrecision::Milliseconds), "2026-12-31T23:59:59.999Z");
}

TEST(ParseUtcTime, TakesExactlyTheWrittenForm) {
    const auto time = sys_days{2026y / December / 31} + 23h + 59min + 59s;
    EXPECT_EQ(zv::ParseUtcTime("2026-12-31T23:59:59Z"), time);
    EXPECT_EQ(zv::ParseUtcTime(zv::FormatUtcTime(time, zv::UtcPrecision::Seconds)), time) << "reads what it writes";
    EXPECT_EQ(zv::ParseUtcTime("2028-02-29T00:00:00Z"), sys_days{2028y / February / 29});
    EXPECT_EQ(zv::ParseUtcTime("1970-01-01T00:00:00Z"), sys_days{1970y / January / 1});
    // Past the nanosecond clock's end in 2262: found by fuzzing.
    EXPECT_EQ(zv::ParseUtcTime("9999-12-31T23:59:59Z"), sys_days{9999y / December / 31} + 23h + 59min + 59s);
    EXPECT_EQ(zv::FormatUtcTime(*zv::ParseUtcTime("4040-02-29T00:00:00Z"), zv::UtcPrecision::Seconds),
              "4040-02-29T00:00:00Z");
    for (const char* text : {"",
                             "2026-12-31T23:59:59",
                             "2026-12-31t23:59:59Z",
                             "2026-12-31T23:59:59z",
                             "2026-12-31 23:59:59Z",
                             "2026-12-31T23:59:59.000Z",
                             "2026-12-31T23:59:59+00:00",
                             "2026-1-31T23:59:59Z",
                             "+026-12-31T23:59:59Z",
                             "2026-13-01T00:00:00Z",
                             "2026-00-01T00:00:00Z",
                             "2026-02-29T00:00:00Z",
                             "2026-04-31T00:00:00Z",
                             "2026-12-00T00:00:00Z",
                             "2026-12-31T24:00:00Z",
                             "2026-12-31T23:60:00Z",
                             "2026-12-31T23:59:60Z",
                             "1969-12-31T23:59:59Z",
                             " 2026-12-31T23:59:59Z",
                             "2026-12-31T23:59:59Z ",
                             "2026-12-31T23:59:59Z\n",
                             "２026-12-31T23:59:59Z"}) {
        EXPECT_EQ(zv::ParseUtcTime(text), std::nullopt) << text;
    }
}

TEST(JoinPath, AddsOneSeparatorOnlyWhereNoneEndsTheDirectory) {
    struct Case {
        std::wstring_view directory;
        std::wstring_view name;
        wchar_t separator;
        std::wstring_view joined;
    };
    const Case cases[] = {
        {L"C:\\Games\\Foo", L"ZVClient.dll", L'\\', L"C:\\Games\\Foo\\ZVClient.dll"},
        {L"C:\\", L"Foo", L'\\', L"C:\\Foo"},
        {L"C:/Games/", L"Foo", L'\\', L"C:/Games/Foo"},  // "/" separates on Windows too
        {L"", L"Foo.exe", L'\\', L"Foo.exe"},            // relative to the current directory
        {L"C:\\Games", L"", L'\\', L"C:\\Games\\"},      // the prefix of a listing
        {L"tree", L"launcher", L'/', L"tree/launcher"},
        {L"odd\\", L"launcher", L'/', L"odd\\/launcher"},  // a POSIX name may end in a backslash
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::JoinPath(c.directory, c.name, c.separator), c.joined);
    }
}

TEST(EqualsIgnoringAsciiCase, FoldsOnlyTheAsciiLetters) {
    EXPECT_TRUE(zv::EqualsIgnoringAsciiCase("ZVClient.DLL", "zvclient.dll"));
    EXPECT_TRUE(zv::EqualsIgnoringAsciiCase(L"C:\\USERS\\Zv", L"c:\\users\\zV"));
    EXPECT_FALSE(zv::EqualsIgnoringAsciiCase("ZVClient.dll", "ZVClient.dl"));
    EXPECT_FALSE(zv::EqualsIgnoringAsciiCase(L"\u00C9", L"\u00E9")) << "no folding beyond ASCII";
    EXPECT_FALSE(zv::EqualsIgnoringAsciiCase("@", "`")) << "the neighbours of A-Z stay apart";
    EXPECT_FALSE(zv::EqualsIgnoringAsciiCase("[", "{"));
    EXPECT_EQ(zv::FoldAsciiCase("Updates.Example.COM:9443 @[`{\xC3\x89"), "updates.example.com:9443 @[`{\xC3\x89");
}

TEST(IsVisibleAscii, TakesPrintableAsciiWithoutBlanksOnly) {
    const std::pair<std::string, bool> cases[] = {
        {"https://cdn.example.com/a%20b/", true},
        {"!~", true},  // 0x21 and 0x7E, the first and the last
        {"", true},
        {"a b", false},
        {"a\tb", false},
        {std::string("a\0b", 3), false},
        {"del\x7F", false},
        {"caf\xC3\xA9", false},  // bytes above 0x7F, whatever char's sign
    };
    for (const auto& [text, visible] : cases) {
        EXPECT_EQ(zv::IsVisibleAscii(text), visible) << text;
        EXPECT_EQ(zv::IsVisibleAscii(zv::FromUtf8(text)), visible) << text;
    }
}

}  // namespace
