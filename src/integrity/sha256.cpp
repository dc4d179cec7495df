#include "integrity/sha256.h"

#include "integrity/sha1.h"

namespace zv {

std::optional<Sha256Digest> Sha256Of(const void* data, std::size_t length) {
    Sha256 hash;
    hash.Update(data, length);
    return hash.Final();
}

std::string Sha256ToHex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const std::uint8_t byte : digest.bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0xF]);
    }
    return text;
}

std::optional<Sha256Digest> Sha256FromHex(std::string_view text) {
    if (text.size() != 64) {
        return std::nullopt;
    }
    Sha256Digest digest;
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        digest.bytes[i] = static_cast<std::uint8_t>((high << 4) | low);
    }
    return digest;
}

}  // namespace zv
