#pragma once

// Checking a published tree before it goes live: every manifest read with the launcher's own
// rules, and every file a manifest names inside the tree hashed with the launcher's own digest.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zvpublish/tree/manifest_files.h"

namespace zv::publish {

struct Finding {
    enum class Kind {
        Error,  // a player would get an error message, or a wrong or missing file
        Note,   // worth knowing, harmless to players
    };
    Kind kind = Kind::Error;
    std::wstring path;
    std::string text;
};

struct CheckedManifest {
    std::wstring manifest;
    // The file its "url" names inside the tree; empty when the URL points elsewhere.
    std::wstring file;
};

struct TreeReport {
    // Manifests with nothing wrong, in the order they were checked.
    std::vector<CheckedManifest> good;
    std::vector<Finding> findings;
    // Without a SignedCheck: how many manifests carry a "signature" (or are withdrawals), which
    // went unchecked.
    std::size_t signedManifests = 0;

    [[nodiscard]] bool HasErrors() const;
};

// Checks TREE/launcher/manifest.json and TREE/stub/<key>/manifest.json for every build key. A
// "url" points into the tree when it begins with baseUrl (already normalised); without baseUrl,
// when its path ends with the manifest's own folder (/launcher/ or /stub/<key>/) and a file name,
// the layout the publishing commands write. Every "url" must be https://, and on baseUrl's host
// when it is given; without it, the "url" hosts of all manifests must agree, and each manifest
// whose host differs from the one most of them name is an error.
// With signedCheck (a signed tree), every manifest is read as CheckSignedManifest reads it: signed
// by one of the keys for the host and its own path, not expired; a withdrawal (a build's manifest
// only) names no file; the file a release names must match its "size" and "sha256" too.
// Notes name the files beside the manifests that nothing uses: temporary files of an interrupted
// publish, content-named files no manifest names by the rule status and prune use (tree_contents.h:
// FilesNamedBy), in folders whose manifest serves, and files of other names.
TreeReport VerifyTree(const std::wstring& tree, const std::optional<std::string>& baseUrl,
                      const SignedCheck* signedCheck = nullptr);

}  // namespace zv::publish
