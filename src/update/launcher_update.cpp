#include "update/launcher_update.h"

#include <optional>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "integrity/file_digest.h"
#include "update/manifest.h"
#include "update/manifest_refusal.h"
#include "update/manifest_signature.h"
#include "update/staging.h"
#include "update/tree_layout.h"

namespace zv {

namespace {

// What the manifest says the launcher must be, once it has been read and trusted: where to download
// it and how to tell it.
struct Release {
    std::string url;
    Sha1Digest sha1;
    std::optional<SignedRelease> signedRelease;  // with keys

    // The digest that names the release where a rolled-back one is remembered.
    [[nodiscard]] std::string Name() const {
        return signedRelease ? Sha256ToHex(signedRelease->sha256) : Sha1ToHex(sha1);
    }
    // What its staging file is staged for.
    [[nodiscard]] std::string Identity() const {
        return signedRelease ? StagingIdentity(sha1, signedRelease->sha256, signedRelease->size)
                             : StagingIdentity(sha1, std::nullopt, std::nullopt);
    }
    // Whether digests are the release's: both with keys, the SHA-1 without.
    [[nodiscard]] bool Matches(const FileDigests& digests) const {
        return digests.sha1 == sha1 && (!signedRelease || digests.sha256 == signedRelease->sha256);
    }
};

// How the manifest was judged: a result, or a release to install.
struct Judgement {
    StepResult result;
    std::optional<Release> release;
};

// A build without keys: the manifest's "sha1" and "url" decide; they are all an unsigned tree
// publishes.
Judgement JudgeUnsignedManifest(const ManifestReading& manifest, const RunningLauncher& launcher) {
    if (const auto refused = RefuseWithoutSha1(manifest, kLauncherManifestResults)) {
        return {*refused, std::nullopt};
    }
    // A launcher file that cannot be read hashes to zeros and so is replaced.
    if (FileMatchesManifest(launcher.path, manifest)) {
        return {LaunchResult::Success, std::nullopt};
    }
    // "url" matters only now: a manifest for a current launcher may leave it out.
    if (!manifest.url.ok()) {
        return {kLauncherManifestResults.missingUrl, std::nullopt};
    }
    return {LaunchResult::Success, Release{manifest.url.value, manifest.sha1.value, std::nullopt}};
}

// A build with keys: only a manifest one of them signed for this host and path, not expired, and
// only a version above the launcher's own.
Judgement JudgeSignedManifest(const ManifestReading& manifest, const UpdateSource& source,
                              const RunningLauncher& launcher, UpdateSystem& system) {
    const std::optional<std::string> host = MessageHost(source.host);
    const SignedReading reading = CheckSignedManifest(manifest, host.value_or(""), ToUtf8(LauncherManifestPath()),
                                                      ManifestPlace::Launcher, source.keys, system.Now());
    if (const auto refused = RefuseUntrusted(reading, host.has_value(), kLauncherManifestResults)) {
        return {*refused, std::nullopt};
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
        return {LaunchResult::Success, std::nullopt};
    }
    if (FileIsRelease(self, release)) {
        return {LaunchResult::Success, std::nullopt};
    }
    LogEvent("the launcher manifest names version " + FormatVersion(release.version) + " above this launcher's " +
             FormatVersion(ownVersion));
    return {LaunchResult::Success, Release{release.url, release.sha1, release}};
}

Judgement Judge(const UpdateSource& source, const RunningLauncher& launcher, Transfer& transfer, UpdateSystem& system) {
    std::string body;
    if (!transfer.GetString(LauncherManifestUrl(source.host), body).complete) {
        return {kLauncherManifestResults.unreadable, std::nullopt};
    }
    const ManifestReading manifest = ReadManifest(body);
    if (const auto refused = RefuseUnreadable(manifest, kLauncherManifestResults)) {
        return {*refused, std::nullopt};
    }
    if (!source.Signed()) {
        return JudgeUnsignedManifest(manifest, launcher);
    }
    return JudgeSignedManifest(manifest, source, launcher, system);
}

// Removes a staging file that failed or was refused; the log says so when it stays.
void Discard(StagedFile& staged) {
    const std::wstring name = staged.Name();
    if (!staged.Remove()) {
        LogEvent("could not remove " + ToUtf8(name));
    }
}

// A launcher on probation confirms its start on every way out of the check, exceptions included;
// Confirm does it as soon as the manifest has been judged, and then removes the previous launcher
// that the watcher ran from (the watcher has ended by then).
class ProbationConfirmation {
public:
    explicit ProbationConfirmation(SelfUpdatePlatform& platform) : platform_(platform) {}
    ~ProbationConfirmation() { platform_.ConfirmStart(); }
    ProbationConfirmation(const ProbationConfirmation&) = delete;
    ProbationConfirmation& operator=(const ProbationConfirmation&) = delete;

