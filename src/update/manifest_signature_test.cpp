// A manifest's signature as the launcher checks it, against a signature openssl made:
//   openssl dgst -sha256 -sign KEY.pem MESSAGE | base64 -w0
#include "update/manifest_signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> Bytes(const std::string& hex) {
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    return out;
}

const zv::P256PublicKey kKey{Bytes<64>(
    "c54d324dc458aed116f483e1cf5da37f81c897c1e1c3102c4e7011c2d123e65d5d34a82522ad7f7942683c1fb5c95fb0ac1cc9293d116de2af"
    "1e40899ccade31")};
const zv::P256PublicKey kOtherKey{
    Bytes<64>("6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c2964fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce3357"
              "6b315ececbb6"
              "406837bf51f5")};  // the curve's generator: a valid point, not the signer
const zv::Sha1Digest kSha1{Bytes<20>("0123456789abcdef0123456789abcdef01234567")};
const zv::Sha256Digest kSha256{Bytes<32>("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef")};
const std::string kSignature =
    "MEYCIQDZGduuHtVqWLe+Rr4GiFnQZkd/0stik/QEQkuzbMYnxQIhALSe+mjy9yI9ofMZ6dr3O8VAMNIoXD0pIavBURNrBW38";
constexpr std::string_view kPath = "/launcher/manifest.json";

TEST(SignedManifestMessage, FourLinesEachEndedByALineFeed) {
    EXPECT_EQ(zv::SignedManifestMessage("/stub/ab/manifest.json", kSha1, kSha256),
              "zarnovelle-update-manifest-1\n/stub/ab/manifest.json\n0123456789abcdef0123456789abcdef01234567\n"
              "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n");
}

TEST(VerifyManifestSignature, OnlyAKeyOfTheBuildOverExactlyThisPathAndTheseDigests) {
    struct Case {
        const char* name;
        std::vector<zv::P256PublicKey> keys;
        std::string_view path;
        zv::Sha1Digest sha1;
        std::string signature;
        bool valid;
    };
    zv::Sha1Digest otherSha1 = kSha1;
    otherSha1.bytes[0] ^= 0x80;
    const Case cases[] = {
        {"signed by the key", {kKey}, kPath, kSha1, kSignature, true},
        {"signed by the second of two keys", {kOtherKey, kKey}, kPath, kSha1, kSignature, true},
        {"no key of the build signed it", {kOtherKey}, kPath, kSha1, kSignature, false},
        {"no keys at all", {}, kPath, kSha1, kSignature, false},
        {"another path: another build's manifest", {kKey}, "/stub/0123/manifest.json", kSha1, kSignature, false},
        {"another sha1", {kKey}, kPath, otherSha1, kSignature, false},
        {"not base64", {kKey}, kPath, kSha1, "not base64!", false},
        {"base64 with a line break",
         {kKey},
         kPath,
         kSha1,
         kSignature.substr(0, 64) + "\n" + kSignature.substr(64),
         false},
        {"base64 but not DER", {kKey}, kPath, kSha1, "AAAA", false},
        {"empty", {kKey}, kPath, kSha1, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::VerifyManifestSignature(c.keys, c.path, c.sha1, kSha256, c.signature), c.valid) << c.name;
    }
}

}  // namespace
