// SHA-256 through the platform's cryptography: BCrypt under Wine, OpenSSL natively; the same
// vectors hold for both.
#include "integrity/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::optional<zv::Sha256Digest>& digest) { return digest ? zv::Sha256ToHex(*digest) : "<none>"; }

TEST(Sha256, KnownAnswersWholeAndInPieces) {
    struct Case {
        std::string message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(zv::Sha256Of(c.message.data(), c.message.size())), c.digest) << c.message.size();
        zv::Sha256 pieces;
        for (std::size_t at = 0; at < c.message.size(); at += 4099) {
            pieces.Update(c.message.data() + at, std::min<std::size_t>(4099, c.message.size() - at));
        }
        EXPECT_EQ(Hex(pieces.Final()), c.digest) << c.message.size();
    }
}

TEST(Sha256, AFinishedHashGivesNothingMore) {
    zv::Sha256 hash;
    hash.Update("abc", 3);
    ASSERT_TRUE(hash.Final().has_value());
    EXPECT_FALSE(hash.Final().has_value());
}

TEST(Sha256FromHex, SixtyFourDigitsOfEitherCaseOnly) {
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = lower;
    for (auto& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    ASSERT_TRUE(zv::Sha256FromHex(lower).has_value());
    EXPECT_EQ(zv::Sha256ToHex(*zv::Sha256FromHex(lower)), lower);
    EXPECT_EQ(zv::Sha256FromHex(upper), zv::Sha256FromHex(lower));
    const std::string shorter = lower.substr(1);
    const std::string bad[] = {shorter, lower + "0", std::string(1, ' ').append(shorter), shorter + "g", ""};
    for (const std::string& text : bad) {
        EXPECT_FALSE(zv::Sha256FromHex(text).has_value()) << text;
    }
}

}  // namespace