    void Confirm(UpdateSystem& system, const std::wstring& self) {
        if (!platform_.ConfirmStart()) {
            return;
        }
        LogEvent("this launcher confirmed its start to the launcher that put it in place");
        const std::wstring previous = PreviousLauncherPath(self);
        switch (system.RemoveFile(previous)) {
            case Removal::Removed:
                LogEvent("removed the previous launcher " + ToUtf8(previous));
                break;
            case Removal::Absent:
                break;
            case Removal::Failed:
                // The next run that is not on probation tries again.
                LogEvent("could not remove the previous launcher " + ToUtf8(previous));
                break;
        }
    }

private:
    SelfUpdatePlatform& platform_;
};

// Watches the new launcher until it confirms, ends, or runs out of time.
ProbationVerdict WatchSuccessor(Successor& successor) {
    for (;;) {
        const ProbationVerdict verdict = JudgeProbation(successor.Watch(kProbationWatchInterval));
        if (verdict != ProbationVerdict::Watch) {
            return verdict;
        }
    }
}

// The new launcher did not prove itself: the previous file goes back to the launcher's name (the
// failed release's file is replaced by the rename), the release is remembered when it is its own
// fault, and this launcher takes the run back.
StepResult RollBack(UpdateSystem& system, SelfUpdatePlatform& platform, const Release& release,
                    const std::wstring& self, bool remember) {
    const std::wstring previous = PreviousLauncherPath(self);
    const RenameOutcome back =
        RetryWhileInUse(system, "putting the previous launcher back", [&] { return platform.Rename(previous, self); });
    if (back.done()) {
        LogEvent("put the previous launcher back as " + ToUtf8(self));
    } else {
        LogEvent("could not put the previous launcher back as " + ToUtf8(self) + " (error " +
                 std::to_string(back.error) + "); it stays as " + ToUtf8(previous));
    }
    if (remember) {
        if (system.RememberRolledBackRelease(release.Name())) {
            LogEvent("the launcher release " + release.Name() + " is remembered and will not be downloaded again");
        } else {
            LogEvent("could not remember the rolled-back launcher release " + release.Name());
        }
    }
    platform.ComeBack();
    LogEvent("this launcher goes on with the run");
    return LaunchResult::Success;
}

// Starts the new launcher in place on probation and watches it: ends the process once it has
// confirmed, and otherwise rolls it back and returns.
StepResult HandOver(UpdateSystem& system, SelfUpdatePlatform& platform, const Release& release,
                    const RunningLauncher& launcher, const FileDigests& checked) {
    platform.StepAside();
    const SuccessorStart start =
        platform.StartOnProbation(launcher.path, launcher.forwarded, checked, release.signedRelease.has_value());
    switch (start.kind) {
        case SuccessorStart::Kind::Changed:
            // Not the release's fault: something changed the file after the check.
            LogEvent("the new launcher's file changed after it was checked; it was not started");
            return RollBack(system, platform, release, launcher.path, false);
        case SuccessorStart::Kind::NotStarted:
            LogEvent("Windows did not start the new launcher (error " + std::to_string(start.error) + ")");
            return RollBack(system, platform, release, launcher.path, true);
        case SuccessorStart::Kind::Started:
            break;
    }
    LogEvent("started the new launcher on probation");
    switch (WatchSuccessor(*start.successor)) {
        case ProbationVerdict::Confirmed:
            LogEvent("the new launcher confirmed its start; exit 0");
            platform.ExitProcess();
            return LaunchResult::Success;  // not reached: the new launcher has taken over and this process has ended
        case ProbationVerdict::TimedOut:
            LogEvent("the new launcher did not confirm its start within " + std::to_string(kProbationLimit.count()) +
                     " seconds and shows no window; it is ended");
            start.successor->End();
            break;
        case ProbationVerdict::Ended:
        case ProbationVerdict::Watch:
            LogEvent("the new launcher ended before it confirmed its start");
            break;
    }
    return RollBack(system, platform, release, launcher.path, true);
}

// Downloads the release beside the launcher, checks it there and switches it in; then hands over.
StepResult Install(Transfer& transfer, UpdateSystem& system, SelfUpdatePlatform& platform, const Release& release,
                   const RunningLauncher& launcher) {
    const std::wstring& self = launcher.path;
    if (system.IsRolledBackRelease(release.Name())) {
        LogEvent("the launcher release " + release.Name() +
                 " was rolled back on this machine because it could not start; it is not downloaded again");
        return LaunchResult::Success;
    }
    const std::wstring staging = LauncherStagingPath(self);
    std::uint32_t error = 0;
    std::unique_ptr<StagedFile> staged = system.Stage(staging, release.Identity(), error);
    if (!staged) {
        LogEvent("could not create " + ToUtf8(staging) + " (error " + std::to_string(error) + ")");
        return LaunchResult::TempFileFailed;
    }
    // What can be known before the download is checked before it.
    if (!FitsRestart(self, launcher.forwarded) || !platform.CanReplace(self)) {
        LogEvent(ToUtf8(self) + " cannot be replaced (read-only, not this user's to move, a path of " +
                 std::to_string(kRestartPathLimit) + " characters or more, or arguments beyond a command line)");
        Discard(*staged);
        return LaunchResult::UpdateProcessFailed;
    }
    const std::optional<std::uint64_t> exactSize =
        release.signedRelease ? std::optional(release.signedRelease->size) : std::nullopt;
    if (!transfer.DownloadTo(WidenManifestUrl(release.url), *staged, exactSize).complete) {
        Discard(*staged);
        return LaunchResult::LauncherDownloadFailed;
    }
    const std::optional<FileDigests> digests = staged->Digests(release.signedRelease.has_value());
    if (!digests || !release.Matches(*digests)) {
        LogEvent("the download in " + ToUtf8(staging) + " is not the release the manifest names");
        Discard(*staged);
        return LaunchResult::LauncherChecksumMismatch;
    }

    // The switch: the running launcher's file steps aside, and the checked download takes its name
    // through the handle it was checked under.
    const std::wstring previous = PreviousLauncherPath(self);
    const RenameOutcome aside =
        RetryWhileInUse(system, "moving the running launcher aside", [&] { return platform.Rename(self, previous); });
    if (!aside.done()) {
        Discard(*staged);
        if (aside.kind == RenameOutcome::Kind::InUse) {
            LogEvent("the update could not be put in place while " + ToUtf8(self) +
                     " is in use; this launcher goes on with the run");
            return LaunchResult::Success;
        }
        LogEvent("could not move " + ToUtf8(self) + " aside (error " + std::to_string(aside.error) + ")");
        return LaunchResult::UpdateProcessFailed;
    }
    const RenameOutcome into = staged->SwitchInto(self, false);
    if (!into.done()) {
        LogEvent("could not rename " + ToUtf8(staging) + " to " + ToUtf8(self) + " (error " +
                 std::to_string(into.error) + ")");
        Discard(*staged);
        const RenameOutcome back = RetryWhileInUse(system, "putting the running launcher back",
                                                   [&] { return platform.Rename(previous, self); });
        if (!back.done()) {
            LogEvent("could not put the running launcher back as " + ToUtf8(self) + " (error " +
                     std::to_string(back.error) + ")");
        }
        return LaunchResult::UpdateProcessFailed;
    }
    LogEvent("put the checked download in place as " + ToUtf8(self) + "; the running launcher is now " +
             ToUtf8(previous));
    // Let go of it: the new launcher starts from it, under a handle that only reads.
    staged.reset();
    return HandOver(system, platform, release, launcher, *digests);
}

}  // namespace

std::wstring BuildRestartCommandLine(std::wstring_view path, std::wstring_view forwarded) {
    std::wstring line;
    line.reserve(path.size() + forwarded.size() + 3);
    line += L'"';
    line += path;
    line += L'"';
    if (!forwarded.empty()) {
        line += L' ';
        line += forwarded;
    }
    return line;
}

bool FitsRestart(std::wstring_view path, std::wstring_view forwarded) {
    return path.size() < kRestartPathLimit && BuildRestartCommandLine(path, forwarded).size() < kCommandLineLimit;
}

StepResult UpdateLauncher(const UpdateSource& source, const RunningLauncher& launcher, Transfer& transfer,
                          UpdateSystem& system, SelfUpdatePlatform& platform) {
    ProbationConfirmation probation(platform);
    if (!platform.OnProbation()) {
        // Left by a run that was ended during an update; on probation it is the watching
        // launcher's, removed once that has ended.
        RemoveLeftover(system, PreviousLauncherPath(launcher.path));
    }
    const Judgement judged = Judge(source, launcher, transfer, system);
    probation.Confirm(system, launcher.path);
    const StepResult result =
        judged.release ? Install(transfer, system, platform, *judged.release, launcher) : judged.result;
    // A download left by a run that was ended is kept while it may still be resumed: until the
    // launcher is found current, or another release is staged in its place.
    if (result.succeeded()) {
        RemoveLeftoverStaging(system, LauncherStagingPath(launcher.path));
    }
    return result;
}

}  // namespace zv
