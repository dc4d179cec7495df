#include "integrity/sha1.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "integrity/sha1_engine.h"
#include "random_bytes.h"

namespace {

using zv::DigestFromHex;
using zv::Sha1Digest;
using zv::Sha1Engine;
using zv::Sha1FromHex;
using zv::Sha1ToHex;

using Bytes = std::vector<std::uint8_t>;

std::string Hex(const Sha1Digest& digest) { return Sha1ToHex(digest); }

// Hashes data fed in pieces of the given sizes (the last piece takes whatever is left).
Sha1Digest HashInPieces(Sha1Engine engine, std::string_view data, const std::vector<std::size_t>& pieces) {
    zv::Sha1 hash(engine);
    std::size_t at = 0;
    for (const std::size_t piece : pieces) {
        const std::size_t take = std::min(piece, data.size() - at);
        hash.Update(data.data() + at, take);
        at += take;
    }
    hash.Update(data.data() + at, data.size() - at);
    return hash.Final();
}

Sha1Digest HashAtOnce(Sha1Engine engine, std::string_view data) { return HashInPieces(engine, data, {}); }

std::vector<std::size_t> Repeat(std::size_t piece, std::size_t times) { return std::vector<std::size_t>(times, piece); }

struct KnownDigest {
    std::string name;
    std::string message;
    const char* sha1;
};

// The FIPS 180-4 examples, and runs of 'a' on either side of the block and padding edges (from 56
// buffered bytes on, the padding takes a second block).
std::vector<KnownDigest> KnownDigests() {
    std::vector<KnownDigest> cases = {
        {"Empty", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"Abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"Message448Bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"Message896Bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
         "tnopqrstu",
         "a49b2446a02c645bf419f995b67091253a04a259"},
        {"MillionA", std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    const std::pair<std::size_t, const char*> runs[] = {
        {55, "c1c8bbdc22796e28c0e15163d20899b65621d65a"},  {56, "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {57, "f08f24908d682555111be7ff6f004e78283d989a"},  {63, "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
        {64, "0098ba824b5c16427bd7a1122a5a442a25ec644d"},  {65, "11655326c708d70319be2610e8a57d9a5b959d3b"},
        {119, "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"}, {120, "f34c1488385346a55709ba056ddd08280dd4c6d6"},
        {127, "89d95fa32ed44a7c610b7ee38517ddf57e0bb975"}, {128, "ad5b3fdbcb526778c2839d2f151ea753995e26a0"},
        {129, "d96debf1bdcbc896e6c134ea76e8141f40d78536"},
    };
    for (const auto& [length, sha1] : runs) {
        cases.push_back({std::to_string(length) + "TimesA", std::string(length, 'a'), sha1});
    }
    return cases;
}

class Sha1EngineTest : public testing::TestWithParam<Sha1Engine> {
protected:
    void SetUp() override {
        if (!zv::Sha1EngineSupported(GetParam())) {
            GTEST_SKIP() << "this processor lacks the instructions of the engine";
        }
    }
};

TEST_P(Sha1EngineTest, KnownDigestsAtOnceByteByByteAndInUnevenPieces) {
    for (const auto& c : KnownDigests()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Hex(HashAtOnce(GetParam(), c.message)), c.sha1);
        if (c.message.size() <= 1000) {
            EXPECT_EQ(Hex(HashInPieces(GetParam(), c.message, Repeat(1, c.message.size()))), c.sha1);
        }
        EXPECT_EQ(Hex(HashInPieces(GetParam(), c.message, Repeat(63, 2))), c.sha1);
        EXPECT_EQ(Hex(HashInPieces(GetParam(), c.message, {1, 63, 0, 64, 127, 5})), c.sha1);
    }
}

// Random messages of every length across several blocks, fed in random pieces (empty pieces
// included), must give what the portable engine gives for the whole message at once.
TEST_P(Sha1EngineTest, RandomMessagesInRandomPiecesMatchThePortableEngine) {
    std::mt19937 random(20261210);
    std::uniform_int_distribution<std::size_t> pieceSize(0, 150);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 300; ++length) {
        lengths.push_back(length);
    }
    lengths.push_back(65536 * 3 + 55);
    for (const std::size_t length : lengths) {
        const std::string message = zv::test::RandomByteString(length, static_cast<std::uint32_t>(length));
        std::vector<std::size_t> pieces;
        for (std::size_t total = 0; total < length;) {
            pieces.push_back(pieceSize(random));
            total += pieces.back();
        }
        const Sha1Digest expected = HashAtOnce(Sha1Engine::Portable, message);
        EXPECT_EQ(HashAtOnce(GetParam(), message), expected) << "length " << length;
        EXPECT_EQ(HashInPieces(GetParam(), message, pieces), expected) << "length " << length;
    }
}

TEST_P(Sha1EngineTest, AcceptsAnEmptySpanWithoutData) {
    zv::Sha1 hash(GetParam());
    hash.Update("ab", 2);
    hash.Update(nullptr, 0);
    hash.Update("c", 1);
    EXPECT_EQ(Hex(hash.Final()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha1EngineTest, testing::Values(Sha1Engine::Portable, Sha1Engine::ShaExtensions),
                         [](const testing::TestParamInfo<Sha1Engine>& info) {
                             return info.param == Sha1Engine::Portable ? "Portable" : "ShaExtensions";
                         });

TEST(Sha1, UsesTheShaExtensionsWhereTheProcessorHasThem) {
    const Sha1Engine expected =
        zv::Sha1EngineSupported(Sha1Engine::ShaExtensions) ? Sha1Engine::ShaExtensions : Sha1Engine::Portable;
    EXPECT_EQ(zv::Sha1ActiveEngine(), expected);

    EXPECT_EQ(Hex(zv::Sha1Of("abc", 3)), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

Sha1Digest DigestOf(std::initializer_list<std::uint8_t> bytes) {
    Sha1Digest digest;
    std::copy(bytes.begin(), bytes.end(), digest.bytes.begin());
    return digest;
}

TEST(Sha1ToHex, TwoLowerCaseDigitsPerByteInOrder) {
    const struct {
        Sha1Digest digest;
        const char* text;
    } cases[] = {
        {Sha1Digest{}, "0000000000000000000000000000000000000000"},
        {DigestOf({0x0A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xF0,
                   0x0F, 0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0xFF}),
         "0a0123456789abcdeff00f1032547698badcfeff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha1ToHex(c.digest), c.text);
    }
}

TEST(DigestFromHex, ReadsEitherCase) {
    const Sha1Digest expected = DigestOf({0x0A, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xF0,
                                          0x0F, 0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0xFF});
    for (const char* text : {"0a0123456789abcdeff00f1032547698badcfeff", "0A0123456789ABCDEFF00F1032547698BADCFEFF",
                             "0a0123456789AbCdEff00F1032547698bAdCfEfF"}) {
        EXPECT_EQ(DigestFromHex(text), expected) << text;
        EXPECT_EQ(Sha1FromHex(text), expected) << text;
    }
}

TEST(DigestFromHex, RoundTripsThroughTheTextForm) {
    std::mt19937 random(7);
    for (int i = 0; i < 100; ++i) {
        Sha1Digest digest;
        for (auto& byte : digest.bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        EXPECT_EQ(DigestFromHex(Hex(digest)), digest);
    }
}

TEST(DigestFromHex, RejectsWrongLengthsBeforeDigitsAndAnyNonDigit) {
    const std::string hex39(39, 'f');
    const std::string lengthMessage = "SHA1 hex string must be 40 characters.";
    const std::string digitMessage = "Invalid hex digit";
    const struct {
        std::string text;
        const std::string& message;
    } cases[] = {
        {"", lengthMessage},
        {hex39, lengthMessage},
        {hex39 + "ff", lengthMessage},
        {std::string(39, 'z'), lengthMessage},  // the length is checked first
        {std::string(41, ' '), lengthMessage},
        {" " + hex39, digitMessage},
        {hex39 + " ", digitMessage},
        {"0x" + std::string(38, '0'), digitMessage},
        {"\xC3\xA9" + std::string(38, '0'), digitMessage},  // a non-ASCII character
        {std::string(20, '0') + std::string(1, '\0') + std::string(19, '0'), digitMessage},
        // The neighbours of each digit range.
        {"/" + hex39, digitMessage},
        {":" + hex39, digitMessage},
        {"@" + hex39, digitMessage},
        {"G" + hex39, digitMessage},
        {"`" + hex39, digitMessage},
        {hex39 + "g", digitMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(Sha1FromHex(c.text), std::nullopt);
        try {
            DigestFromHex(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), c.message);
        }
    }
}

TEST(Sha1Digest, EqualOnlyWhenAllTwentyBytesAre) {
    const Sha1Digest base = DigestFromHex("a9993e364706816aba3e25717850c26c9cd0d89d");
    Sha1Digest lastDiffers = base;
    lastDiffers.bytes[19] ^= 1;
    Sha1Digest firstDiffers = base;
    firstDiffers.bytes[0] ^= 0x80;
    EXPECT_EQ(base, DigestFromHex("A9993E364706816ABA3E25717850C26C9CD0D89D"));
    EXPECT_NE(base, lastDiffers);
    EXPECT_NE(base, firstDiffers);
}

}  // namespace
