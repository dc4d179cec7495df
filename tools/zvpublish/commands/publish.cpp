#include "zvpublish/commands/publish.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "common/launch_result.h"
#include "common/read_only_file.h"
#include "integrity/file_digest.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"
#include "zvpublish/commands/address.h"
#include "zvpublish/pe/pe_reading.h"
#include "zvpublish/signing/public_keys.h"
#include "zvpublish/tree/manifest_files.h"
#include "zvpublish/tree/tree_contents.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

namespace {

constexpr std::uint32_t kCopyChunk = 65536;

// Copies source into a staged file in folder, checks that the copy is what was hashed, and moves
// it to folder/name unless a file is there already. A file already there with the same content
// is left as it is; one with other content is an error, since a content name never changes.
std::optional<Failure> PlaceContentFile(const std::wstring& source, const Sha1Digest& digest,
                                        const std::wstring& folder, const std::wstring& name, Change& change) {
    const std::wstring target = JoinPath(folder, name);
    const auto existing = [&]() -> std::optional<Failure> {
        if (QueryPathKind(target) != PathKind::File) {
            return Failure{target, "is in the way: it is not a file"};
        }
        if (HashFile(target) == digest) {
            change = Change::Unchanged;
            return std::nullopt;
        }
        return Failure{target,
                       "already exists with other content; it was left alone (a file named by its content never "
                       "changes: find out why it differs, then remove it)"};
    };
    if (QueryPathKind(target) != PathKind::Missing) {
        return existing();
    }

    std::string reason;
    const std::unique_ptr<StagedFile> staged = StagedFile::Create(folder, name, reason);
    if (!staged) {
        return Failure{target, reason};
    }
    ReadOnlyFile input(source);
    if (!input.IsOpen()) {
        return Failure{source, "cannot be opened for reading"};
    }
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyChunk);
    for (;;) {
        std::uint32_t read = 0;
        if (!input.Read(buffer.get(), kCopyChunk, read)) {
            return Failure{source, "cannot be read"};
        }
        if (read == 0) {
            break;
        }
        if (!staged->Write(buffer.get(), read, reason)) {
            return Failure{target, reason};
        }
    }
    if (!staged->Finish(reason)) {
        return Failure{target, reason};
    }
    // The copy is hashed as the launcher will hash its download: what is published must be what
    // the manifest will name, even if the source changed between the two reads.
    if (HashFile(staged->path()) != digest) {
        return Failure{source, "changed while it was being copied; publish it again once it is complete"};
    }
    switch (staged->MoveTo(target, /*replace=*/false, reason)) {
        case StagedFile::Move::Done:
            change = Change::Added;
            return std::nullopt;
        case StagedFile::Move::TargetExists:
            return existing();
        case StagedFile::Move::Failed:
            break;
    }
    return Failure{target, reason};
}

// Sets the modification time of each file the manifest in folders names, other than keep (the
// file being published), to now: the manifest is about to be replaced, and from now on only
// players who still hold it in a cache download them. A manifest that is missing or cannot be read
// names nothing.
void MarkFilesOfReplacedManifest(const std::wstring& tree, const std::vector<std::wstring>& folders, FolderKind kind,
                                 const std::optional<std::string>& baseUrl, const std::wstring& manifest,
                                 const std::wstring& keep, std::vector<Failure>& warnings) {
    const ManifestOnDisk replaced = ReadPublishedManifest(manifest);
    if (!replaced.read || !replaced.reading.sha1.ok()) {
        return;
    }
    std::vector<std::string> parts;
    for (const auto& folder : folders) {
        parts.push_back(ToUtf8(folder));
    }
    for (const auto& file : FilesNamedBy(tree, parts, kind, replaced.reading, baseUrl)) {
        std::string reason;
        if (file == keep || QueryPathKind(file) != PathKind::File || MarkModifiedNow(file, reason)) {
            continue;
        }
        warnings.push_back({file, "the replaced manifest named it, but its modification time cannot be set to now (" +
                                      reason + "), so prune counts its age from an earlier time"});
    }
}

