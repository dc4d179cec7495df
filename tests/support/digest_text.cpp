#include "digest_text.h"

#include "integrity/sha1.h"

namespace zv::test {

std::string Sha1Hex(std::span<const std::uint8_t> bytes) {
    Sha1Context context;
    Sha1Init(context);
    Sha1Update(context, bytes.data(), bytes.size());
    return Sha1ToHex(Sha1Final(context));
}

std::string Sha1Hex(std::string_view bytes) {
    return Sha1Hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace zv::test
