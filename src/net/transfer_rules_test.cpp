#include "net/transfer_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

struct LengthCase {
    const char* name;
    std::uint32_t status;
    bool chunked;
    std::optional<std::wstring_view> contentLength;
    std::optional<std::uint64_t> expected;
};

TEST(AnnouncedBodyLength, TakesContentLengthOnlyWhereItFramesTheBody) {
    const LengthCase cases[] = {
        {"plain number", 200, false, L"50000", 50000},
        {"zero", 200, false, L"0", 0},
        {"blanks around the digits", 206, false, L" \t42 ", 42},
        {"beyond 32 bits", 200, false, L"5368709120", 5368709120ULL},
        {"largest 64-bit value", 200, false, L"18446744073709551615", 18446744073709551615ULL},
        {"one past 64 bits", 200, false, L"18446744073709551616", std::nullopt},
        {"far past 64 bits", 200, false, L"99999999999999999999999", std::nullopt},
        {"no header", 200, false, std::nullopt, std::nullopt},
        {"empty value", 200, false, L"", std::nullopt},
        {"only blanks", 200, false, L"  ", std::nullopt},
        {"sign", 200, false, L"-1", std::nullopt},
        {"plus sign", 200, false, L"+5", std::nullopt},
        {"trailing junk", 200, false, L"12a", std::nullopt},
        {"two values", 200, false, L"5, 5", std::nullopt},
        {"blank inside", 200, false, L"1 2", std::nullopt},
        {"chunked body ignores the header", 200, true, L"10", std::nullopt},
        {"204 has no body whatever the header says", 204, false, L"10", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(zv::AnnouncedBodyLength(c.status, c.chunked, c.contentLength), c.expected);
    }
}

TEST(CheckBodyEnd, TellsACutBodyFromAWholeOne) {
    EXPECT_EQ(zv::CheckBodyEnd(std::nullopt, 123), zv::BodyEnd::Complete);
    EXPECT_EQ(zv::CheckBodyEnd(0, 0), zv::BodyEnd::Complete);
    EXPECT_EQ(zv::CheckBodyEnd(5368709120ULL, 5368709120ULL), zv::BodyEnd::Complete);
    // A 32-bit count would wrap here and call the cut body whole.
    EXPECT_EQ(zv::CheckBodyEnd(4294968296ULL, 1000), zv::BodyEnd::Short);
    EXPECT_EQ(zv::CheckBodyEnd(50000, 1000), zv::BodyEnd::Short);
    EXPECT_EQ(zv::CheckBodyEnd(10, 11), zv::BodyEnd::Long);
}

}  // namespace
