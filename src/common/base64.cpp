#include "common/base64.h"

#include <array>
#include <cstddef>

namespace zv {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        // Padding only at the very end: "xx==" or "xxx=".
        const std::size_t padding = !last ? 0 : text[at + 3] != '=' ? 0 : text[at + 2] != '=' ? 1 : 2;
        std::array<int, 4> sextets{};
        for (std::size_t k = 0; k < 4 - padding; ++k) {
            sextets[k] = SextetOf(text[at + k]);
            if (sextets[k] < 0) {
                return std::nullopt;
            }
        }
        const std::uint32_t group =
            (static_cast<std::uint32_t>(sextets[0]) << 18) | (static_cast<std::uint32_t>(sextets[1]) << 12) |
            (static_cast<std::uint32_t>(sextets[2]) << 6) | static_cast<std::uint32_t>(sextets[3]);
        // The bits beyond the last whole byte must be zero in the canonical text.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            bytes.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return bytes;
}

std::string EncodeBase64(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t n = bytes.size() - at < 3 ? bytes.size() - at : 3;
        std::uint32_t group = static_cast<std::uint32_t>(bytes[at]) << 16;
        if (n > 1) {
            group |= static_cast<std::uint32_t>(bytes[at + 1]) << 8;
        }
        if (n > 2) {
            group |= bytes[at + 2];
        }
        text.push_back(kAlphabet[(group >> 18) & 63]);
        text.push_back(kAlphabet[(group >> 12) & 63]);
        text.push_back(n > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        text.push_back(n > 2 ? kAlphabet[group & 63] : '=');
    }
    return text;
}

}  // namespace zv
