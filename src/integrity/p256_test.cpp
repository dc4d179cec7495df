// ECDSA P-256 through the platform's cryptography (BCrypt under Wine, OpenSSL natively), and the
// reading of the DER signatures that `openssl dgst -sha256 -sign` writes.
#include "integrity/p256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> Array(const std::string& hex) {
    std::array<std::uint8_t, N> out{};
    const auto bytes = FromHex(hex);
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

// Made with openssl: a key, `openssl dgst -sha256 -sign` over a manifest's signed message, and
// the public key's point.
const std::string kMessage =
    "zarnovelle-update-manifest-1\n/launcher/manifest.json\n0123456789abcdef0123456789abcdef01234567\n"
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n";
const zv::P256PublicKey kKey{Array<64>(
    "c54d324dc458aed116f483e1cf5da37f81c897c1e1c3102c4e7011c2d123e65d5d34a82522ad7f7942683c1fb5c95fb0ac1cc9293d116de2af"
    "1e40899ccade31")};
const std::string kDer =
    "3046022100d919dbae1ed56a58b7be46be068859d066477fd2cb6293f404424bb36cc627c5022100b49efa68f2f7223da1f319e9daf73bc540"
    "3"
    "0d2285c3d2921abc151136b056dfc";
const std::string kR = "d919dbae1ed56a58b7be46be068859d066477fd2cb6293f404424bb36cc627c5";
const std::string kS = "b49efa68f2f7223da1f319e9daf73bc54030d2285c3d2921abc151136b056dfc";

TEST(ParseDerSignature, StrictDerOfTwoPositiveIntegersOnly) {
    struct Case {
        const char* name;
        std::string der;
        std::string rs;  // empty: refused
    };
    const std::string r31 = std::string(2, '0') + kR.substr(2);  // r with a zero first byte
    const Case cases[] = {
        {"as openssl writes it", kDer, kR + kS},
        {"short integers, padded on the left", "3006020101020102",
         std::string(62, '0') + "01" + std::string(62, '0') + "02"},
        {"a 31-byte r", "3044021f" + kR.substr(2) + "022100" + kS, r31 + kS},
        {"nothing", "", ""},
        {"not a sequence", "3146022100" + kDer.substr(10), ""},
        {"bytes after the sequence", kDer + "00", ""},
        {"sequence longer than its contents", "3047" + kDer.substr(4) + "", ""},
        {"sequence shorter than its contents", "3045" + kDer.substr(4), ""},
        {"a third integer", "3009020101020102020103", ""},
        {"one integer", "3003020101", ""},
        {"negative r", "3006020181020102", ""},
        {"zero r", "3006020100020102", ""},
        {"leading zero not needed", "300702020001020102", ""},
        {"empty integer", "30050200020102", ""},
        {"r of 33 bytes", "3047022201" + kR + "022100" + kS, ""},
        {"long-form length that fits the short form", "308106020101020102", ""},
        {"indefinite length",
         "3080020101020102"
         "0000",
         ""},
        {"integer tag wrong", "3006030101020102", ""},
    };
    for (const auto& c : cases) {
        const auto parsed = zv::ParseDerSignature(FromHex(c.der));
        if (c.rs.empty()) {
            EXPECT_FALSE(parsed.has_value()) << c.name;
        } else {
            ASSERT_TRUE(parsed.has_value()) << c.name;
            EXPECT_EQ(parsed->rs, (Array<64>(c.rs))) << c.name;
        }
    }
}

TEST(VerifyP256, AcceptsTheSignatureOfExactlyThisDigestUnderThisKey) {
    const auto digest = zv::Sha256Of(kMessage.data(), kMessage.size());
    ASSERT_TRUE(digest.has_value());
    const auto signature = zv::ParseDerSignature(FromHex(kDer));
    ASSERT_TRUE(signature.has_value());
    EXPECT_TRUE(zv::VerifyP256(kKey, *digest, *signature));

    zv::Sha256Digest otherDigest = *digest;
    otherDigest.bytes[31] ^= 1;
    EXPECT_FALSE(zv::VerifyP256(kKey, otherDigest, *signature)) << "one bit of the digest changed";

    zv::P256Signature swapped;
    std::copy(signature->rs.begin() + 32, signature->rs.end(), swapped.rs.begin());
    std::copy(signature->rs.begin(), signature->rs.begin() + 32, swapped.rs.begin() + 32);
    EXPECT_FALSE(zv::VerifyP256(kKey, *digest, swapped)) << "r and s swapped";

    zv::P256PublicKey otherKey = kKey;
    otherKey.point[63] ^= 1;  // no longer a point of the curve
    EXPECT_FALSE(zv::VerifyP256(otherKey, *digest, *signature));
    EXPECT_FALSE(zv::VerifyP256(zv::P256PublicKey{}, *digest, *signature));
}

// As `openssl pkey -pubin -inform DER -in KEY.der -outform DER | sha256sum | cut -c1-16` gives it for
// the key above: the SubjectPublicKeyInfo is rebuilt from the point alone.
TEST(KeyFingerprint, IsTheStartOfTheSha256OfTheKeysSubjectPublicKeyInfo) {
    EXPECT_EQ(zv::KeyFingerprint(kKey), "c9f9130a89e37bb5");
}

}  // namespace
