#include "common/base64.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64, RoundTripsTheRfcVectors) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xfb\xff\xbf", "+/+/"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(zv::EncodeBase64(Bytes(plain)), encoded);
        const auto decoded = zv::DecodeBase64(encoded);
        ASSERT_TRUE(decoded.has_value()) << encoded;
        EXPECT_EQ(*decoded, Bytes(plain));
    }
}

TEST(Base64, RefusesEverythingButCanonicalStandardText) {
    for (const std::string_view text : {
             "Zg",        // no padding
             "Zg=",       // short padding
             "Zh==",      // bits left over that are not zero
             "Zm9=",      // the same with one pad
             "Zg==Zg==",  // padding inside
             "Z===",      // too much padding
             "====",      //
             "Zm9v\n",    // a line break
             "Zm 9v",     // a blank
             "Zm-_",      // the URL-safe letters
             "Zm9v=",     // stray padding
         }) {
        EXPECT_FALSE(zv::DecodeBase64(text).has_value()) << text;
    }
}

}  // namespace
