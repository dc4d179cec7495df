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

Sha1::CompressBlocks CompressFor(Sha1Engine engine) {
#if ZV_SHA1_SHA_EXTENSIONS
    if (engine == Sha1Engine::ShaExtensions && ShaExtensionsUsable()) {
        return &detail::Sha1CompressShaExtensions;
    }
#else
    static_cast<void>(engine);
#endif
    return &detail::Sha1CompressPortable;
}

Sha1::CompressBlocks ActiveCompress() {
    static const Sha1::CompressBlocks compress = CompressFor(Sha1ActiveEngine());
    return compress;
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

Sha1::Sha1() : compress_(ActiveCompress()) {}

Sha1::Sha1(Sha1Engine engine) : compress_(CompressFor(engine)) {}

void Sha1::Update(const void* data, std::size_t size) {
    if (size == 0) {
        return;  // data may then be null, which memcpy does not allow even for no bytes
    }
    const auto* input = static_cast<const std::uint8_t*>(data);
    std::uint64_t length = size;
    if (buffered_ > 0) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBlockSize - buffered_));
        std::memcpy(buffer_.data() + buffered_, input, take);
        buffered_ += take;
        input += take;
        length -= take;
        if (buffered_ < kBlockSize) {
            return;
        }
        compress_(state_.data(), buffer_.data(), 1);
        messageLength_ += kBlockSize;
        buffer_.fill(0);
        buffered_ = 0;
    }
    const auto wholeBlocks = static_cast<std::size_t>(length / kBlockSize);
    if (wholeBlocks > 0) {
        compress_(state_.data(), input, wholeBlocks);
        messageLength_ += static_cast<std::uint64_t>(wholeBlocks) * kBlockSize;
        input += wholeBlocks * kBlockSize;
        length -= static_cast<std::uint64_t>(wholeBlocks) * kBlockSize;
    }
    if (length > 0) {
        std::memcpy(buffer_.data(), input, static_cast<std::size_t>(length));
        buffered_ = length;
    }
}

Sha1Digest Sha1::Final() {
    const std::uint64_t messageLength = messageLength_ + buffered_;
    const auto buffered = static_cast<std::size_t>(buffered_);
    // 0x80, zeros up to 56 modulo 64, then the length in bits: one block, or two once 56 or more
    // bytes are waiting.
    const std::size_t padded = buffered < 56 ? kBlockSize : 2 * kBlockSize;
    buffer_[buffered] = 0x80;
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(buffered) + 1, buffer_.end(), 0);
    const std::uint64_t bits = messageLength * 8;
    for (std::size_t i = 0; i < 8; ++i) {
        buffer_[padded - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    compress_(state_.data(), buffer_.data(), padded / kBlockSize);
    messageLength_ = messageLength;
    buffer_.fill(0);
    buffered_ = 0;

    Sha1Digest digest;
    for (std::size_t word = 0; word < 5; ++word) {
        for (std::size_t byte = 0; byte < 4; ++byte) {
            digest.bytes[word * 4 + byte] = static_cast<std::uint8_t>(state_[word] >> (24 - 8 * byte));
        }
    }
    return digest;
}

Sha1Digest Sha1Of(const void* data, std::size_t length) {
    Sha1 hash;
    hash.Update(data, length);
    return hash.Final();
}

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