// What a new manifest must be above: the version of the manifest already at its place, and the
// SHA-256 it names (a signed release only).
struct Predecessor {
    std::optional<Version> version;  // nothing: no manifest, or one without "version"
    std::optional<Sha256Digest> sha256;
    std::optional<std::string> expires;
    bool withdrawal = false;
    bool signedForm = false;  // it carries a "signature", or is a withdrawal (which only the signed form has)
    PathKind kind = PathKind::Missing;
};

Predecessor ReadPredecessor(const std::wstring& manifest) {
    Predecessor predecessor;
    const ManifestOnDisk published = ReadPublishedManifest(manifest);
    predecessor.kind = published.kind;
    if (!published.read) {
        return predecessor;
    }
    const ManifestReading& reading = published.reading;
    if (reading.version.ok()) {
        predecessor.version = reading.version.value;
    }
    if (reading.expires.ok()) {
        predecessor.expires = reading.expiresText.value;
    }
    predecessor.withdrawal = reading.withdrawn.ok();
    predecessor.signedForm =
        reading.signature.fault != MemberFault::Absent || reading.withdrawn.fault != MemberFault::Absent;
    if (!predecessor.withdrawal && reading.sha256.ok()) {
        predecessor.sha256 = reading.sha256.value;
    }
    return predecessor;
}

// Whether the file at path holds bytes anywhere, read in chunks that overlap by all but one byte
// of them.
bool FileCarriesBytes(const std::wstring& path, std::span<const std::uint8_t> bytes) {
    ReadOnlyFile file(path);
    if (!file.IsOpen() || bytes.empty()) {
        return false;
    }
    std::vector<std::uint8_t> window;
    std::vector<std::uint8_t> chunk(kCopyChunk);
    for (;;) {
        std::uint32_t read = 0;
        if (!file.Read(chunk.data(), kCopyChunk, read) || read == 0) {
            return false;
        }
        window.insert(window.end(), chunk.begin(), chunk.begin() + read);
        if (std::search(window.begin(), window.end(), bytes.begin(), bytes.end()) != window.end()) {
            return true;
        }
        const std::size_t keep = std::min(window.size(), bytes.size() - 1);
        window.erase(window.begin(), window.end() - static_cast<std::ptrdiff_t>(keep));
    }
}

// Where a manifest goes and what it names.
struct Place {
    FolderKind kind;
    std::vector<std::wstring> folders;  // below the tree
    std::wstring (*nameOf)(const Sha1Digest&);
    std::wstring manifestPath;  // on the server: /launcher/manifest.json, /stub/<key>/manifest.json
    LaunchResult untrusted;     // what a launcher built with keys says of a manifest it does not trust
};

// The tree a command writes into: a folder that exists, or a new one in a folder that exists. A
// tree with neither launcher/ nor stub/ is new.
std::optional<Failure> CheckTree(const std::wstring& tree, bool& newTree) {
    std::string reason;
    switch (QueryPathKind(tree, &reason)) {
        case PathKind::File:
            return Failure{tree, "is a file; the tree must be a folder"};
        case PathKind::Other:
            return Failure{tree, reason.empty() ? "is not a folder" : reason};
        case PathKind::Directory:
            newTree = QueryPathKind(JoinPath(tree, std::wstring(kLauncherFolder))) == PathKind::Missing &&
                      QueryPathKind(JoinPath(tree, std::wstring(kStubFolder))) == PathKind::Missing;
            return std::nullopt;
        case PathKind::Missing:
            break;
    }
    const std::wstring parent = ParentFolder(tree);
    if (QueryPathKind(parent) != PathKind::Directory) {
        return Failure{tree, "does not exist, and neither does its parent folder " + ToUtf8(parent) +
                                 ": --out names an existing tree, or a new folder in an existing one (is the path "
                                 "mistyped?)"};
    }
    newTree = true;
    return std::nullopt;
}

