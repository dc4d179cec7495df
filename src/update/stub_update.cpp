#include "update/stub_update.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "integrity/file_digest.h"
#include "integrity/p256.h"
#include "update/manifest.h"
#include "update/manifest_marks.h"
#include "update/manifest_refusal.h"
#include "update/manifest_signature.h"
#include "update/staging.h"
#include "update/tree_layout.h"

namespace zv {

namespace {

constexpr std::uint32_t kHttpNotFound = 404;
// How long a run with a current stub waits before the game starts.
constexpr std::chrono::milliseconds kCurrentStubPause{300};

// The game build must not be played: its client target goes, so that the launcher finds no game
// to start until the game is updated or repaired.
void RemoveClientTarget(UpdateSystem& system, const GameLocation& location, std::string_view why) {
    const Removal removal = system.RemoveFile(location.clientTarget);
    LogEvent(std::string(removal == Removal::Failed ? "could not delete" : "deleted") + " the client target " +
             ToUtf8(location.clientTarget) + ": " + std::string(why));
}

// Removes a staging file that failed or was refused; the log says so when it stays.
void Discard(StagedFile& staged) {
    const std::wstring name = staged.Name();
    if (!staged.Remove()) {
        LogEvent("could not remove " + ToUtf8(name));
    }
}

// Downloads the stub into its staging file beside it, checks it there with matches(digests) and
// renames it over the stub through the handle it was checked under, so that the game only ever
// finds the stub it had or the verified one, whenever the run ends. A staging file that failed or
// was refused is removed; the stub stays as it was.
template <typename Matches>
StepResult DownloadStub(Transfer& transfer, UpdateSystem& system, const GameLocation& location, const std::string& url,
                        const std::string& identity, std::optional<std::uint64_t> exactSize, bool withSha256,
                        Matches&& matches) {
    const std::wstring staging = StubStagingPath(location.clientStub);
    std::uint32_t error = 0;
    const std::unique_ptr<StagedFile> staged = system.Stage(staging, identity, error);
    if (!staged) {
        LogEvent("could not create " + ToUtf8(staging) + " (error " + std::to_string(error) + ")");
        return LaunchResult::StubDownloadFailed;
    }
    if (!transfer.DownloadTo(WidenManifestUrl(url), *staged, exactSize).complete) {
        Discard(*staged);
        return LaunchResult::StubDownloadFailed;
    }
    const std::optional<FileDigests> digests = staged->Digests(withSha256);
    if (!digests || !matches(*digests)) {
        LogEvent("the download in " + ToUtf8(staging) + " does not match the manifest; " + ToUtf8(location.clientStub) +
                 " stays as it was");
        Discard(*staged);
        return LaunchResult::StubChecksumMismatch;
    }
    const RenameOutcome switched = RetryWhileInUse(system, "putting the new stub in place",
                                                   [&] { return staged->SwitchInto(location.clientStub, true); });
    if (!switched.done()) {
        LogEvent("could not put the new stub in place as " + ToUtf8(location.clientStub) + " (error " +
                 std::to_string(switched.error) + "); it stays as it was");
        Discard(*staged);
        return LaunchResult::StubDownloadFailed;
    }
    LogEvent("replaced " + ToUtf8(location.clientStub) + " with the verified download");
    return LaunchResult::Success;
}

// A build without keys: the manifest's "sha1" and "url" decide; they are all an unsigned tree
// publishes.
StepResult UpdateFromUnsignedManifest(const ManifestReading& manifest, const GameLocation& location, Transfer& transfer,
                                      UpdateSystem& system) {
    if (const auto refused = RefuseWithoutSha1(manifest, kStubManifestResults)) {
        return *refused;
    }
    if (FileMatchesManifest(location.clientStub, manifest)) {
        system.Pause(kCurrentStubPause);
        return LaunchResult::Success;
    }
    // "url" matters only now: a manifest for a current stub may leave it out.
    if (!manifest.url.ok()) {
        return kStubManifestResults.missingUrl;
    }
    // Checked against the digest already read: the manifest is fetched once per run.
    return DownloadStub(transfer, system, location, manifest.url.value,
                        StagingIdentity(manifest.sha1.value, std::nullopt, std::nullopt), std::nullopt, false,
                        [&](const FileDigests& digests) { return digests.sha1 == manifest.sha1.value; });
}

// The mark kept for path on host, when it counts: one that cannot be read, or whose signer this
// launcher no longer trusts, counts as none (the next manifest accepted replaces it).
std::optional<ManifestMark> CountedMark(UpdateSystem& system, std::wstring_view host, std::wstring_view path,
                                        std::span<const P256PublicKey> keys) {
    const KeptMark kept = system.ReadManifestMark(host, path);
    switch (kept.state) {
        case KeptMark::State::None:
            return std::nullopt;
        case KeptMark::State::Unreadable:
            LogEvent("the mark kept for " + ToUtf8(path) + " cannot be read (" + kept.problem + "); it counts as none");
            return std::nullopt;
        case KeptMark::State::Kept:
            break;
    }
    for (const P256PublicKey& key : keys) {
        if (KeyFingerprint(key) == kept.mark.signer) {
            return kept.mark;
        }
    }
    LogEvent("the mark kept for " + ToUtf8(path) + " (version " + FormatVersion(kept.mark.version) +
             ") comes from a manifest signed by " + kept.mark.signer +
             ", a key this launcher does not trust; it counts as none");
    return std::nullopt;
}

// Keeps mark as the highest accepted for path, unless it is kept already; a mark that cannot be
// kept costs the protection against an older manifest, not this run.
void RaiseMark(UpdateSystem& system, std::wstring_view host, std::wstring_view path,
               const std::optional<ManifestMark>& kept, const ManifestMark& mark) {
    if (kept == mark) {
        return;
    }
    if (!system.WriteManifestMark(host, path, mark)) {
        LogEvent("could not keep the accepted version " + FormatVersion(mark.version) + " of " + ToUtf8(path));
    }
}

// A build with keys: only a manifest one of them signed for this host and path, not expired, and
// never one below the highest version this launcher has accepted for the path from a key it still
// trusts.
StepResult UpdateFromSignedManifest(const ManifestReading& manifest, const GameLocation& location,
                                    const UpdateSource& source, const std::wstring& path, Transfer& transfer,
                                    UpdateSystem& system) {
    const std::optional<std::string> host = MessageHost(source.host);
    const SignedReading reading =
        CheckSignedManifest(manifest, host.value_or(""), ToUtf8(path), ManifestPlace::Stub, source.keys, system.Now());
    if (const auto refused = RefuseUntrusted(reading, host.has_value(), kStubManifestResults)) {
        return *refused;
    }
    const SignedRelease& release = reading.release;
    const std::string version = FormatVersion(release.version);
    const std::string signer = KeyFingerprint(source.keys[reading.signer]);

    const std::wstring markHost = FromUtf8(*host);
    const std::optional<ManifestMark> kept = CountedMark(system, markHost, path, source.keys);
    if (kept && release.version < kept->version) {
        // Never used to download. A CDN edge that lags behind serves such a manifest for a while:
        // the stub the higher version named still plays.
        if (kept->stub && FileSha256(location.clientStub) == kept->stub) {
            LogEvent("the stub manifest names version " + version + ", below the accepted " +
                     FormatVersion(kept->version) + " (a stale manifest); the stub of that version is in place");
            system.Pause(kCurrentStubPause);
            return LaunchResult::Success;
        }
        LogEvent("the stub manifest names version " + version + ", below the accepted " + FormatVersion(kept->version) +
                 ", and the stub of that version is not in place");
        return LaunchResult::StubManifestStale;
    }

    if (reading.withdrawn) {
        RemoveClientTarget(system, location, "the update server withdrew this game build at version " + version);
        RaiseMark(system, markHost, path, kept, ManifestMark{release.version, std::nullopt, signer});
        return LaunchResult::GameBuildWithdrawn;
    }
    const ManifestMark mark{release.version, release.sha256, signer};
    if (FileIsRelease(location.clientStub, release)) {
        RaiseMark(system, markHost, path, kept, mark);
        system.Pause(kCurrentStubPause);
        return LaunchResult::Success;
    }
    const StepResult downloaded = DownloadStub(
        transfer, system, location, release.url, StagingIdentity(release.sha1, release.sha256, release.size),
        release.size, true,
        [&](const FileDigests& digests) { return digests.sha1 == release.sha1 && digests.sha256 == release.sha256; });
    if (downloaded.succeeded()) {
        RaiseMark(system, markHost, path, kept, mark);
    }
    return downloaded;
}

}  // namespace

namespace {

StepResult CheckAndUpdate(const GameLocation& location, const UpdateSource& source, Transfer& transfer,
                          UpdateSystem& system) {
    // A code section that cannot be read still has a key: forty zero digits.
    const std::wstring key = FromUtf8(Sha1ToHex(HashCodeSection(location.clientTarget)));
    std::string body;
    const TransferResult fetched = transfer.GetString(StubManifestUrl(source.host, key), body);
    if (!fetched.complete) {
        if (fetched.httpStatus == kHttpNotFound) {
            if (source.Signed()) {
                // Anything between the player and the host can answer 404 (a company proxy's
                // blocked page, a CDN's cached miss): only a signed withdrawal removes a game.
                LogEvent(
                    "the update server has no manifest for this game build; nothing is deleted without a "
                    "signed withdrawal");
            } else {
                RemoveClientTarget(system, location, "the update server does not know this game build");
            }
        }
        return kStubManifestResults.unreadable;
    }
    const ManifestReading manifest = ReadManifest(body);
    if (const auto refused = RefuseUnreadable(manifest, kStubManifestResults)) {
        return *refused;
    }
    if (!source.Signed()) {
        return UpdateFromUnsignedManifest(manifest, location, transfer, system);
    }
    return UpdateFromSignedManifest(manifest, location, source, StubManifestPath(key), transfer, system);
}

}  // namespace

StepResult UpdateClientStub(const GameLocation& location, const UpdateSource& source, Transfer& transfer,
                            UpdateSystem& system) {
    const StepResult result = CheckAndUpdate(location, source, transfer, system);
    // A download left by a run that was ended is never loaded by the game; it is kept while it may
    // still be resumed: until the stub is found current, or another release is staged in its place.
    if (result.succeeded()) {
        RemoveLeftoverStaging(system, StubStagingPath(location.clientStub));
    }
    return result;
}

}  // namespace zv
