#include "zvpublish/commands/refresh.h"

#include <string>
#include <vector>

#include "update/manifest_signature.h"
#include "update/tree_layout.h"
#include "zvpublish/tree/manifest_files.h"

namespace zv::publish {

namespace {

// A folder refresh does not enter: it writes through no link.
void PassOverLink(RefreshReport& report, const std::wstring& folder) {
    RefreshedManifest refused;
    refused.manifest = folder;
    refused.failure = Failure{folder,
                              "is a symbolic link (or another reparse point); refresh writes through no link, "
                              "so nothing in it was signed again"};
    report.manifests.push_back(std::move(refused));
}

// Why a release's file in the tree is not what the manifest names; nothing when it is.
std::optional<std::string> FileProblem(const std::wstring& tree, const std::vector<std::string>& folders,
                                       const SignedRelease& release) {
    const NamedFile named = ReadNamedFile(tree, release.url, folders, std::nullopt);
    switch (named.state) {
        case NamedFile::State::Outside:
            return "its \"url\" (" + release.url + ") does not point into the tree, so its file cannot be checked";
        case NamedFile::State::Missing:
            return "its file " + ToUtf8(named.path) + " is not in the tree";
        case NamedFile::State::NotAFile:
            return "its file " + ToUtf8(named.path) + " is not a file";
        case NamedFile::State::Unreadable:
            return "its file " + ToUtf8(named.path) + " cannot be read";
        case NamedFile::State::Read:
            break;
    }
    if (named.size != release.size) {
        return "its file " + ToUtf8(named.path) + " is " + std::to_string(named.size) + " bytes long, not " +
               std::to_string(release.size);
    }
    if (named.digests.sha1 != release.sha1 || named.digests.sha256 != release.sha256) {
        return "its file " + ToUtf8(named.path) + " is not the one it names (another SHA-1 or SHA-256)";
    }
    return std::nullopt;
}

// The manifest in folders below tree, whose path on the server is path.
void RefreshOne(RefreshReport& report, const std::wstring& tree, const std::vector<std::string>& folders,
                const std::wstring& path, ManifestPlace place, const Signing& signing,
                std::span<const P256PublicKey> trusted, FileTime now, bool includeExpired) {
    RefreshedManifest refreshed;
    std::wstring folder = tree;
    for (const auto& part : folders) {
        folder = JoinPath(folder, FromUtf8(part));
    }
    const std::string manifestPath = ToUtf8(path);
    refreshed.manifest = JoinPath(folder, std::wstring(kManifestName));
    const ManifestOnDisk current = ReadPublishedManifest(refreshed.manifest);
    if (current.kind == PathKind::Missing) {
        return;
    }
    if (!current.read) {
        refreshed.failure = Failure{refreshed.manifest, "cannot be read as a manifest; it was not signed again"};
        report.manifests.push_back(std::move(refreshed));
        return;
    }
    const SignedReading reading = CheckSignedManifest(current.reading, signing.host, manifestPath, place, trusted, now);
    if (reading.trust == ManifestTrust::Untrusted) {
        refreshed.failure = Failure{
            refreshed.manifest,
            "is not signed for host " + signing.host + " and " + manifestPath + " by the signing key or a key of " +
                "--public-keys (" + reading.problem +
                "), so it was not signed again: refresh renews only what a trusted key signed. Publish it again "
                "with stub or launcher, or give the key that signed it with --public-keys"};
        report.manifests.push_back(std::move(refreshed));
        return;
    }
    // A manifest that has expired may be one that players are no longer to get: an old release, or
    // an old signed manifest put back into the tree (a backup restored, a server's copy changed).
    if (reading.trust == ManifestTrust::Expired && !includeExpired) {
        refreshed.failure =
            Failure{refreshed.manifest,
                    "expired at " + reading.release.expires.value_or("") +
                        ", so it was not signed again: signing it again would make it valid once more, and an expired "
                        "manifest may be an old one put back into the tree. Publish the release again with stub or "
                        "launcher, or give --include-expired if this manifest is the one players are to get"};
        report.manifests.push_back(std::move(refreshed));
        return;
    }
    if (!reading.withdrawn) {
        if (auto problem = FileProblem(tree, folders, reading.release)) {
            refreshed.failure =
                Failure{refreshed.manifest, *problem +
                                                ", so it was not signed again: refresh renews only a manifest whose "
                                                "file is in the tree as the manifest names it. Publish the "
                                                "release again with stub or launcher"};
            report.manifests.push_back(std::move(refreshed));
            return;
        }
    }
    refreshed.withdrawal = reading.withdrawn;
    refreshed.version = reading.release.version;
    refreshed.expires = signing.expires;
    std::string reason;
    std::optional<std::string> signature;
    std::string body;
    if (reading.withdrawn) {
        const SignedWithdrawal withdrawal{refreshed.version, refreshed.expires};
        signature = signing.signer->Sign(WithdrawalMessage(signing.host, manifestPath, withdrawal), reason);
        body = signature ? FormatWithdrawal(withdrawal, *signature) : "";
    } else {
        SignedRelease release = reading.release;
        release.expires = refreshed.expires;
        signature = signing.signer->Sign(SignedManifestMessage(signing.host, manifestPath, release), reason);
        body = signature ? FormatSignedManifest(release, *signature) : "";
    }
    if (!signature) {
        refreshed.failure = Failure{refreshed.manifest, reason};
    } else if (auto failure = WriteManifest(folder, body, refreshed.change)) {
        refreshed.failure = std::move(failure);
    }
    report.manifests.push_back(std::move(refreshed));
}

}  // namespace

RefreshReport RefreshTree(const std::wstring& tree, const Signing& signing, std::span<const P256PublicKey> trusted,
                          FileTime now, bool includeExpired) {
    RefreshReport report;
    std::string reason;
    switch (QueryPathKind(tree, &reason)) {
        case PathKind::Directory:
            break;
        case PathKind::Missing:
            report.failure = Failure{tree, "does not exist"};
            return report;
        default:
            report.failure = Failure{tree, reason.empty() ? "is not a folder" : reason};
            return report;
    }
    const std::wstring launcher = JoinPath(tree, std::wstring(kLauncherFolder));
    if (IsLinkOrReparsePoint(launcher)) {
        PassOverLink(report, launcher);
    } else if (QueryPathKind(launcher) == PathKind::Directory) {
        RefreshOne(report, tree, {ToUtf8(kLauncherFolder)}, LauncherManifestPath(), ManifestPlace::Launcher, signing,
                   trusted, now, includeExpired);
    }
    const std::wstring stub = JoinPath(tree, std::wstring(kStubFolder));
    if (IsLinkOrReparsePoint(stub)) {
        PassOverLink(report, stub);
        return report;
    }
    if (QueryPathKind(stub) != PathKind::Directory) {
        return report;
    }
    const auto entries = ListDirectory(stub, reason);
    if (!entries) {
        report.failure = Failure{stub, "cannot be listed: " + reason};
        return report;
    }
    for (const auto& entry : *entries) {
        if (entry.link && IsBuildKey(entry.name)) {
            PassOverLink(report, JoinPath(stub, entry.name));
        } else if (entry.kind == PathKind::Directory && IsBuildKey(entry.name)) {
            RefreshOne(report, tree, {ToUtf8(kStubFolder), ToUtf8(entry.name)}, StubManifestPath(entry.name),
                       ManifestPlace::Stub, signing, trusted, now, includeExpired);
        }
    }
    return report;
}

}  // namespace zv::publish