// The refusal of an unsigned manifest in place of a signed one.
Failure WouldDropSigning(const std::wstring& manifest, const Predecessor& predecessor, LaunchResult untrusted) {
    std::string players = "\"";
    players += ToUtf8(DescribeLaunchResult(untrusted));
    players += '"';
    return Failure{manifest, std::string(predecessor.withdrawal ? "is a signed withdrawal" : "is signed") +
                                 ": publishing without --signing-key would replace it with an unsigned manifest, which "
                                 "every launcher built with keys refuses (players get " +
                                 players +
                                 "). Sign with --signing-key KEY.pem --update-host HOST, or give --allow-unsigned to "
                                 "drop signing on purpose"};
}

// The refusal of a version that is not above the one published, with what to do instead.
Failure NotAbove(const std::wstring& source, const Version& version, const Version& published,
                 const std::wstring& manifest, std::string_view howToRaise) {
    return Failure{source, "its version " + FormatVersion(version) + " is not above " + FormatVersion(published) +
                               ", the version of " + ToUtf8(manifest) +
                               " (a launcher built with keys never goes back to, or again to, a version at or below "
                               "one it has accepted); " +
                               std::string(howToRaise)};
}

// The common part of both kinds' plans: the file under its content name in TREE/<folder...>, then
// the manifest that names it: unsigned, or signed with the file's version (manifest_signature.h).
void PlanInto(PublishPlan& plan, const Place& place, const Signing* signing, bool allowUnsigned, const Version& version,
              std::string_view howToRaise) {
    plan.kind = place.kind;
    plan.folders = place.folders;
    plan.manifestPath = ToUtf8(place.manifestPath);
    plan.signing = signing;
    if ((plan.refusal = CheckSourceFile(plan.source)) || (plan.refusal = CheckTree(plan.tree, plan.newTree))) {
        return;
    }
    const std::optional<FileDigests> digests = HashFileTwice(plan.source);
    if (!digests) {
        plan.refusal = Failure{plan.source, "cannot be read"};
        return;
    }
    plan.digests = *digests;

    plan.folder = plan.tree;
    std::string urlPath;
    for (const std::wstring& part : place.folders) {
        plan.folder = JoinPath(plan.folder, part);
        urlPath += ToUtf8(part) + "/";
    }
    plan.name = place.nameOf(plan.digests.sha1);
    plan.file = JoinPath(plan.folder, plan.name);
    plan.manifest = JoinPath(plan.folder, std::wstring(kManifestName));
    plan.url = plan.baseUrl + urlPath + ToUtf8(plan.name);

    // The same file again changes nothing; any other must come with a higher version.
    if (signing == nullptr && !allowUnsigned) {
        if (const Predecessor predecessor = ReadPredecessor(plan.manifest); predecessor.signedForm) {
            plan.refusal = WouldDropSigning(plan.manifest, predecessor, place.untrusted);
        }
        return;
    }
    if (signing == nullptr) {
        return;
    }
    const Predecessor predecessor = ReadPredecessor(plan.manifest);
    const bool same = predecessor.sha256 == plan.digests.sha256;
    plan.writeManifest = !same;
    plan.version = same && predecessor.version ? *predecessor.version : version;
    plan.expires = same ? predecessor.expires : signing->expires;
    if (!same && predecessor.version && !(version > *predecessor.version)) {
        plan.refusal = NotAbove(plan.source, version, *predecessor.version, plan.manifest, howToRaise);
    }
}

// Why a file's version resource gives no version, for the operator.
std::string DescribeVersionRead(PeRead read) {
    switch (read) {
        case PeRead::Found:
            break;
        case PeRead::CannotRead:
            return "cannot be opened for reading";
        case PeRead::NotPe:
            return "is not a PE file, so it has no version resource";
        case PeRead::Missing:
            return "has no version resource (no VERSIONINFO with a FILEVERSION)";
        case PeRead::Malformed:
            return "has a version resource, or headers, that cannot be read: the file is damaged or cut short";
    }
    return "has no version";
}

