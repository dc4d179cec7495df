#pragma once

// The SHA-1 compression functions behind Sha1. The launcher picks one once, on first use,
// from what the processor offers, so one executable runs everywhere; the tests and the benchmark
// name one explicitly to check and measure each.

#include <cstddef>
#include <cstdint>

#include "integrity/sha1.h"

namespace zv {

enum class Sha1Engine {
    Portable,
    // The x86 SHA extensions (with SSSE3 and SSE4.1).
    ShaExtensions,
};

// Whether this build and this processor can run the engine.
bool Sha1EngineSupported(Sha1Engine engine);

// The engine Sha1 uses unless told another.
Sha1Engine Sha1ActiveEngine();

namespace detail {

void Sha1CompressPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount);
// Built for x86-64 only, and only to be called where the processor has the SHA extensions, SSSE3
// and SSE4.1.
void Sha1CompressShaExtensions(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount);

}  // namespace detail

}  // namespace zv
