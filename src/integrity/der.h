#pragma once

// The small part of DER that signatures and public keys need: one element at a time.

#include <cstdint>
#include <optional>
#include <span>

namespace zv {

// One DER element with this tag at the start of der: its contents, with der moved past it. Strict
// DER lengths only: definite, in their shortest form, and below 256 bytes (nothing these readers
// take is longer). Nothing, and der unchanged, for anything else.
std::optional<std::span<const std::uint8_t>> TakeDerElement(std::span<const std::uint8_t>& der, std::uint8_t tag);

}  // namespace zv
