#include "net/transfer_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace {

struct TlsCase {
    const char* name;
    std::map<std::uint32_t, std::uint32_t> refused;  // flags -> the error setting them gives
    bool restricted;
    std::uint32_t error;               // when not restricted
    std::vector<std::uint32_t> tried;  // every set of flags, in order
};

// Wine's WinHTTP accepts every set of flags, so only this stand-in shows a WinHTTP that refuses some.
TEST(RestrictToTls12And13, FallsBackToTls12OnlyWhereTls13IsNotSupported) {
    constexpr std::uint32_t both = zv::kSecureProtocolTls12 | zv::kSecureProtocolTls13;
    constexpr std::uint32_t tls12 = zv::kSecureProtocolTls12;
    constexpr std::uint32_t notSupported = zv::kProtocolsNotSupported;
    constexpr std::uint32_t invalidHandle = 6;
    const TlsCase cases[] = {
        {"TLS 1.2 and 1.3", {}, true, 0, {both}},
        {"no TLS 1.3: TLS 1.2 alone", {{both, notSupported}}, true, 0, {both, tls12}},
        {"neither", {{both, notSupported}, {tls12, notSupported}}, false, notSupported, {both, tls12}},
        {"another failure is no reason to try less", {{both, invalidHandle}}, false, invalidHandle, {both}},
        {"TLS 1.2 alone fails otherwise",
         {{both, notSupported}, {tls12, invalidHandle}},
         false,
         invalidHandle,
         {both, tls12}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint32_t> tried;
        const auto set = [&](std::uint32_t flags, std::uint32_t& error) {
            tried.push_back(flags);
            const auto refusal = c.refused.find(flags);
            if (refusal == c.refused.end()) {
                return true;
            }
            error = refusal->second;
            return false;
        };
        std::uint32_t error = 0;
        EXPECT_EQ(zv::RestrictToTls12And13(set, error), c.restricted);
        if (!c.restricted) {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_EQ(tried, c.tried);
    }
}

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

namespace {

TEST(ParseContentRange, ReadsOnlyAWholeRangeOfAKnownTotal) {
    using zv::ContentRange;
    const std::pair<const wchar_t*, std::optional<ContentRange>> cases[] = {
        {L"bytes 100-199/200", ContentRange{100, 199, 200}},
        {L"  bytes 0-0/1 ", ContentRange{0, 0, 1}},
        {L"bytes 0-18446744073709551614/18446744073709551615",
         ContentRange{0, 18446744073709551614ull, 18446744073709551615ull}},
        {L"bytes 100-199/*", std::nullopt},  // an unknown total cannot be checked against the held one
        {L"bytes */200", std::nullopt},      // what a 416 carries
        {L"bytes 200-100/300", std::nullopt},
        {L"bytes 100-200/200", std::nullopt},  // the last byte beyond the total
        {L"bytes 100 -199/200", std::nullopt},
        {L"bytes=100-199/200", std::nullopt},
        {L"Bytes 100-199/200", std::nullopt},
        {L"items 100-199/200", std::nullopt},
        {L"bytes -199/200", std::nullopt},
        {L"bytes 100-199/18446744073709551616", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& [text, range] : cases) {
        EXPECT_EQ(zv::ParseContentRange(text), range) << std::wstring_view(text).size();
    }
}

TEST(ResumeHeaders, AskForTheRestOfTheSameAnswerWithAValidatorThatCannotAddAHeader) {
    EXPECT_EQ(zv::ResumeHeaders(3000, "\"abc\""), L"Range: bytes=3000-\r\nIf-Range: \"abc\"\r\n");
    EXPECT_EQ(zv::ResumeHeaders(1, "Thu, 10 Dec 2026 12:00:00 GMT"),
              L"Range: bytes=1-\r\nIf-Range: Thu, 10 Dec 2026 12:00:00 GMT\r\n");
    EXPECT_TRUE(zv::IsUsableValidator("W/\"weak\""));
    EXPECT_TRUE(zv::IsUsableValidator(std::string(256, 'a')));
    for (const std::string_view bad :
         {std::string_view(""), std::string_view("\"a\"\r\nX-Evil: 1"), std::string_view("a\nb"),
          std::string_view("tab\there"), std::string_view("\x7f"), std::string_view("caf\xc3\xa9")}) {
        EXPECT_FALSE(zv::IsUsableValidator(bad)) << bad;
    }
    EXPECT_FALSE(zv::IsUsableValidator(std::string(257, 'a')));
    EXPECT_TRUE(zv::ContinuesHeld({100, 199, 200}, 100, 200));
    EXPECT_FALSE(zv::ContinuesHeld({101, 199, 200}, 100, 200)) << "a gap";
    EXPECT_FALSE(zv::ContinuesHeld({50, 199, 200}, 100, 200)) << "an overlap";
    EXPECT_FALSE(zv::ContinuesHeld({100, 198, 199}, 100, 200)) << "another answer's length";
    EXPECT_FALSE(zv::ContinuesHeld({100, 150, 200}, 100, 200)) << "not to the end";
}

}  // namespace
