#pragma once

// The SHA-1 of test data in the form manifests carry it, from the launcher's own SHA-1.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zv::test {

// Forty lower-case hexadecimal digits.
std::string Sha1Hex(std::string_view bytes);
std::string Sha1Hex(std::span<const std::uint8_t> bytes);

}  // namespace zv::test