// What signing a launcher needs of it: the host it is built for is the one signed for, and it
// carries the signing key. The index of that key among the launcher's; the refusal otherwise.
std::optional<Failure> CheckSignedLauncher(const std::wstring& launcher, const LauncherBuild& build,
                                           const Signing& signing, std::size_t& keyIndex) {
    if (ComparableHost(build.host) != ComparableHost(signing.host)) {
        return Failure{launcher, "is built for the update host " + build.host + ", not for --update-host " +
                                     signing.host + ": it would ask " + build.host +
                                     " for its manifests and refuse every manifest signed for " + signing.host +
                                     ". Sign with --update-host " + build.host +
                                     ", or build the launcher with ZV_UPDATE_HOST=" + signing.host};
    }
    const std::string fingerprint = KeyFingerprint(signing.publicKey);
    const auto found = std::find(build.keys.begin(), build.keys.end(), fingerprint);
    if (found == build.keys.end() || !FileCarriesBytes(launcher, signing.publicKey.point)) {
        return Failure{launcher,
                       "does not carry the public key of " + ToUtf8(signing.keyPath) + " (" + fingerprint +
                           "; the launcher's keys: " + KeyList(build.keys) +
                           "): players who install it would check no signature at all (a launcher built without "
                           "ZV_UPDATE_PUBLIC_KEYS) or refuse every manifest this key signs and never update again (a "
                           "launcher built for other keys). Build the launcher with ZV_UPDATE_PUBLIC_KEYS holding this "
                           "key's public key, or sign with a key it carries"};
    }
    keyIndex = static_cast<std::size_t>(found - build.keys.begin());
    return std::nullopt;
}

}  // namespace

PublishPlan PlanStub(const std::wstring& target, const std::wstring& stub, const std::string& baseUrl,
                     const std::wstring& tree, const Signing* signing, const std::optional<Version>& version,
                     bool allowUnsigned) {
    PublishPlan plan;
    plan.source = stub;
    plan.baseUrl = baseUrl;
    plan.tree = tree;
    BuildKey key = ComputeBuildKey(target);
    if (key.failure) {
        plan.refusal = std::move(key.failure);
        return plan;
    }
    if ((plan.refusal = ExamineStub(stub, key.machine))) {
        return plan;
    }
    Version stubVersion;
    if (signing != nullptr) {
        const PeVersion read = ReadPeFileVersion(stub);
        if (read.read == PeRead::Found && version && *version != read.version) {
            plan.refusal = Failure{stub, "its version resource says " + FormatVersion(read.version) +
                                             ", not the --version " + FormatVersion(*version) +
                                             "; leave --version out (it is for a stub without a version resource)"};
            return plan;
        }
        if (read.read == PeRead::Found) {
            stubVersion = read.version;
        } else if (version && read.read == PeRead::Missing) {
            stubVersion = *version;
        } else {
            plan.refusal = Failure{
                stub, DescribeVersionRead(read.read) +
                          (read.read == PeRead::Malformed ? "" : "; give the stub's version with --version A.B.C.D")};
            return plan;
        }
    }
    plan.key = key.key;
    const Place place{FolderKind::Stub,
                      {std::wstring(kStubFolder), key.key},
                      StubFileName,
                      StubManifestPath(key.key),
                      LaunchResult::StubManifestUntrusted};
    PlanInto(plan, place, signing, allowUnsigned, stubVersion,
             "give the stub a higher version (its FILEVERSION, or --version when it has none)");
    return plan;
}

