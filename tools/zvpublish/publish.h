#pragma once

// Publishing into a static tree that any HTTPS server or CDN can serve, laid out as the launcher
// asks for it (update/tree_layout.h).
//
// The build key and every digest come from the launcher's own code (ExamineClientTarget,
// HashCodeSection, HashFile, DigestToHex), so the tree holds exactly what the launcher will ask
// for. Files named by their content never change once written; manifests are replaced whole.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "integrity/sha1.h"
#include "launch/client_target.h"
#include "signing.h"
#include "update/tree_layout.h"

namespace zv::publish {

// A failure, with the file it concerns (empty when none) and why, in words for the operator.
struct Failure {
    std::wstring path;
    std::string reason;
};

// The address the tree is served at: "https://", a host, an optional port and path, ending in "/".
// Only printable ASCII without blanks, no query or fragment, no "." or ".." segments: the launcher
// takes a manifest's "url" byte for byte. A missing final "/" is added. Nothing with the reason
// when text is not such an address.
std::optional<std::string> NormaliseBaseUrl(std::string_view text, std::string& reason);

// Why a file is not a client target, as the tool tells it (the words after "not a client target: ").
std::string DescribeVerdict(const ClientTargetExamination& examination);

struct BuildKey {
    std::optional<Failure> failure;
    std::wstring key;  // 40 lower-case hexadecimal digits
};

// The build key of a client target: DigestToHex of HashCodeSection, after ExamineClientTarget has
// accepted the file. Refused: a file that is not a client target, and one whose code section
// cannot be read (the launcher would then ask for forty zeros, the key every such file shares).
BuildKey ComputeBuildKey(const std::wstring& target);

enum class Change { Added, Unchanged, Replaced };

struct Published {
    std::optional<Failure> failure;
    std::wstring key;  // stub only
    Sha1Digest digest;
    std::wstring file;
    Change fileChange = Change::Added;
    std::wstring manifest;
    Change manifestChange = Change::Added;
    std::string url;
    bool signedManifest = false;  // the manifest carries "sha256" and "signature"
    // What went wrong without stopping the publish.
    std::vector<Failure> warnings;
};

// Publishes stub for the game build of target: TREE/stub/<key>/ZVClient-<sha1>.dll, then the
// manifest beside it, which names it. With a signer, the manifest is signed (adds "sha256" and
// "signature"). Each file the manifest it replaces named (tree_contents.h: FilesNamedBy) gets now
// as its modification time just before: prune counts a file's age from the moment it stopped
// being served.
Published PublishStub(const std::wstring& target, const std::wstring& stub, const std::string& baseUrl,
                      const std::wstring& tree, const ManifestSigner* signer = nullptr);

// Publishes launcher: TREE/launcher/ZVLauncher-<sha1>.exe, then TREE/launcher/manifest.json; signed,
// and the files of the manifest it replaces marked, as above.
Published PublishLauncher(const std::wstring& launcher, const std::string& baseUrl, const std::wstring& tree,
                          const ManifestSigner* signer = nullptr);

}  // namespace zv::publish
