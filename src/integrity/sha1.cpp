#include "integrity/sha1.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "integrity/hex.h"
#include "integrity/sha1_engine.h"

#if ZV_SHA1_SHA_EXTENSIONS
#include <cpuid.h>
#endif

namespace zv {

namespace {

constexpr std::size_t kBlockSize = 64;

#if ZV_SHA1_SHA_EXTENSIONS
bool ProcessorHasShaExtensions() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    // The byte swap of the message words needs SSSE3; the state extraction SSE4.1.
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    return ssse3 && sse41 && (ebx & bit_SHA) != 0;
}
#endif

bool ShaExtensionsUsable() {
#if ZV_SHA1_SHA_EXTENSIONS
    static const bool usable = ProcessorHasShaExtensions();
    return usable;
#else
    return false;
#endif
}

detail::Sha1CompressBlocks CompressFor(Sha1Engine engine) {
#if ZV_SHA1_SHA_EXTENSIONS
    if (engine == Sha1Engine::ShaExtensions && ShaExtensionsUsable()) {
        return &detail::Sha1CompressShaExtensions;
    }
#else
    static_cast<void>(engine);
#endif
    return &detail::Sha1CompressPortable;
}

detail::Sha1CompressBlocks ActiveCompress() {
    static const detail::Sha1CompressBlocks compress = CompressFor(Sha1ActiveEngine());
    return compress;
}

// Compresses whole blocks and counts them into the message length.
void CompressBlocks(detail::Sha1CompressBlocks compress, Sha1Context& context, const std::uint8_t* blocks,
                    std::size_t blockCount) {
    compress(context.state.data(), blocks, blockCount);
    context.messageLength += static_cast<std::uint64_t>(blockCount) * kBlockSize;
}

void UpdateWith(detail::Sha1CompressBlocks compress, Sha1Context& context, const void* data, std::uint64_t length) {
    if (length == 0) {
        return;  // data may then be null, which memcpy does not allow even for no bytes
    }
    const auto* input = static_cast<const std::uint8_t*>(data);
    if (context.buffered > 0) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBlockSize - context.buffered));
        std::memcpy(context.buffer.data() + context.buffered, input, take);
        context.buffered += take;
        input += take;
        length -= take;
        if (context.buffered < kBlockSize) {
            return;
        }
        CompressBlocks(compress, context, context.buffer.data(), 1);
        context.buffer.fill(0);
        context.buffered = 0;
    }
    const auto wholeBlocks = static_cast<std::size_t>(length / kBlockSize);
    if (wholeBlocks > 0) {
        CompressBlocks(compress, context, input, wholeBlocks);
        input += wholeBlocks * kBlockSize;
        length -= static_cast<std::uint64_t>(wholeBlocks) * kBlockSize;
    }
    if (length > 0) {
        std::memcpy(context.buffer.data(), input, static_cast<std::size_t>(length));
        context.buffered = length;
    }
}

Sha1Digest FinalWith(detail::Sha1CompressBlocks compress, Sha1Context& context) {
    const std::uint64_t messageLength = context.messageLength + context.buffered;
    const std::size_t buffered = static_cast<std::size_t>(context.buffered);
    // 0x80, zeros up to 56 modulo 64, then the length in bits: one block, or two once 56 or more
    // bytes are waiting.
    const std::size_t padded = buffered < 56 ? kBlockSize : 2 * kBlockSize;
    context.buffer[buffered] = 0x80;
    std::fill(context.buffer.begin() + static_cast<std::ptrdiff_t>(buffered) + 1, context.buffer.end(), 0);
    const std::uint64_t bits = messageLength * 8;
    for (std::size_t i = 0; i < 8; ++i) {
        context.buffer[padded - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    compress(context.state.data(), context.buffer.data(), padded / kBlockSize);
    context.messageLength = messageLength;
    context.buffer.fill(0);
    context.buffered = 0;

    Sha1Digest digest;
    for (std::size_t word = 0; word < 5; ++word) {
        for (std::size_t byte = 0; byte < 4; ++byte) {
            digest.bytes[word * 4 + byte] = static_cast<std::uint8_t>(context.state[word] >> (24 - 8 * byte));
        }
    }
    return digest;
}

}  // namespace

bool Sha1EngineSupported(Sha1Engine engine) {
    switch (engine) {
        case Sha1Engine::Portable:
            return true;
        case Sha1Engine::ShaExtensions:
            return ShaExtensionsUsable();
    }
    return false;
}

Sha1Engine Sha1ActiveEngine() { return ShaExtensionsUsable() ? Sha1Engine::ShaExtensions : Sha1Engine::Portable; }

void Sha1Init(Sha1Context& context) {
    context.buffer.fill(0);
    context.buffered = 0;
    context.messageLength = 0;
    context.state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
}

void Sha1Update(Sha1Context& context, const void* data, std::uint64_t length) {
    UpdateWith(ActiveCompress(), context, data, length);
}

Sha1Digest Sha1Final(Sha1Context& context) { return FinalWith(ActiveCompress(), context); }

void Sha1Update(Sha1Engine engine, Sha1Context& context, const void* data, std::uint64_t length) {
    UpdateWith(CompressFor(engine), context, data, length);
}

Sha1Digest Sha1Final(Sha1Engine engine, Sha1Context& context) { return FinalWith(CompressFor(engine), context); }

std::string Sha1ToHex(const Sha1Digest& digest) { return BytesToHex(digest.bytes); }

std::optional<Sha1Digest> Sha1FromHex(std::string_view text) {
    Sha1Digest digest;
    if (!BytesFromHex(text, digest.bytes)) {
        return std::nullopt;
    }
    return digest;
}

Sha1Digest DigestFromHex(std::string_view text) {
    if (text.size() != 2 * Sha1Digest{}.bytes.size()) {
        throw std::invalid_argument("SHA1 hex string must be 40 characters.");
    }
    const std::optional<Sha1Digest> digest = Sha1FromHex(text);
    if (!digest) {
        throw std::invalid_argument("Invalid hex digit");
    }
    return *digest;
}

}  // namespace zv