PublishPlan PlanLauncher(const std::wstring& launcher, const std::string& baseUrl, const std::wstring& tree,
                         const Signing* signing, bool allowUnsigned) {
    PublishPlan plan;
    plan.source = launcher;
    plan.baseUrl = baseUrl;
    plan.tree = tree;
    LauncherExamination examination = ExamineLauncher(launcher);
    if (examination.failure) {
        plan.refusal = std::move(examination.failure);
        return plan;
    }
    const LauncherBuild& build = examination.build;
    Version version;
    if (signing != nullptr) {
        if ((plan.refusal = CheckSignedLauncher(launcher, build, *signing, plan.signingKeyIndex))) {
            return plan;
        }
        const PeVersion read = ReadPeFileVersion(launcher);
        if (read.read != PeRead::Found) {
            plan.refusal =
                Failure{launcher, DescribeVersionRead(read.read) +
                                      "; a launcher built by this project carries its version (ZV_VERSION) there"};
            return plan;
        }
        version = read.version;
    } else {
        if (!build.keys.empty() && !allowUnsigned) {
            plan.refusal = Failure{
                launcher, "is built with keys (" + KeyList(build.keys) +
                              "), so once players have installed it, it refuses every unsigned manifest and never "
                              "updates again. Sign with --signing-key KEY.pem --update-host " +
                              build.host + ", or give --allow-unsigned if no player is to install it from this tree"};
            return plan;
        }
        const std::optional<std::string> baseHost = UrlHost(baseUrl);
        if (baseHost && *baseHost != ComparableHost(build.host)) {
            plan.warnings.push_back({launcher, "is built for the update host " + build.host +
                                                   ", but --base-url is on " + *baseHost + ": players' launchers ask " +
                                                   build.host +
                                                   " for every manifest, so this tree must be served there (only "
                                                   "downloads may come from another host)"});
        }
    }
    plan.build = build;
    const Place place{FolderKind::Launcher,
                      {std::wstring(kLauncherFolder)},
                      LauncherFileName,
                      LauncherManifestPath(),
                      LaunchResult::LauncherManifestUntrusted};
    PlanInto(plan, place, signing, allowUnsigned, version, "build the launcher with a higher ZV_VERSION");
    return plan;
}

Published CarryOutPublish(const PublishPlan& plan) {
    Published published;
    published.newTree = plan.newTree;
    published.key = plan.key;
    published.build = plan.build;
    published.signingKeyIndex = plan.signingKeyIndex;
    published.digest = plan.digests.sha1;
    published.file = plan.file;
    published.manifest = plan.manifest;
    published.url = plan.url;
    published.signedManifest = plan.signing != nullptr;
    published.version = plan.version;
    published.expires = plan.expires;
    published.warnings = plan.warnings;
    if (plan.refusal) {
        published.failure = plan.refusal;
        return published;
    }
    std::string reason;
    if (!MakeDirectories(plan.folder, reason)) {
        published.failure = Failure{plan.folder, "cannot be created: " + reason};
        return published;
    }
    if (auto failure = PlaceContentFile(plan.source, plan.digests.sha1, plan.folder, plan.name, published.fileChange)) {
        published.failure = std::move(failure);
        return published;
    }
    if (!plan.writeManifest) {
        published.manifestChange = Change::Unchanged;
        return published;
    }
    std::string body = FormatManifest(plan.digests.sha1, plan.url);
    if (const Signing* signing = plan.signing) {
        const std::optional<FileFacts> facts = QueryFileFacts(plan.file, reason);
        if (!facts) {
            published.failure = Failure{plan.file, "its size cannot be read: " + reason};
            return published;
        }
        const SignedRelease release{plan.version,      plan.expires,        facts->size,
                                    plan.digests.sha1, plan.digests.sha256, plan.url};
        const std::optional<std::string> signature =
            signing->signer->Sign(SignedManifestMessage(signing->host, plan.manifestPath, release), reason);
        if (!signature) {
            published.failure = Failure{plan.manifest, reason};
            return published;
        }
        body = FormatSignedManifest(release, *signature);
    }
    MarkFilesOfReplacedManifest(plan.tree, plan.folders, plan.kind, plan.baseUrl, plan.manifest, plan.file,
                                published.warnings);
    // Only now that the file is in place may a manifest name it.
    if (auto failure = WriteManifest(plan.folder, body, published.manifestChange)) {
        published.failure = std::move(failure);
    }
    return published;
}

Published PublishStub(const std::wstring& target, const std::wstring& stub, const std::string& baseUrl,
                      const std::wstring& tree, const Signing* signing, const std::optional<Version>& version,
                      bool allowUnsigned) {
    return CarryOutPublish(PlanStub(target, stub, baseUrl, tree, signing, version, allowUnsigned));
}

