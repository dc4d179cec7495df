#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

// A SHA-1 digest: H0 to H4, each most significant byte first. Digests are compared as 20 bytes,
// never as text. Twenty zero bytes is what the file digests return when they cannot read a file.
struct Sha1Digest {
    std::array<std::uint8_t, 20> bytes{};

    friend bool operator==(const Sha1Digest&, const Sha1Digest&) = default;
};

// The incremental SHA-1 state. Between calls the buffer holds fewer than 64 bytes, and every byte
// past the buffered ones is zero; it is 128 bytes long so that the final padding, which needs a
// second block once 56 or more bytes are waiting, is built in place.
struct Sha1Context {
    std::array<std::uint8_t, 128> buffer{};
    std::uint64_t buffered = 0;
    // Message bytes taken in so far, counted as whole blocks are compressed.
    std::uint64_t messageLength = 0;
    std::array<std::uint32_t, 5> state{};
};

void Sha1Init(Sha1Context& context);

// Takes in length bytes (none is fine). Whole 64-byte blocks are compressed straight from data;
// only a block already begun and a tail of fewer than 64 bytes are copied into the context.
void Sha1Update(Sha1Context& context, const void* data, std::uint64_t length);

// Pads, finishes and returns the digest. The context is spent afterwards.
Sha1Digest Sha1Final(Sha1Context& context);

// The text forms of a digest, shaped as SHA-256's are (sha256.h): forty lower-case hexadecimal
// digits out; exactly forty hexadecimal digits of either case in, nothing else (no blanks, prefix
// or separator), or nothing.
std::string Sha1ToHex(const Sha1Digest& digest);
std::optional<Sha1Digest> Sha1FromHex(std::string_view text);

// Sha1FromHex for a caller that wants the reason as an exception: std::invalid_argument ("SHA1
// hex string must be 40 characters." for any other length, checked first; "Invalid hex digit"
// otherwise).
Sha1Digest DigestFromHex(std::string_view text);

}  // namespace zv
