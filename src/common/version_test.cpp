#include "common/version.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using zv::Version;

TEST(ParseVersion, TakesFourNumbersUpTo65535) {
    const struct {
        const char* text;
        std::optional<Version> version;
    } cases[] = {
        {"1.2.3.4", Version{{1, 2, 3, 4}}},
        {"0.0.0.0", Version{{0, 0, 0, 0}}},
        {"65535.65535.65535.65535", Version{{65535, 65535, 65535, 65535}}},
        {"01.002.0.00000", Version{{1, 2, 0, 0}}},
        {"65536.0.0.0", std::nullopt},
        {"000001.0.0.0", std::nullopt},
        {"99999.0.0.0", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1.2.3.", std::nullopt},
        {".1.2.3", std::nullopt},
        {"1..2.3", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"+1.2.3.4", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"1.2.3.x", std::nullopt},
        {"1,2,3,4", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::ParseVersion(c.text), c.version) << c.text;
    }
}

TEST(Version, ComparesPartByPartAsNumbers) {
    EXPECT_LT(*zv::ParseVersion("1.9.0.0"), *zv::ParseVersion("1.10.0.0")) << "not as text";
    EXPECT_LT(*zv::ParseVersion("1.2.3.4"), *zv::ParseVersion("2.0.0.0"));
    EXPECT_LT(*zv::ParseVersion("1.2.3.4"), *zv::ParseVersion("1.2.3.5"));
    EXPECT_EQ(*zv::ParseVersion("1.02.3.4"), *zv::ParseVersion("1.2.3.4"));
    EXPECT_GT(*zv::ParseVersion("0.0.1.0"), *zv::ParseVersion("0.0.0.65535"));
}

TEST(FormatVersion, WritesTheCanonicalText) {
    EXPECT_EQ(zv::FormatVersion(*zv::ParseVersion("01.002.0.65535")), "1.2.0.65535");
    EXPECT_EQ(zv::FormatVersion(Version{}), "0.0.0.0");
}

}  // namespace
