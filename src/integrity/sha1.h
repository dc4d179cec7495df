#pragma once

#include <array>
#include <cstddef>
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

enum class Sha1Engine;  // sha1_engine.h

// An incremental SHA-1, in the shape of Sha256 (sha256.h): Update as the bytes come, then Final
// once. Whole 64-byte blocks are compressed straight from the data Update is given; only a block
// already begun and a tail of fewer than 64 bytes are copied in.
class Sha1 {
public:
    // On the engine this processor runs best (Sha1ActiveEngine).
    Sha1();
    // On engine, for the tests and the benchmark; one the processor cannot run falls back to the
    // portable one.
    explicit Sha1(Sha1Engine engine);

    // Takes in length bytes (none is fine, and data may then be null).
    void Update(const void* data, std::size_t length);
    // Pads, finishes and returns the digest of everything taken in; the object is spent afterwards.
    Sha1Digest Final();

    // Runs the compression function over blockCount consecutive 64-byte blocks.
    using CompressBlocks = void (*)(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount);

private:
    CompressBlocks compress_;
    // Between calls fewer than 64 bytes wait in the buffer, and every byte past them is zero; it is
    // 128 bytes long so that the final padding, which needs a second block once 56 or more bytes
    // are waiting, is built in place.
    std::array<std::uint8_t, 128> buffer_{};
    std::uint64_t buffered_ = 0;
    // Message bytes taken in so far, counted as whole blocks are compressed.
    std::uint64_t messageLength_ = 0;
    std::array<std::uint32_t, 5> state_{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
};

// The digest of length bytes in one call.
Sha1Digest Sha1Of(const void* data, std::size_t length);

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
