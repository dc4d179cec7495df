#pragma once

// Where a launcher build takes its updates from, and whom it trusts for them.

#include <span>
#include <string_view>

#include "integrity/p256.h"

namespace zv {

struct UpdateSource {
    // The update server: a host or host:port, reached over https (ZV_UPDATE_HOST).
    std::wstring_view host;
    // The keys manifests must be signed with (ZV_UPDATE_PUBLIC_KEYS). None: manifests are not
    // signed, and only their "sha1" and "url" are read: a tree published for builds without keys
    // serves this one too.
    std::span<const P256PublicKey> keys;

    [[nodiscard]] bool Signed() const { return !keys.empty(); }
};

}  // namespace zv
