#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bytes.h"

namespace zv::test {

// Bytes without a pattern a digest or a transfer could lean on, yet the same on every run for the
// same seed (each the low byte of the next std::mt19937 number), so that a failure can be replayed.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);

// The same bytes in a string, for what carries bytes as text (HTTP bodies, SHA-1 messages).
std::string RandomByteString(std::size_t size, std::uint32_t seed);

}  // namespace zv::test
