#include "update/launcher_update.h"

#include <string>

#include "common/log.h"
#include "common/text.h"
#include "integrity/file_digest.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"

namespace zv {

namespace {

// The self-update's result for a manifest it cannot go on with, before any file is compared. A
// build with keys uses no member of a manifest whose signature it cannot verify.
LaunchResult ManifestFailure(const ManifestReading& manifest, std::span<const P256PublicKey> keys) {
    if (manifest.form == ManifestForm::NotOneJsonValue) {
        return LaunchResult::LauncherManifestFetchFailed;
    }
    if (!manifest.sha1.ok()) {
        LogEvent("the launcher manifest has no usable \"sha1\"");
        return LaunchResult::LauncherManifestMissingSha1;
    }
    if (!IsTrustedManifest(manifest, LauncherManifestPath(), keys)) {
        LogEvent("the launcher manifest is not signed for its place by a key of this launcher");
        return LaunchResult::LauncherManifestMissingSha1;
    }
    return LaunchResult::Success;
}

// Downloads the update named by the manifest into tempPath, checks it and hands it to the command
// interpreter. Ends the process once the interpreter has started; otherwise returns why it did not
// (6, 7 or 8), with tempPath left for the caller to remove.
StepResult DownloadAndHandOver(Transfer& transfer, SelfUpdatePlatform& platform, const ManifestReading& manifest,
                               std::span<const P256PublicKey> keys, const std::wstring& self,
                               const std::wstring& tempPath) {
    // The interpreter carries out the replacement after this launcher has ended, when nobody would
    // see it fail: what can be known beforehand is checked before anything is downloaded.
    const std::wstring forwarded = platform.BuildForwardedArguments();
    const std::wstring systemFolder = platform.SystemFolder();
    if (systemFolder.empty() || !FitsInterpreterLimits(tempPath, self, forwarded) || !platform.CanReplace(self)) {
        LogEvent("the command interpreter could not replace " + ToUtf8(self) +
                 " (not writable, a path of 260 characters or more, or arguments beyond 8191 characters)");
        return LaunchResult::UpdateProcessFailed;
    }
    if (!transfer.DownloadToFile(WidenManifestUrl(manifest.url.value), tempPath).complete) {
        return LaunchResult::LauncherDownloadFailed;
    }
    if (!DownloadMatchesManifest(tempPath, manifest, keys)) {
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

}  // namespace

StepResult UpdateLauncher(std::wstring_view updateHost, Transfer& transfer, UpdateSystem& system,
                          SelfUpdatePlatform& platform, std::span<const P256PublicKey> keys) {
    std::string body;
    if (!transfer.GetString(LauncherManifestUrl(updateHost), body).complete) {
        return LaunchResult::LauncherManifestFetchFailed;
    }
    const ManifestReading manifest = ReadManifest(body);
    if (const LaunchResult failure = ManifestFailure(manifest, keys); failure != LaunchResult::Success) {
        return failure;
    }
    const std::wstring self = platform.GetModulePath();
    // A launcher file that cannot be read hashes to zeros and so is replaced. Whether it is current
    // is decided by "sha1" alone (signed, in a build with keys).
    if (FileMatchesManifest(self, manifest)) {
        return LaunchResult::Success;
    }
    // "url" matters only now: a manifest for a current launcher may leave it out.
    if (!manifest.url.ok()) {
        return LaunchResult::LauncherManifestMissingUrl;
    }

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
    const StepResult failure = DownloadAndHandOver(transfer, platform, manifest, keys, self, tempPath);
    system.RemoveFile(tempPath);
    LogEvent("deleted the temporary file " + ToUtf8(tempPath));
    return failure;
}

}  // namespace zv
