#pragma once

// The SHA-1 compression functions behind Sha1Update. The launcher picks one once, on first use,
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

// The engine Sha1Update and Sha1Final use.
Sha1Engine Sha1ActiveEngine();

// Sha1Update and Sha1Final on a given engine. An engine that is not supported falls back to the
// portable one rather than running instructions the processor lacks.
void Sha1Update(Sha1Engine engine, Sha1Context& context, const void* data, std::uint64_t length);
Sha1Digest Sha1Final(Sha1Engine engine, Sha1Context& context);

namespace detail {

// Runs the compression function over blockCount consecutive 64-byte blocks.
using Sha1CompressBlocks = void (*)(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount);

void Sha1CompressPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount);
// Built for x86-64 only, and only to be called where the processor has the SHA extensions, SSSE3
// and SSE4.1.
void Sha1CompressShaExtensions(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount);

}  // namespace detail

}  // namespace zv
