#include "integrity/p256.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "integrity/der.h"

namespace zv {

namespace {

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kInteger = 0x02;
// The DER of a P-256 SubjectPublicKeyInfo up to its point: SEQUENCE { SEQUENCE { id-ecPublicKey,
// prime256v1 }, BIT STRING of 66 bytes: no unused bits, 0x04 (uncompressed) }; X and Y follow.
constexpr std::array<std::uint8_t, 27> kSpkiPrefix = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                                      0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                                      0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
constexpr std::size_t kFingerprintDigits = 16;

// A minimal positive INTEGER from 1 to below 2^256, written big-endian into 32 bytes.
bool TakeScalar(std::span<const std::uint8_t>& der, std::span<std::uint8_t, 32> out) {
    const auto contents = TakeDerElement(der, kInteger);
    if (!contents || contents->empty()) {
        return false;
    }
    std::span<const std::uint8_t> value = *contents;
    if (value[0] & 0x80) {
        return false;  // negative
    }
    if (value[0] == 0) {
        // A leading zero only where the next byte would otherwise read as negative.
        if (value.size() == 1 || !(value[1] & 0x80)) {
            return false;
        }
        value = value.subspan(1);
    }
    if (value.size() > 32) {
        return false;
    }
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::copy(value.begin(), value.end(), out.end() - static_cast<std::ptrdiff_t>(value.size()));
    return true;
}

}  // namespace

std::string KeyFingerprint(const P256PublicKey& key) {
    std::vector<std::uint8_t> der(kSpkiPrefix.begin(), kSpkiPrefix.end());
    der.insert(der.end(), key.point.begin(), key.point.end());
    const std::optional<Sha256Digest> digest = Sha256Of(der.data(), der.size());
    return digest ? Sha256ToHex(*digest).substr(0, kFingerprintDigits) : std::string(kFingerprintDigits, '?');
}

std::optional<P256Signature> ParseDerSignature(std::span<const std::uint8_t> der) {
    auto sequence = TakeDerElement(der, kSequence);
    if (!sequence || !der.empty()) {
        return std::nullopt;
    }
    P256Signature signature;
    const std::span<std::uint8_t> rs(signature.rs);
    if (!TakeScalar(*sequence, rs.first<32>()) || !TakeScalar(*sequence, rs.last<32>()) || !sequence->empty()) {
        return std::nullopt;
    }
    return signature;
}

}  // namespace zv
