#include "digest_text.h"

#include "integrity/sha1.h"

namespace zv::test {

std::string Sha1Hex(std::span<const std::uint8_t> bytes) { return Sha1ToHex(Sha1Of(bytes.data(), bytes.size())); }

std::string Sha1Hex(std::string_view bytes) {
    return Sha1Hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace zv::test
