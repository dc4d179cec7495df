#pragma once

// Putting a download in place. Every download, the launcher's and the stub's, is written to a
// staging file in the folder of the file it will replace, so that the switch is a rename on one
// volume:
//  - The staging file is held open from its creation to its switch so that no other process can
//    write, rename or delete it; the download is written, and then checked, through that handle.
//  - The switch renames the held file over its target through the same handle, so that the bytes
//    checked are the bytes switched: nothing can change them in between.
//  - A staging file that failed or was refused is removed, through its handle while it is held.
// A rename refused because a file is in use (an antivirus scan, a running program, another process
// holding it without delete sharing) is tried again with growing waits, for 10 seconds in all.
//
// A download that breaks off is resumed by the next attempt (net/retrying_transfer.h), and one that
// a run could not finish because the run was ended is resumed by the next run: beside the staging
// file lies a note ("<name>.resume") that says which release it is staged for (the digests and size
// the manifest names) and which answer its bytes came from (its validator and whole length). A
// staging file whose note names another release, or none, is started over. The whole file is
// verified as before, however many answers its bytes came from.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "integrity/file_digest.h"
#include "integrity/sha1.h"
#include "integrity/sha256.h"
#include "net/download_sink.h"

namespace zv {

class UpdateSystem;

// How a rename ended.
struct RenameOutcome {
    enum class Kind {
        Done,
        InUse,   // refused while another process holds a file: worth trying again
        Failed,  // refused for good: a missing file, no permission, a read-only file
    };
    Kind kind = Kind::Failed;
    std::uint32_t error = 0;  // the platform's error code when it did not happen

    [[nodiscard]] bool done() const { return kind == Kind::Done; }
};

// The file a download is staged in while it is written and checked (see above). Held open from
// its creation; removed, with its note, when it goes without having been switched. As a
// DownloadSink it holds what a run that was ended left of the same release, and keeps its note up
// to date with each answer it is given.
class StagedFile : public DownloadSink {
public:
    // The digests of what the file holds, read from its start through the held handle: the SHA-1,
    // and with withSha256 the SHA-256 too. Nothing when it cannot be read (or the platform's
    // SHA-256 cannot be had).
    virtual std::optional<FileDigests> Digests(bool withSha256) = 0;

    // Renames the held file to target (on the same volume), replacing a file of that name when
    // replace says so. Once done the file is target and no longer staged; it is closed when
    // this object goes.
    virtual RenameOutcome SwitchInto(const std::wstring& target, bool replace) = 0;

    // Removes the file through the held handle and lets it go; false when it could not be removed
    // (then it stays). Nothing happens once switched.
    virtual bool Remove() = 0;
};

// The staging file beside the launcher at launcherPath: "<name>.new" (Foo_ZV.exe.new).
std::wstring LauncherStagingPath(std::wstring_view launcherPath);
// The name the running launcher's file takes while the one that replaced it is on probation:
// "<name>.previous".
std::wstring PreviousLauncherPath(std::wstring_view launcherPath);
// The staging file beside the client stub at stubPath: "<name>.partial" (ZVClient.dll.partial).
std::wstring StubStagingPath(std::wstring_view stubPath);
// The note beside a staging file: "<staging name>.resume".
std::wstring StagingNotePath(std::wstring_view stagingPath);

// What a staging file is staged for: the release's SHA-1, and with keys its SHA-256 and size, as
// one line of text.
std::string StagingIdentity(const Sha1Digest& sha1, const std::optional<Sha256Digest>& sha256,
                            std::optional<std::uint64_t> size);

// The note's text: a first line naming its form, the identity, the answer's validator (empty when it
// had none or none has come yet) and its whole length (empty when unknown), each on a line.
std::string FormatStagingNote(std::string_view identity, std::string_view validator,
                              std::optional<std::uint64_t> total);

// What a staging file of fileSize bytes, with note beside it, can be resumed from for a download of
// the release identity names: its held answer. Nothing when the note is not of this form or not
// for this release, names no usable validator or no length, or the file is empty or longer.
std::optional<HeldAnswer> ResumableStaging(std::string_view note, std::string_view identity, std::uint64_t fileSize);

// The waits before each further attempt at a rename that is refused while a file is in use: they
// grow, and add up to 10 seconds.
inline constexpr std::array<std::chrono::milliseconds, 7> kInUseRetryWaits{
    std::chrono::milliseconds{100},  std::chrono::milliseconds{200},  std::chrono::milliseconds{400},
    std::chrono::milliseconds{800},  std::chrono::milliseconds{1600}, std::chrono::milliseconds{3200},
    std::chrono::milliseconds{3700},
};
// All of them together: how long a rename refused for a file in use is tried.
inline constexpr std::chrono::milliseconds kInUseRetryTotal = [] {
    std::chrono::milliseconds total{0};
    for (const std::chrono::milliseconds wait : kInUseRetryWaits) {
        total += wait;
    }
    return total;
}();

// Tries rename() until it is done, refused for good, or still in use after the last wait of
// kInUseRetryWaits (paused through system); returns its last outcome. what names the rename for
// the log, which says when it had to wait and how it ended after waiting.
RenameOutcome RetryWhileInUse(UpdateSystem& system, std::string_view what,
                              const std::function<RenameOutcome()>& rename);

// Removes a file left by a run that was ended before it could remove it (the previous launcher).
// Logged only when there was one.
void RemoveLeftover(UpdateSystem& system, const std::wstring& path);
// The same for a staging file and its note.
void RemoveLeftoverStaging(UpdateSystem& system, const std::wstring& path);

}  // namespace zv
