#include "integrity/p256.h"

#include <algorithm>
#include <cstddef>

namespace zv {

namespace {

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kInteger = 0x02;

// One DER element of the given tag at the start of der: its contents, and der moved past it.
// Definite lengths only, in their shortest form.
std::optional<std::span<const std::uint8_t>> TakeElement(std::span<const std::uint8_t>& der, std::uint8_t tag) {
    if (der.size() < 2 || der[0] != tag) {
        return std::nullopt;
    }
    std::size_t length = der[1];
    std::size_t header = 2;
    if (length & 0x80) {
        // Long form: only one length byte is ever needed here, and it must be needed (128 or more).
        if (length != 0x81 || der.size() < 3 || der[2] < 0x80) {
            return std::nullopt;
        }
        length = der[2];
        header = 3;
    }
    if (der.size() - header < length) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> contents = der.subspan(header, length);
    der = der.subspan(header + length);
    return contents;
}

// A minimal positive INTEGER from 1 to below 2^256, written big-endian into 32 bytes.
bool TakeScalar(std::span<const std::uint8_t>& der, std::span<std::uint8_t, 32> out) {
    const auto contents = TakeElement(der, kInteger);
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

std::optional<P256Signature> ParseDerSignature(std::span<const std::uint8_t> der) {
    auto sequence = TakeElement(der, kSequence);
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
