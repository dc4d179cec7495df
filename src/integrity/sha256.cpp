#include "integrity/sha256.h"

#include "integrity/hex.h"

namespace zv {

std::optional<Sha256Digest> Sha256Of(const void* data, std::size_t length) {
    Sha256 hash;
    hash.Update(data, length);
    return hash.Final();
}

std::string Sha256ToHex(const Sha256Digest& digest) { return BytesToHex(digest.bytes); }

std::optional<Sha256Digest> Sha256FromHex(std::string_view text) {
    Sha256Digest digest;
    if (!BytesFromHex(text, digest.bytes)) {
        return std::nullopt;
    }
    return digest;
}

}  // namespace zv
