// The SHA-1 compression function in plain C++, for processors without the SHA extensions.

#include <cstddef>
#include <cstdint>

#include "integrity/sha1_engine.h"

namespace zv::detail {

namespace {

constexpr std::uint32_t Rotl(std::uint32_t value, int count) { return (value << count) | (value >> (32 - count)); }

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

}  // namespace

void Sha1CompressPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount) {
    for (std::size_t block = 0; block < blockCount; ++block, blocks += 64) {
        // The message schedule lives in a ring of sixteen words: word t replaces word t - 16.
        std::uint32_t w[16];
        for (int t = 0; t < 16; ++t) {
            w[t] = LoadBigEndian(blocks + 4 * t);
        }
        std::uint32_t a = state[0];
        std::uint32_t b = state[1];
        std::uint32_t c = state[2];
        std::uint32_t d = state[3];
        std::uint32_t e = state[4];
        const auto round = [&](int t, std::uint32_t f, std::uint32_t k) {
            std::uint32_t word;
            if (t < 16) {
                word = w[t];
            } else {
                word = Rotl(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
                w[t & 15] = word;
            }
            const std::uint32_t temp = Rotl(a, 5) + f + e + k + word;
            e = d;
            d = c;
            c = Rotl(b, 30);
            b = a;
            a = temp;
        };
        for (int t = 0; t < 20; ++t) {
            round(t, (b & c) | (~b & d), 0x5A827999);
        }
        for (int t = 20; t < 40; ++t) {
            round(t, b ^ c ^ d, 0x6ED9EBA1);
        }
        for (int t = 40; t < 60; ++t) {
            round(t, (b & c) | (b & d) | (c & d), 0x8F1BBCDC);
        }
        for (int t = 60; t < 80; ++t) {
            round(t, b ^ c ^ d, 0xCA62C1D6);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

}  // namespace zv::detail
