#include "update/launcher_update.h"

#include <optional>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "integrity/file_digest.h"
#include "update/manifest.h"
#include "update/manifest_refusal.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"

namespace zv {

namespace {

// What the manifest says the launcher must be, once it has been read and trusted: where to download
// it and how to tell it.
struct Release {
    std::string url;
    Sha1Digest sha1;
    std::optional<SignedRelease> signedRelease;  // with keys
};

// Whether the file at path is the release: by "sha256" with keys, by "sha1" without.
bool IsRelease(const std::wstring& path, const Release& release) {
    return release.signedRelease ? FileIsRelease(path, *release.signedRelease) : HashFile(path) == release.sha1;
}

// Downloads the update named by the manifest into tempPath, checks it and hands it to the command
// interpreter. Ends the process once the interpreter has started; otherwise returns why it did not
// (6, 7 or 8), with tempPath left for the caller to remove.
StepResult DownloadAndHandOver(Transfer& transfer, SelfUpdatePlatform& platform, const Release& release,
                               const RunningLauncher& launcher, const std::wstring& tempPath) {
    const std::wstring& self = launcher.path;
    const std::wstring& forwarded = launcher.forwarded;
    // The interpreter carries out the replacement after this launcher has ended, when nobody would
    // see it fail: what can be known beforehand is checked before anything is downloaded.
    const std::wstring systemFolder = platform.SystemFolder();
    if (systemFolder.empty() || !FitsInterpreterLimits(tempPath, self, forwarded) || !platform.CanReplace(self)) {
        LogEvent("the command interpreter could not replace " + ToUtf8(self) +
                 " (not writable, a path of 260 characters or more, or arguments beyond 8191 characters)");
        return LaunchResult::UpdateProcessFailed;
    }
    const std::optional<std::uint64_t> exactSize =
        release.signedRelease ? std::optional(release.signedRelease->size) : std::nullopt;
    if (!transfer.DownloadToFile(WidenManifestUrl(release.url), tempPath, exactSize).complete) {
        return LaunchResult::LauncherDownloadFailed;
    }
    if (!IsRelease(tempPath, release)) {
        return LaunchResult::LauncherChecksumMismatch;
    }
    const ProcessStart replacement =
        platform.StartHidden(BuildReplacementCommand(systemFolder, tempPath, self, forwarded));
    if (!replacement.started) {
        LogEvent("the command interpreter did not start (error " + std::to_string(replacement.error) + ")");
        return LaunchResult::UpdateProcessFailed;
    }
    LogEvent("handed " + ToUtf8(tempPath) + " to the command interpreter to replace " + ToUtf8(self) + "; exit 0");
    platform.ExitProcess();
    return LaunchResult::Success;  // not reached: the replacement has taken over and the process has ended
}

// Downloads and hands over the release, in a temporary file that is gone again on every failure.
StepResult Replace(Transfer& transfer, UpdateSystem& system, SelfUpdatePlatform& platform, const Release& release,
                   const RunningLauncher& launcher) {
    const std::wstring folder = system.TemporaryFolder();
    if (folder.empty()) {
        return LaunchResult::TempPathFailed;
    }
    const std::wstring tempPath = system.CreateTemporaryFile(folder);
    if (tempPath.empty()) {
        return LaunchResult::TempFileFailed;
    }
    // Reached only when the hand-over did not happen: the interpreter, once started, deletes the
    // temporary file itself; otherwise it goes here.
    const StepResult failure = DownloadAndHandOver(transfer, platform, release, launcher, tempPath);
    system.RemoveFile(tempPath);
    LogEvent("deleted the temporary file " + ToUtf8(tempPath));
    return failure;
}

// A build without keys: the manifest's "sha1" and "url" decide; they are all an unsigned tree
// publishes.
StepResult UpdateFromUnsignedManifest(const ManifestReading& manifest, const RunningLauncher& launcher,
                                      Transfer& transfer, UpdateSystem& system, SelfUpdatePlatform& platform) {
    if (const auto refused = RefuseWithoutSha1(manifest, kLauncherManifestResults)) {
        return *refused;
    }
    // A launcher file that cannot be read hashes to zeros and so is replaced.
    if (FileMatchesManifest(launcher.path, manifest)) {
        return LaunchResult::Success;
    }
    // "url" matters only now: a manifest for a current launcher may leave it out.
    if (!manifest.url.ok()) {
        return kLauncherManifestResults.missingUrl;
    }
    return Replace(transfer, system, platform, Release{manifest.url.value, manifest.sha1.value, std::nullopt},
                   launcher);
}

// A build with keys: only a manifest one of them signed for this host and path, not expired, and
// only a version above the launcher's own.
StepResult UpdateFromSignedManifest(const ManifestReading& manifest, const UpdateSource& source,
                                    const RunningLauncher& launcher, Transfer& transfer, UpdateSystem& system,
                                    SelfUpdatePlatform& platform) {
    const std::optional<std::string> host = MessageHost(source.host);
    const SignedReading reading = CheckSignedManifest(manifest, host.value_or(""), ToUtf8(LauncherManifestPath()),
                                                      ManifestPlace::Launcher, source.keys, system.Now());
    if (const auto refused = RefuseUntrusted(reading, host.has_value(), kLauncherManifestResults)) {
        return *refused;
    }
    const SignedRelease& release = reading.release;
    const std::wstring& self = launcher.path;
    const Version& ownVersion = launcher.version;
    if (release.version <= ownVersion) {
        // An older or equal release is never installed: a host that serves an older signed
        // manifest again can hold the launcher back, not take it back. The digests matter to the
        // log line alone here, so the launcher's own SHA-1 answers it; the second digest of the
        // whole launcher file would cost every current run a few milliseconds for nothing.
        if (HashFile(self) != release.sha1) {
            LogEvent("the launcher manifest names version " + FormatVersion(release.version) +
                     ", which is not above this launcher's " + FormatVersion(ownVersion) +
                     ", with other digests than this launcher's: no update");
        }
        return LaunchResult::Success;
    }
    if (FileIsRelease(self, release)) {
        return LaunchResult::Success;
    }
    LogEvent("the launcher manifest names version " + FormatVersion(release.version) + " above this launcher's " +
             FormatVersion(ownVersion));
    return Replace(transfer, system, platform, Release{release.url, release.sha1, release}, launcher);
}

}  // namespace

StepResult UpdateLauncher(const UpdateSource& source, const RunningLauncher& launcher, Transfer& transfer,
                          UpdateSystem& system, SelfUpdatePlatform& platform) {
    std::string body;
    if (!transfer.GetString(LauncherManifestUrl(source.host), body).complete) {
        return kLauncherManifestResults.unreadable;
    }
    const ManifestReading manifest = ReadManifest(body);
    if (const auto refused = RefuseUnreadable(manifest, kLauncherManifestResults)) {
        return *refused;
    }
    if (!source.Signed()) {
        return UpdateFromUnsignedManifest(manifest, launcher, transfer, system, platform);
    }
    return UpdateFromSignedManifest(manifest, source, launcher, transfer, system, platform);
}

}  // namespace zv
