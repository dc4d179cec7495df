#pragma once

// Signing a tree's manifests again with a new expiry: the same members, the same versions, a new
// "expires" and so a new signature. Only what a trusted key already signed for this host and its
// place, and whose file is in the tree as it names it, is signed again: refresh renews a signature,
// it never makes one for a manifest nobody checked, and it does not bring back what has expired
// unless asked to.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/version.h"
#include "integrity/p256.h"
#include "zvpublish/signing/signing.h"
#include "zvpublish/tree/outcome.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

struct RefreshedManifest {
    std::wstring manifest;
    // Refused (not signed by a trusted key for this host and place, not of the signed form, expired,
    // its file missing or not the one it names), or not written; the manifest is then as it was.
    std::optional<Failure> failure;
    bool withdrawal = false;
    Version version;
    std::optional<std::string> expires;  // the new one
    Change change = Change::Replaced;
};

struct RefreshReport {
    std::optional<Failure> failure;            // the tree itself cannot be read; nothing was done
    std::vector<RefreshedManifest> manifests;  // TREE/launcher/manifest.json, then each build's, by key
};

// Signs every manifest of tree again with signing (its host and expiry), when its present
// signature verifies for signing.host and its own path under one of trusted, it has not expired at
// now (unless includeExpired), and for a release, the file its url names inside the tree (as
// MapIntoTree maps it without a base address) has the size and both digests it signed; each other
// manifest is refused and left as it is. Builds without a manifest are passed over; a folder that
// is a link is reported and not entered.
RefreshReport RefreshTree(const std::wstring& tree, const Signing& signing, std::span<const P256PublicKey> trusted,
                          FileTime now, bool includeExpired = false);

}  // namespace zv::publish
