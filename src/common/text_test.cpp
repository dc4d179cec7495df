#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(FormatUtcTime, CutsToItsPrecision) {
    const auto time = sys_days{2026y / December / 31} + 23h + 59min + 59s + 999999us;
    EXPECT_EQ(zv::FormatUtcTime(time, zv::UtcPrecision::Seconds), "2026-12-31T23:59:59Z");
    EXPECT_EQ(zv::FormatUtcTime(time, zv::UtcPrecision::Milliseconds), "2026-12-31T23:59:59.999Z");
}

}  // namespace
