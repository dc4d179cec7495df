#include "zvpublish/tree/tree_contents.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "update/manifest_signature.h"
#include "update/tree_layout.h"
#include "zvpublish/signing/public_keys.h"

namespace zv::publish {

namespace {

using ContentName = std::wstring (*)(const Sha1Digest&);

ContentName ContentNameOf(FolderKind kind) { return kind == FolderKind::Launcher ? LauncherFileName : StubFileName; }

std::vector<std::string> FolderParts(FolderKind kind, const std::wstring& key) {
    if (kind == FolderKind::Launcher) {
        return {ToUtf8(kLauncherFolder)};
    }
    return {ToUtf8(kStubFolder), ToUtf8(key)};
}

std::wstring JoinBelow(const std::wstring& tree, const std::vector<std::string>& parts) {
    std::wstring path = tree;
    for (const auto& part : parts) {
        path = JoinPath(path, FromUtf8(part));
    }
    return path;
}

std::string JoinRelative(const std::vector<std::string>& parts) {
    std::string path;
    for (const auto& part : parts) {
        path += (path.empty() ? "" : "/") + part;
    }
    return path;
}

// Why a manifest's body is no manifest a player's launcher could use; empty when it is one.
std::string ReadingProblem(const ManifestReading& reading) {
    switch (reading.form) {
        case ManifestForm::NotOneJsonValue:
            return "is not one valid JSON value (" + reading.parseError + ")";
        case ManifestForm::NotAnObject:
            return "is not a JSON object";
        case ManifestForm::Object:
            break;
    }
    if (reading.withdrawn.fault != MemberFault::Absent) {
        return reading.withdrawn.ok() ? "" : "has a \"withdrawn\" that is not true";
    }
    if (!reading.sha1.ok()) {
        return "has no \"sha1\" of 40 hexadecimal digits";
    }
    if (!reading.url.ok()) {
        return "has no \"url\" string";
    }
    return {};
}

// Whether one of check's keys signed the manifest for its host and the manifest's own path.
void CheckSignature(ManifestFolder& folder, const ManifestReading& reading, const SignedCheck& check) {
    const SignedReading signedReading = CheckSignedManifest(
        reading, check.host, "/" + folder.manifestRelative,
        folder.kind == FolderKind::Launcher ? ManifestPlace::Launcher : ManifestPlace::Stub, check.keys, check.now);
    if (signedReading.trust == ManifestTrust::Untrusted) {
        folder.signature = SignatureState::DoesNotVerify;
        folder.signatureProblem = signedReading.problem;
        return;
    }
    folder.signature = SignatureState::Verifies;
    folder.signedBy = KeyFingerprint(check.keys[signedReading.signer]);
}

// The folder's manifest, what it names, and the facts of the file its url names.
void ReadFolderManifest(ManifestFolder& folder, const std::wstring& tree, const std::vector<std::string>& parts,
                        const std::optional<std::string>& baseUrl, const SignedCheck* signedCheck,
                        std::vector<std::wstring>& named) {
    const std::wstring manifest = JoinPath(folder.path, std::wstring(kManifestName));
    std::string reason;
    if (IsLinkOrReparsePoint(manifest)) {
        folder.state = ManifestState::Unreadable;
        folder.problem = "is a symbolic link (or another reparse point), which zvpublish does not follow";
        return;
    }
    switch (QueryPathKind(manifest, &reason)) {
        case PathKind::Missing:
            folder.state = ManifestState::Missing;
            folder.problem = "is missing";
            return;
        case PathKind::File:
            break;
        case PathKind::Directory:
            folder.state = ManifestState::Unreadable;
            folder.problem = "is not a file";
            return;
        case PathKind::Other:
            folder.state = ManifestState::Unreadable;
            folder.problem = reason.empty() ? "is not a regular file" : "cannot be read: " + reason;
            return;
    }
    std::string body;
    folder.state = ManifestState::Unreadable;
    switch (ReadManifestBody(manifest, body)) {
        case BodyRead::Unreadable:
            folder.problem = "cannot be read";
            return;
        case BodyRead::TooLarge:
            folder.problem = "is larger than a launcher takes";
            return;
        case BodyRead::Ok:
            break;
    }
    const ManifestReading reading = ReadManifest(body);
    folder.problem = ReadingProblem(reading);
    if (!folder.problem.empty()) {
        return;
    }
    folder.signedForm = reading.signature.fault != MemberFault::Absent;
    if (folder.signedForm) {
        folder.signature = SignatureState::NotChecked;
        if (signedCheck != nullptr) {
            CheckSignature(folder, reading, *signedCheck);
        }
    }
    if (reading.version.ok()) {
        folder.version = reading.version.value;
    }
    if (reading.expires.ok()) {
        folder.expiresText = reading.expiresText.value;
        folder.expires = std::chrono::time_point_cast<FileTime::duration>(reading.expires.value);
    }
    if (reading.withdrawn.ok()) {
        folder.state = ManifestState::Withdrawn;
        return;
    }
    folder.state = ManifestState::Good;
    folder.sha1 = reading.sha1.value;
    folder.url = reading.url.value;
    if (const auto file = MapIntoTree(folder.url, parts, baseUrl)) {
        folder.namedRelative = JoinRelative(*file);
        std::string ignored;
        folder.namedFacts = QueryFileFacts(JoinBelow(tree, *file), ignored);
    }
    const auto files = FilesNamedBy(tree, parts, folder.kind, reading, baseUrl);
    named.insert(named.end(), files.begin(), files.end());
}

// One manifest folder; nothing when it cannot be listed (contents.unlisted then says so).
std::optional<ManifestFolder> ReadFolder(TreeContents& contents, const std::wstring& tree, FolderKind kind,
                                         const std::wstring& key, const std::optional<std::string>& baseUrl,
                                         const SignedCheck* signedCheck, std::vector<std::wstring>& named) {
    ManifestFolder folder;
    folder.kind = kind;
    folder.key = key;
    const std::vector<std::string> parts = FolderParts(kind, key);
    folder.path = JoinBelow(tree, parts);
    folder.relative = JoinRelative(parts);
    folder.manifestRelative = folder.relative + "/" + ToUtf8(kManifestName);
    std::string reason;
    const auto entries = ListDirectory(folder.path, reason);
    if (!entries) {
        contents.unlisted.push_back({folder.path, folder.relative, "cannot be listed: " + reason});
        return std::nullopt;
    }
    for (const auto& entry : *entries) {
        if (!ContentNameDigest(kind, entry.name)) {
            continue;
        }
        if (entry.link) {
            contents.links.push_back({JoinPath(folder.path, entry.name), folder.relative + "/" + ToUtf8(entry.name)});
            continue;
        }
        if (entry.kind != PathKind::File) {
            continue;
        }
        ContentFile file;
        file.path = JoinPath(folder.path, entry.name);
        file.relative = folder.relative + "/" + ToUtf8(entry.name);
        file.facts = QueryFileFacts(file.path, file.factsProblem);
        folder.files.push_back(std::move(file));
    }
    ReadFolderManifest(folder, tree, parts, baseUrl, signedCheck, named);
    return folder;
}

void MarkNamed(ManifestFolder& folder, const std::set<std::wstring>& named) {
    if (folder.state != ManifestState::Good) {
        return;
    }
    for (auto& file : folder.files) {
        file.named = named.contains(file.path);
    }
}

}  // namespace

std::optional<Sha1Digest> ContentNameDigest(FolderKind kind, std::wstring_view name) {
    const ContentName nameOf = ContentNameOf(kind);
    // Where the digits sit, from the layout's own name for the digest of twenty zero bytes.
    constexpr std::size_t kDigits = 40;
    const std::wstring pattern = nameOf(Sha1Digest{});
    const std::size_t at = pattern.find(std::wstring(kDigits, L'0'));
    if (at == std::wstring::npos || name.size() != pattern.size()) {
        return std::nullopt;
    }
    // Lower-case digits only: the name another case of the same digits gives is not this one.
    const std::optional<Sha1Digest> digest = Sha1FromHex(ToUtf8(name.substr(at, kDigits)));
    if (!digest || nameOf(*digest) != name) {
        return std::nullopt;
    }
    return digest;
}

std::vector<std::wstring> FilesNamedBy(const std::wstring& tree, const std::vector<std::string>& folders,
                                       FolderKind kind, const ManifestReading& reading,
                                       const std::optional<std::string>& baseUrl) {
    std::vector<std::wstring> files;
    if (reading.url.ok()) {
        if (const auto parts = MapIntoTree(reading.url.value, folders, baseUrl)) {
            files.push_back(JoinBelow(tree, *parts));
        }
    }
    std::vector<std::string> byDigest = folders;
    byDigest.push_back(ToUtf8(ContentNameOf(kind)(reading.sha1.value)));
    const std::wstring file = JoinBelow(tree, byDigest);
    if (files.empty() || files.front() != file) {
        files.push_back(file);
    }
    return files;
}

TreeContents ReadTreeContents(const std::wstring& tree, const std::optional<std::string>& baseUrl,
                              const SignedCheck* signedCheck) {
    TreeContents contents;
    std::string reason;
    switch (QueryPathKind(tree, &reason)) {
        case PathKind::Missing:
            contents.failure = Failure{tree, "does not exist"};
            return contents;
        case PathKind::Directory:
            break;
        case PathKind::File:
            contents.failure = Failure{tree, "is a file; the tree must be a folder"};
            return contents;
        case PathKind::Other:
            contents.failure = Failure{tree, reason.empty() ? "is not a folder" : reason};
            return contents;
    }
    std::vector<std::wstring> named;
    const std::wstring launcher = JoinPath(tree, std::wstring(kLauncherFolder));
    if (IsLinkOrReparsePoint(launcher)) {
        contents.links.push_back({launcher, ToUtf8(kLauncherFolder)});
    } else if (QueryPathKind(launcher) == PathKind::Directory) {
        contents.launcher = ReadFolder(contents, tree, FolderKind::Launcher, {}, baseUrl, signedCheck, named);
    }
    const std::wstring stub = JoinPath(tree, std::wstring(kStubFolder));
    if (IsLinkOrReparsePoint(stub)) {
        contents.links.push_back({stub, ToUtf8(kStubFolder)});
    } else if (QueryPathKind(stub) == PathKind::Directory) {
        const auto entries = ListDirectory(stub, reason);
        if (!entries) {
            contents.unlisted.push_back({stub, ToUtf8(kStubFolder), "cannot be listed: " + reason});
        }
        for (const auto& entry : entries.value_or(std::vector<ListedEntry>{})) {
            if (!IsBuildKey(entry.name)) {
                continue;
            }
            if (entry.link) {
                contents.links.push_back({JoinPath(stub, entry.name), ToUtf8(kStubFolder) + "/" + ToUtf8(entry.name)});
                continue;
            }
            if (entry.kind != PathKind::Directory) {
                continue;
            }
            if (auto folder = ReadFolder(contents, tree, FolderKind::Stub, entry.name, baseUrl, signedCheck, named)) {
                contents.stubs.push_back(std::move(*folder));
            }
        }
    }
    // Named by any manifest: with a base address a url may name a file in another folder.
    const std::set<std::wstring> namedSet(named.begin(), named.end());
    if (contents.launcher) {
        MarkNamed(*contents.launcher, namedSet);
    }
    for (auto& folder : contents.stubs) {
        MarkNamed(folder, namedSet);
    }
    return contents;
}

}  // namespace zv::publish
