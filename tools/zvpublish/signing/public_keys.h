#pragma once

// The public keys a launcher build trusts, read as the build reads them (ZV_UPDATE_PUBLIC_KEYS): a
// file of PEM "PUBLIC KEY" blocks, each the SubjectPublicKeyInfo of an EC key on the curve P-256
// with its point uncompressed, anything between the blocks ignored. A key's fingerprint is
// KeyFingerprint (integrity/p256.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "integrity/p256.h"

namespace zv::publish {

// The keys in text, in order; nothing, with the reason, when a block is not such a key or there is
// no block at all.
std::optional<std::vector<P256PublicKey>> ParsePublicKeys(std::string_view text, std::string& reason);

// The same for the file at path.
std::optional<std::vector<P256PublicKey>> ReadPublicKeys(const std::wstring& path, std::string& reason);

}  // namespace zv::publish
