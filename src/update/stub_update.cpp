#include "update/stub_update.h"

#include <chrono>
#include <cstdint>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "integrity/file_digest.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"

namespace zv {

namespace {

constexpr std::uint32_t kHttpNotFound = 404;
// How long a run with a current stub waits before the game starts.
constexpr std::chrono::milliseconds kCurrentStubPause{300};

// The stub update's result for a manifest it cannot go on with, before the stub is compared. A
// build with keys uses no member of a manifest whose signature it cannot verify; nothing is
// deleted then (only a 404 deletes the client target).
LaunchResult ManifestFailure(const ManifestReading& manifest, std::wstring_view path,
                             std::span<const P256PublicKey> keys) {
    if (manifest.form == ManifestForm::NotOneJsonValue) {
        return LaunchResult::StubManifestFetchFailed;
    }
    if (!manifest.sha1.ok()) {
        LogEvent("the stub manifest has no usable \"sha1\"");
        return LaunchResult::StubManifestMissingSha1;
    }
    if (!IsTrustedManifest(manifest, path, keys)) {
        LogEvent("the stub manifest is not signed for its place by a key of this launcher");
        return LaunchResult::StubManifestMissingSha1;
    }
    return LaunchResult::Success;
}

}  // namespace

StepResult UpdateClientStub(const GameLocation& location, std::wstring_view updateHost, Transfer& transfer,
                            UpdateSystem& system, std::span<const P256PublicKey> keys) {
    // A code section that cannot be read still has a key: forty zero digits.
    const std::wstring key = DigestToHex(HashCodeSection(location.clientTarget));
    std::string body;
    const TransferResult fetched = transfer.GetString(StubManifestUrl(updateHost, key), body);
    if (!fetched.complete) {
        if (fetched.httpStatus == kHttpNotFound) {
            // The server does not know this build: it must not be played.
            system.RemoveFile(location.clientTarget);
            LogEvent("deleted the client target " + ToUtf8(location.clientTarget) +
                     ": the update server does not know this game build");
        }
        return LaunchResult::StubManifestFetchFailed;
    }
    const ManifestReading manifest = ReadManifest(body);
    if (const LaunchResult failure = ManifestFailure(manifest, StubManifestPath(key), keys);
        failure != LaunchResult::Success) {
        return failure;
    }
    if (FileMatchesManifest(location.clientStub, manifest)) {
        system.Pause(kCurrentStubPause);
        return LaunchResult::Success;
    }
    // "url" matters only now: a manifest for a current stub may leave it out.
    if (!manifest.url.ok()) {
        return LaunchResult::StubManifestMissingUrl;
    }
    if (!transfer.DownloadToFile(WidenManifestUrl(manifest.url.value), location.clientStub).complete) {
        return LaunchResult::StubDownloadFailed;
    }
    // Checked against the digest already read: the manifest is fetched once per run. Bytes that
    // fail the check do not stay where the game would load them; as after a broken transfer,
    // there is then no stub (the old one was overwritten by the download), and the next run
    // downloads again.
    if (!DownloadMatchesManifest(location.clientStub, manifest, keys)) {
        system.RemoveFile(location.clientStub);
        LogEvent("deleted " + ToUtf8(location.clientStub) + ": the download does not match the manifest");
        return LaunchResult::StubChecksumMismatch;
    }
    LogEvent("replaced " + ToUtf8(location.clientStub) + " with the verified download");
    return LaunchResult::Success;
}

}  // namespace zv