Published PublishLauncher(const std::wstring& launcher, const std::string& baseUrl, const std::wstring& tree,
                          const Signing* signing, bool allowUnsigned) {
    return CarryOutPublish(PlanLauncher(launcher, baseUrl, tree, signing, allowUnsigned));
}

std::optional<Version> NextVersion(const Version& version) {
    Version next = version;
    for (std::size_t part = next.parts.size(); part-- > 0;) {
        if (next.parts[part] != 0xFFFF) {
            ++next.parts[part];
            return next;
        }
        next.parts[part] = 0;
    }
    return std::nullopt;
}

Withdrawn WithdrawBuild(const std::wstring& buildKey, const std::wstring& tree, const Signing& signing,
                        const std::optional<Version>& version) {
    Withdrawn withdrawn;
    if (auto failure = CheckTree(tree, withdrawn.newTree)) {
        withdrawn.failure = std::move(failure);
        return withdrawn;
    }
    const std::vector<std::wstring> folders{std::wstring(kStubFolder), buildKey};
    std::wstring folder = tree;
    for (const auto& part : folders) {
        folder = JoinPath(folder, part);
    }
    withdrawn.manifest = JoinPath(folder, std::wstring(kManifestName));
    const Predecessor predecessor = ReadPredecessor(withdrawn.manifest);
    const std::optional<Version> published =
        predecessor.signedForm ? predecessor.version : std::optional<Version>(std::nullopt);
    if (predecessor.withdrawal && published && (!version || *version == *published)) {
        withdrawn.manifestChange = Change::Unchanged;
        withdrawn.version = *published;
        withdrawn.expires = predecessor.expires;
        return withdrawn;
    }
    // Only a version above every one players may have accepted for the build does anything: a
    // launcher ignores a withdrawal below its mark (update/manifest_marks.h).
    if (!version && !published) {
        withdrawn.failure = Failure{
            withdrawn.manifest,
            std::string(predecessor.kind == PathKind::Missing ? "does not exist"
                                                              : "is not a signed manifest with a version") +
                ", so zvpublish cannot tell which version the withdrawal must be above: a launcher that has "
                "accepted a version of this build ignores a withdrawal below it, and players would keep the build. "
                "Give --version A.B.C.D above any version of this build that players may have accepted"};
        return withdrawn;
    }
    if (version && published && !(*version > *published)) {
        withdrawn.failure =
            Failure{withdrawn.manifest, "its version " + FormatVersion(*published) + " is not below the --version " +
                                            FormatVersion(*version) +
                                            ": a withdrawal goes above the version it replaces, as every manifest "
                                            "does (a launcher that has accepted a version ignores a withdrawal below "
                                            "it). Give a --version above it, or leave --version out"};
        return withdrawn;
    }
    const std::optional<Version> next = version ? version : NextVersion(*published);
    if (!next) {
        withdrawn.failure = Failure{withdrawn.manifest, "its version " + FormatVersion(*published) +
                                                            " is the highest there is; no version can be above it"};
        return withdrawn;
    }
    withdrawn.version = *next;
    withdrawn.expires = signing.expires;
    const SignedWithdrawal withdrawal{withdrawn.version, withdrawn.expires};
    std::string reason;
    const std::optional<std::string> signature =
        signing.signer->Sign(WithdrawalMessage(signing.host, ToUtf8(StubManifestPath(buildKey)), withdrawal), reason);
    if (!signature) {
        withdrawn.failure = Failure{withdrawn.manifest, reason};
        return withdrawn;
    }
    if (!MakeDirectories(folder, reason)) {
        withdrawn.failure = Failure{folder, "cannot be created: " + reason};
        return withdrawn;
    }
    MarkFilesOfReplacedManifest(tree, folders, FolderKind::Stub, std::nullopt, withdrawn.manifest, {},
                                withdrawn.warnings);
    if (auto failure = WriteManifest(folder, FormatWithdrawal(withdrawal, *signature), withdrawn.manifestChange)) {
        withdrawn.failure = std::move(failure);
    }
    return withdrawn;
}

}  // namespace zv::publish
