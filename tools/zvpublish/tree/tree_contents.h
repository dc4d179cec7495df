#pragma once

// What a published tree holds: each manifest folder (launcher/ and stub/<build key>/), what its
// manifest names, and its content-named files, each marked as named by a manifest or not. status
// reports it and prune decides from it (prune.h); publishing asks it which files a manifest it
// replaces named.
//
// A content-named file is ZVLauncher-<sha1>.exe directly in launcher/ or ZVClient-<sha1>.dll
// directly in stub/<build key>/, <sha1> in forty lower-case hexadecimal digits (tree_layout.h).
// Nothing else in a tree counts: manifests, hidden files, other names, files in other folders.
// Links (symbolic links, and on Windows every reparse point) are never followed below the tree:
// a folder or a file that is one is listed as a link and neither entered nor counted.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/version.h"
#include "integrity/sha1.h"
#include "update/manifest.h"
#include "zvpublish/tree/manifest_files.h"
#include "zvpublish/tree/outcome.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

enum class FolderKind { Launcher, Stub };

// The digest a content name of this kind carries; nothing for any other name.
std::optional<Sha1Digest> ContentNameDigest(FolderKind kind, std::wstring_view name);

// The files below tree that a manifest in folders (its own folders below the tree: {"launcher"} or
// {"stub", key}) names: the file its "url" names inside the tree, by the rule verify uses
// (MapIntoTree, with baseUrl when given), and, whatever the url says, the content-named file of its
// "sha1" in its own folder. reading must have a usable "sha1"; a "url" that is no string names
// nothing.
std::vector<std::wstring> FilesNamedBy(const std::wstring& tree, const std::vector<std::string>& folders,
                                       FolderKind kind, const ManifestReading& reading,
                                       const std::optional<std::string>& baseUrl);

struct ContentFile {
    std::wstring path;
    std::string relative;  // below the tree, "/" between the parts, as in its address
    // Size and modification time; nothing when they cannot be read (factsProblem says why).
    std::optional<FileFacts> facts;
    std::string factsProblem;
    bool named = false;  // a manifest of the tree names it
};

// How a manifest's signature reads (ReadTreeContents with a SignedCheck checks it).
enum class SignatureState {
    Unsigned,       // it carries no "signature"
    NotChecked,     // it does, and no keys were given to check it with
    Verifies,       // one of the keys signed it for the host and its own path (signedBy); it may have expired
    DoesNotVerify,  // no key did, or a member it signs is malformed (signatureProblem says which)
};

enum class ManifestState {
    Good,        // read, with a usable "sha1" and a "url"
    Withdrawn,   // a withdrawal ("withdrawn": true): it names no file
    Missing,     // the folder has no manifest
    Unreadable,  // it cannot be read, or not as a manifest with both members or as a withdrawal
};

struct ManifestFolder {
    FolderKind kind = FolderKind::Launcher;
    std::wstring key;  // stub folders: the build key
    std::wstring path;
    std::string relative;  // "launcher" or "stub/<key>"
    std::string manifestRelative;
    ManifestState state = ManifestState::Missing;
    std::string problem;  // for Missing and Unreadable: what the operator should know
    // For Good and Withdrawn, as the manifest says them.
    bool signedForm = false;  // it carries a "signature"
    std::optional<Version> version;
    std::optional<std::string> expiresText;  // "YYYY-MM-DDTHH:MM:SSZ"
    std::optional<FileTime> expires;
    SignatureState signature = SignatureState::Unsigned;
    std::string signedBy;          // for Verifies: the fingerprint of the key that signed it
    std::string signatureProblem;  // for DoesNotVerify
    // For Good:
    Sha1Digest sha1;
    std::string url;
    std::string namedRelative;            // the file its "url" names inside the tree; empty when it points elsewhere
    std::optional<FileFacts> namedFacts;  // that file's facts; nothing when it is missing or unreadable
    // Its content-named files, sorted by name. In a folder whose manifest is not Good none counts as
    // named: nobody can say which one players are sent (a withdrawal sends them none).
    std::vector<ContentFile> files;

    // A manifest that serves players: Good or Withdrawn.
    [[nodiscard]] bool Served() const { return state == ManifestState::Good || state == ManifestState::Withdrawn; }
};

// A folder that cannot be listed: what it holds is unknown.
struct UnlistedFolder {
    std::wstring path;
    std::string relative;
    std::string reason;
};

// A link below the tree where a manifest folder, a build folder or a content-named file would be.
struct LinkInTree {
    std::wstring path;
    std::string relative;
};

struct TreeContents {
    std::optional<Failure> failure;          // the tree itself cannot be read; nothing else is filled in
    std::optional<ManifestFolder> launcher;  // when TREE/launcher is a folder
    std::vector<ManifestFolder> stubs;       // each TREE/stub/<build key> folder, by key
    std::vector<UnlistedFolder> unlisted;
    std::vector<LinkInTree> links;  // in tree order
};

// Reads what tree holds, as described above. "url" values are mapped into the tree as verify maps
// them (with baseUrl when given). No file is hashed: status and prune go by names. With
// signedCheck, each signed manifest's signature is checked with its keys for its host and the
// manifest's own path (CheckSignedManifest); an expired manifest still verifies.
TreeContents ReadTreeContents(const std::wstring& tree, const std::optional<std::string>& baseUrl,
                              const SignedCheck* signedCheck = nullptr);

}  // namespace zv::publish
