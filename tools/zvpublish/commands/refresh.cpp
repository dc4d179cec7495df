#include "zvpublish/commands/refresh.h"

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

void RefreshOne(RefreshReport& report, const std::wstring& folder, const std::wstring& path, ManifestPlace place,
                const Signing& signing, std::span<const P256PublicKey> trusted, FileTime now) {
    RefreshedManifest refreshed;
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
    const std::string manifestPath = ToUtf8(path);
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
                          FileTime now) {
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
        RefreshOne(report, launcher, LauncherManifestPath(), ManifestPlace::Launcher, signing, trusted, now);
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
            RefreshOne(report, JoinPath(stub, entry.name), StubManifestPath(entry.name), ManifestPlace::Stub, signing,
                       trusted, now);
        }
    }
    return report;
}

}  // namespace zv::publish
