#pragma once

// What a launcher built with keys remembers of the stub manifests it has accepted, so that an older
// signed manifest served again cannot take a player back: for each manifest path, the highest
// version accepted and the SHA-256 of the stub that version named (none for a withdrawal). The
// marks belong to the build's set of keys: a launcher with another set (after a key rotation, or
// another studio's launcher for the same Windows user) starts afresh. On Windows they are values
// under HKCU\SOFTWARE\Zarnovelle\Manifests\<key set> (update_system.h).

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/version.h"
#include "integrity/p256.h"
#include "integrity/sha256.h"

namespace zv {

struct ManifestMark {
    Version version;
    std::optional<Sha256Digest> stub;  // nothing: the version withdrew the build

    friend bool operator==(const ManifestMark&, const ManifestMark&) = default;
};

// The text a mark is kept as: the version's canonical text, one blank, and the stub's SHA-256 in
// lower case or "withdrawn".
std::string FormatManifestMark(const ManifestMark& mark);
// Reads that text back; nothing for any other (a mark that cannot be read counts as none).
std::optional<ManifestMark> ParseManifestMark(std::string_view text);

// The name of a set of keys: 32 lower-case hexadecimal digits of the SHA-256 of their points in
// the order the build lists them. Empty for no keys.
std::wstring KeySetName(std::span<const P256PublicKey> keys);

}  // namespace zv
