#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/launch_result.h"
#include "common/running_launcher.h"
#include "integrity/file_digest.h"
#include "net/transfer.h"
#include "update/probation.h"
#include "update/staging.h"
#include "update/update_source.h"
#include "update/update_system.h"

namespace zv {

// A new launcher started on probation (probation.h), as the launcher watching it sees it.
class Successor {
public:
    virtual ~Successor() = default;
    // Waits at most interval for it to confirm or to end, and says where it stands.
    virtual ProbationState Watch(std::chrono::milliseconds interval) = 0;
    // Ends it, if it still runs, and returns once it has ended.
    virtual void End() = 0;
};

// How starting the new launcher went.
struct SuccessorStart {
    enum class Kind {
        Started,
        Changed,     // its file was no longer the checked release: nothing was started
        NotStarted,  // the platform did not start it (error says why): Windows could not load it
    };
    Kind kind = Kind::NotStarted;
    std::unique_ptr<Successor> successor;  // for Started
    std::uint32_t error = 0;               // for NotStarted
};

// What the self-update does to its own process beyond files and the network. The Windows
// implementation is the real one (update_windows.h); the unit table stands in for it.
class SelfUpdatePlatform {
public:
    virtual ~SelfUpdatePlatform() = default;

    // Whether this launcher was started on probation by the launcher that put it in place.
    [[nodiscard]] virtual bool OnProbation() const = 0;
    // On probation, the first call confirms the start to the watching launcher, restores the
    // error mode and waits (a few seconds at most) for the watcher to end; true then, so that the
    // caller removes the previous file. False otherwise, and on every later call. Never throws.
    virtual bool ConfirmStart() noexcept = 0;

    // Whether this user may move the launcher's file at path aside: it is not read-only, and it
    // opens for deletion (refused only for sharing counts as yes: a running launcher's file is).
    // A read-only launcher is a file someone chose to keep as it is.
    virtual bool CanReplace(const std::wstring& path) = 0;
    // Renames the file at from to to, replacing a file named to.
    virtual RenameOutcome Rename(const std::wstring& from, const std::wstring& to) = 0;

    // Before the new launcher starts: this launcher's splash leaves the screen, so that it is gone
    // before the new launcher's windows appear, and the single-instance guard is handed on, so that
    // the new launcher takes it without showing its box.
    virtual void StepAside() = 0;
    // After a rollback: takes the guard back and shows the splash again.
    virtual void ComeBack() = 0;

    // Starts the launcher at path with the forwarded argument text on its command line, on
    // probation, once it has checked, under a handle that lets nobody write the file until the
    // process has started from it, that the file still has the checked digests (the SHA-256 too
    // with withSha256). The process starts in this launcher's current directory.
    virtual SuccessorStart StartOnProbation(const std::wstring& path, const std::wstring& forwarded,
                                            const FileDigests& checked, bool withSha256) = 0;

    // Ends the process with exit code 0.
    [[noreturn]] virtual void ExitProcess() = 0;
};

// How long the watching launcher waits between looks at the new one.
inline constexpr std::chrono::milliseconds kProbationWatchInterval{250};

// Brings the running launcher's own executable (launcher.path) up to date from
// https://HOST/launcher/manifest.json; the launcher it restarts gets launcher.forwarded.
// Returns 0 when it is current, when an update could not be put in place while a file was in use,
// or when a new release was rolled back (the run goes on with this launcher), and 1 to 8 (30 and
// 31 with keys) when the update failed; when the new launcher has confirmed its start it ends the
// process with exit code 0 instead of returning.
//  - A newer launcher is downloaded into "<name>.new" beside the launcher and checked there
//    (staging.h): 5 when that file cannot be made, 6 when the download fails, 7 when it is not the
//    release; the staging file is removed on each.
//  - 8: the launcher cannot be replaced by this user (read-only, a path of 260 characters or more,
//    arguments that do not fit a command line), found before the download, or a switch refused
//    for good.
//  - The switch renames the launcher to "<name>.previous" and the checked download to the
//    launcher's name; the new launcher is started on probation and watched (probation.h). A
//    release that does not confirm is rolled back and remembered, and never downloaded again.
// Without keys, the manifest's "sha1" decides whether the launcher is current and what the
// download must be. With keys (manifest_signature.h):
//  - a manifest not signed for this host and path by one of them, or not well-formed, is used for
//    nothing (30), and an expired one neither (31);
//  - a version not above launcher.version is no update: the run goes on (0), whatever the digests say;
//  - "sha256" decides whether the launcher is current, and the download must be exactly "size"
//    bytes long with both digests (6 when it is longer, 7 otherwise).
// A launcher on probation confirms its start once the manifest has been judged, on every way out.
StepResult UpdateLauncher(const UpdateSource& source, const RunningLauncher& launcher, Transfer& transfer,
                          UpdateSystem& system, SelfUpdatePlatform& platform);

// The command line the launcher at path is started again with: the path in double quotes (a
// Windows path holds none), then, when there is any, one blank and the forwarded argument text.
// Nothing on it reaches a command interpreter: the new launcher splits it as a command line.
std::wstring BuildRestartCommandLine(std::wstring_view path, std::wstring_view forwarded);

// Whether a launcher at path can be started again with the forwarded argument text: its path is
// shorter than MAX_PATH (260), which the process start takes, and its command line fits the
// platform's 32,767 characters with the terminator.
inline constexpr std::size_t kRestartPathLimit = 260;
inline constexpr std::size_t kCommandLineLimit = 32767;
bool FitsRestart(std::wstring_view path, std::wstring_view forwarded);

// Set by launchers from before launchers watched their successors, whose hand-over went through the
// command interpreter: the forwarded text, which that hand-over capped at 8,191 characters.
inline constexpr wchar_t kReplacementArgumentsVariable[] = L"ZV_REPLACEMENT_ARGUMENTS";
inline constexpr std::size_t kHandedOverArgumentsLimit = 8191;

// In a launcher restarted by an older launcher's hand-over (through the command interpreter, before
// launchers watched their successors): the forwarded text it left in ZV_REPLACEMENT_ARGUMENTS, or
// nothing. In a launcher started on probation: the token its watcher left in kProbationVariable,
// or nothing. Either way every variable of a hand-over is removed from the process's environment,
// so that no program the launcher starts inherits them. Called once, first thing at entry.
struct HandedOver {
    std::optional<std::wstring> arguments;
    std::optional<ProbationToken> probation;
};
HandedOver TakeHandedOver();

}  // namespace zv
