#pragma once

// Publishing into a static tree that any HTTPS server or CDN can serve, laid out as the launcher
// asks for it (update/tree_layout.h).
//
// Every digest comes from the launcher's own code (HashFile, Sha1ToHex; the build key from
// release_files.h), so the tree holds exactly what the launcher will ask for. Files named by their
// content never change once written; manifests are replaced whole.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/version.h"
#include "integrity/file_digest.h"
#include "integrity/sha1.h"
#include "zvpublish/commands/release_files.h"
#include "zvpublish/signing/signing.h"
#include "zvpublish/tree/outcome.h"
#include "zvpublish/tree/tree_contents.h"

namespace zv::publish {

struct Published {
    std::optional<Failure> failure;
    bool newTree = false;  // the tree had neither launcher/ nor stub/ before
    std::wstring key;      // stub only
    // Launcher only, once it has been examined: what its build record says, and with signing, which
    // of its keys is the signing key's.
    std::optional<LauncherBuild> build;
    std::size_t signingKeyIndex = 0;
    Sha1Digest digest;
    std::wstring file;
    Change fileChange = Change::Added;
    std::wstring manifest;
    Change manifestChange = Change::Added;
    std::string url;
    bool signedManifest = false;  // the manifest is of the signed form
    // For a signed manifest: its version and expiry (those of the manifest already there when the
    // same file was published again).
    Version version;
    std::optional<std::string> expires;
    // What went wrong without stopping the publish.
    std::vector<Failure> warnings;
};

// What a publish will do, decided before anything is written, as the launcher's updaters decide
// before they act: the checks of the file and the tree, the names, and the version and expiry of the
// manifest. Planning reads the file and the tree and writes nothing (PlanStub, PlanLauncher);
// CarryOutPublish only acts on the plan.
struct PublishPlan {
    // Refused: nothing is to be written. The other members hold what was decided before.
    std::optional<Failure> refusal;
    // What is worth telling the operator and does not stop the publish.
    std::vector<Failure> warnings;
    bool newTree = false;  // the tree has neither launcher/ nor stub/
    std::wstring source;   // the file to publish
    std::string baseUrl;
    std::wstring tree;
    FolderKind kind = FolderKind::Stub;
    std::vector<std::wstring> folders;  // below the tree: launcher, or stub and the build key
    std::string manifestPath;           // on the server, as a signed manifest's message names it
    FileDigests digests;                // of source as it was planned; the copy must match them
    std::wstring folder;                // TREE/<folders...>
    std::wstring name;                  // the file's content name
    std::wstring file;                  // folder/name
    std::wstring manifest;              // folder/manifest.json
    std::string url;                    // what the manifest names: baseUrl, the folders, the name
    const Signing* signing = nullptr;   // a signed manifest; nothing: unsigned
    // False when the signed manifest already there names this file: it stays as it is, with its
    // version and expiry.
    bool writeManifest = true;
    Version version;                     // signed: the manifest's
    std::optional<std::string> expires;  // signed: the manifest's; nothing: it never expires
    std::wstring key;                    // stub: the game build's key
    std::optional<LauncherBuild> build;  // launcher: what its build record says
    std::size_t signingKeyIndex = 0;     // launcher, signed: which of its keys is the signing key
};

// What both kinds of publish refuse before anything is written:
//   - a tree that is neither an existing folder nor a new folder in an existing one (a mistyped
//     --out must not start a tree nobody serves); a tree without launcher/ and stub/ is new;
//   - without signing, a manifest already there that is signed (or a signed withdrawal), unless
//     allowUnsigned: launchers built with keys refuse the unsigned manifest that would replace it.
//
// Plans, and publishes, stub for the game build of target: TREE/stub/<key>/ZVClient-<sha1>.dll, then the
// manifest beside it, which names it. stub must be a DLL for the game program's machine
// (ExamineStub). Each file the manifest it replaces named (tree_contents.h:
// FilesNamedBy) gets now as its modification time just before: prune counts a file's age from the
// moment it stopped being served.
//
// With signing, the manifest is of the signed form, with the stub's version: that of the DLL's
// version resource, or version when it has none (a version that differs from the resource's is
// refused). Refused before anything is written: a version that is not above the one the manifest
// already there carries (a manifest of the unsigned form carries none), unless the stub is the one
// that manifest names, which changes nothing.
PublishPlan PlanStub(const std::wstring& target, const std::wstring& stub, const std::string& baseUrl,
                     const std::wstring& tree, const Signing* signing = nullptr,
                     const std::optional<Version>& version = std::nullopt, bool allowUnsigned = false);
Published PublishStub(const std::wstring& target, const std::wstring& stub, const std::string& baseUrl,
                      const std::wstring& tree, const Signing* signing = nullptr,
                      const std::optional<Version>& version = std::nullopt, bool allowUnsigned = false);

// Plans, and publishes, launcher: TREE/launcher/ZVLauncher-<sha1>.exe, then TREE/launcher/manifest.json, the
// files of the manifest it replaces marked, as above. launcher must be one (ExamineLauncher: its
// build record says its update host, version and keys). With signing, the version is that of the
// file's version resource, its update host must be signing's host (compared as ComparableHost), and
// it must carry the signing key, in its record and as the 64-byte point the launcher compiles in: a
// launcher built for another host or other keys refuses every manifest so signed, one without keys
// checks none. Without signing, a launcher built with keys is refused unless allowUnsigned (once
// installed it refuses the unsigned tree), and an update host other than baseUrl's is a warning.
// Refused as for a stub otherwise.
PublishPlan PlanLauncher(const std::wstring& launcher, const std::string& baseUrl, const std::wstring& tree,
                         const Signing* signing = nullptr, bool allowUnsigned = false);
Published PublishLauncher(const std::wstring& launcher, const std::string& baseUrl, const std::wstring& tree,
                          const Signing* signing = nullptr, bool allowUnsigned = false);

// Carries plan out: its refusal as the failure; otherwise the folders, the file copied in under its
// content name (checked against the planned digests), and unless the manifest stays, the files the
// manifest it replaces named marked, then the manifest written (signed with plan.signing). Publish
// is CarryOutPublish of Plan.
Published CarryOutPublish(const PublishPlan& plan);

struct Withdrawn {
    std::optional<Failure> failure;
    bool newTree = false;
    std::wstring manifest;
    Change manifestChange = Change::Added;  // Unchanged: the manifest already was a withdrawal
    Version version;
    std::optional<std::string> expires;
    std::vector<Failure> warnings;
};

// Writes a signed withdrawal of the game build buildKey (40 lower-case hexadecimal digits) to
// TREE/stub/<key>/manifest.json: launchers built with keys whose mark for the build is not above it
// remove that build's client target. Its version is version when given, which must be above the
// published signed manifest's; otherwise the published one's with the last part raised by one
// (carried into the part before at 65535). Refused without version where no signed manifest with a
// version is published (missing, unsigned, unreadable): no one can say which versions players have
// accepted, and a launcher ignores a withdrawal below its mark. A manifest that already is a
// withdrawal (at version, when given) is left as it is (refresh renews it). The files the replaced
// manifest named are marked as by a publish; the tree is refused as for a publish.
Withdrawn WithdrawBuild(const std::wstring& buildKey, const std::wstring& tree, const Signing& signing,
                        const std::optional<Version>& version = std::nullopt);

// The version right above version: its last part raised by one, carried into the part before when
// it is 65535; nothing above 65535.65535.65535.65535.
std::optional<Version> NextVersion(const Version& version);

}  // namespace zv::publish
