#pragma once

// Hexadecimal text of bytes, the one form both digests are written and read in.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zv {

// The value of one hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(char c);

// Two lower-case digits per byte, in order.
std::string BytesToHex(std::span<const std::uint8_t> bytes);

// Reads exactly two digits of either case per byte of out, nothing else; false (out unspecified)
// for any other text.
bool BytesFromHex(std::string_view text, std::span<std::uint8_t> out);

// Whether c is one of the digits BytesToHex writes: 0 to 9 and a to f.
constexpr bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace zv
