#include "integrity/der.h"

#include <cstddef>

namespace zv {

std::optional<std::span<const std::uint8_t>> TakeDerElement(std::span<const std::uint8_t>& der, std::uint8_t tag) {
    if (der.size() < 2 || der[0] != tag) {
        return std::nullopt;
    }
    std::size_t length = der[1];
    std::size_t header = 2;
    if (length & 0x80) {
        // Long form: one length byte, and only when it is needed (128 or more).
        if (length != 0x81 || der.size() < 3 || der[2] < 0x80) {
            return std::nullopt;
        }
        length = der[2];
        header = 3;
    }
    if (der.size() - header < length) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> contents = der.subspan(header, length);
    der = der.subspan(header + length);
    return contents;
}

}  // namespace zv
