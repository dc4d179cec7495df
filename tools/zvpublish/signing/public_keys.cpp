#include "zvpublish/signing/public_keys.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "common/base64.h"
#include "common/read_only_file.h"
#include "integrity/der.h"

namespace zv::publish {

namespace {

constexpr std::array<std::uint8_t, 7> kEcPublicKey = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};  // 1.2.840.10045.2.1
constexpr std::array<std::uint8_t, 8> kPrime256v1 = {0x2a, 0x86, 0x48, 0xce,
                                                     0x3d, 0x03, 0x01, 0x07};  // 1.2.840.10045.3.1.7
constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
constexpr std::uint32_t kMaxKeysFile = 1024 * 1024;

template <std::size_t N>
bool Equals(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& expected) {
    return bytes.size() == N && std::equal(bytes.begin(), bytes.end(), expected.begin());
}

std::optional<P256PublicKey> PointOf(std::span<const std::uint8_t> der, std::string& reason) {
    auto spki = TakeDerElement(der, 0x30);
    if (!spki || !der.empty()) {
        reason = "is not a SubjectPublicKeyInfo";
        return std::nullopt;
    }
    auto algorithm = TakeDerElement(*spki, 0x30);
    const auto key = TakeDerElement(*spki, 0x03);
    const auto oid = algorithm ? TakeDerElement(*algorithm, 0x06) : std::nullopt;
    if (!algorithm || !key || !oid || !spki->empty()) {
        reason = "is not a SubjectPublicKeyInfo";
        return std::nullopt;
    }
    const auto curve = TakeDerElement(*algorithm, 0x06);
    if (!Equals(*oid, kEcPublicKey) || !curve || !Equals(*curve, kPrime256v1)) {
        reason = "is not an EC P-256 (prime256v1) key";
        return std::nullopt;
    }
    if (key->size() != 66 || (*key)[0] != 0 || (*key)[1] != 0x04) {
        reason = "is not an uncompressed P-256 point (write it with openssl ec -pubout)";
        return std::nullopt;
    }
    P256PublicKey point;
    std::copy(key->begin() + 2, key->end(), point.point.begin());
    return point;
}

}  // namespace

std::optional<std::vector<P256PublicKey>> ParsePublicKeys(std::string_view text, std::string& reason) {
    std::vector<P256PublicKey> keys;
    for (std::size_t at = text.find(kBegin); at != std::string_view::npos; at = text.find(kBegin, at)) {
        const std::size_t body = at + kBegin.size();
        const std::size_t end = text.find(kEnd, body);
        if (end == std::string_view::npos) {
            reason = "key " + std::to_string(keys.size() + 1) + " has no END line";
            return std::nullopt;
        }
        std::string base64;
        for (const char c : text.substr(body, end - body)) {
            if (c != '\n' && c != '\r' && c != ' ' && c != '\t') {
                base64.push_back(c);
            }
        }
        const auto der = DecodeBase64(base64);
        std::string why = "is not base64";
        const auto point = der ? PointOf(*der, why) : std::nullopt;
        if (!point) {
            reason = "key " + std::to_string(keys.size() + 1) + " " + why;
            return std::nullopt;
        }
        keys.push_back(*point);
        at = end + kEnd.size();
    }
    if (keys.empty()) {
        reason = "holds no PEM \"PUBLIC KEY\" block";
        return std::nullopt;
    }
    return keys;
}

std::optional<std::vector<P256PublicKey>> ReadPublicKeys(const std::wstring& path, std::string& reason) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        reason = "cannot be read";
        return std::nullopt;
    }
    std::string text(kMaxKeysFile, '\0');
    std::uint32_t read = 0;
    if (!file.ReadUntilFullOrEnd(text.data(), kMaxKeysFile, read)) {
        reason = "cannot be read";
        return std::nullopt;
    }
    text.resize(read);
    return ParsePublicKeys(text, reason);
}

}  // namespace zv::publish
