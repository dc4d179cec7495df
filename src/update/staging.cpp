#include "update/staging.h"

#include <chrono>
#include <string>
#include <vector>

#include "net/transfer_rules.h"

#include "common/log.h"
#include "common/text.h"
#include "update/update_system.h"

namespace zv {

std::wstring LauncherStagingPath(std::wstring_view launcherPath) { return std::wstring(launcherPath) + L".new"; }

std::wstring PreviousLauncherPath(std::wstring_view launcherPath) { return std::wstring(launcherPath) + L".previous"; }

std::wstring StubStagingPath(std::wstring_view stubPath) { return std::wstring(stubPath) + L".partial"; }

std::wstring StagingNotePath(std::wstring_view stagingPath) { return std::wstring(stagingPath) + L".resume"; }

namespace {

constexpr std::string_view kNoteForm = "zarnovelle-staging-1";

// The lines of text, each ended by a line feed; nothing when the last line has none.
std::optional<std::vector<std::string_view>> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<std::uint64_t> Decimal(std::string_view text) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

}  // namespace

std::string StagingIdentity(const Sha1Digest& sha1, const std::optional<Sha256Digest>& sha256,
                            std::optional<std::uint64_t> size) {
    std::string identity = "sha1 " + Sha1ToHex(sha1);
    if (sha256) {
        identity += " sha256 " + Sha256ToHex(*sha256);
    }
    if (size) {
        identity += " size " + std::to_string(*size);
    }
    return identity;
}

std::string FormatStagingNote(std::string_view identity, std::string_view validator,
                              std::optional<std::uint64_t> total) {
    std::string note(kNoteForm);
    note += '\n';
    note += identity;
    note += '\n';
    note += validator;
    note += '\n';
    if (total) {
        note += std::to_string(*total);
    }
    note += '\n';
    return note;
}

std::optional<HeldAnswer> ResumableStaging(std::string_view note, std::string_view identity, std::uint64_t fileSize) {
    const std::optional<std::vector<std::string_view>> lines = Lines(note);
    if (!lines || lines->size() != 4 || (*lines)[0] != kNoteForm || (*lines)[1] != identity ||
        !IsUsableValidator((*lines)[2])) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> total = Decimal((*lines)[3]);
    if (!total || fileSize == 0 || fileSize > *total) {
        return std::nullopt;
    }
    return HeldAnswer{fileSize, std::string((*lines)[2]), *total};
}

RenameOutcome RetryWhileInUse(UpdateSystem& system, std::string_view what,
                              const std::function<RenameOutcome()>& rename) {
    RenameOutcome outcome = rename();
    if (outcome.kind != RenameOutcome::Kind::InUse) {
        return outcome;
    }
    LogEvent(std::string(what) + ": a file is in use (error " + std::to_string(outcome.error) +
             "); trying again for up to " +
             std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kInUseRetryTotal).count()) + " seconds");
    for (const std::chrono::milliseconds wait : kInUseRetryWaits) {
        system.Pause(wait);
        outcome = rename();
        if (outcome.kind != RenameOutcome::Kind::InUse) {
            break;
        }
    }
    LogEvent(std::string(what) + (outcome.done()
                                      ? ": done after waiting"
                                      : ": still refused after waiting (error " + std::to_string(outcome.error) + ")"));
    return outcome;
}

void RemoveLeftoverStaging(UpdateSystem& system, const std::wstring& path) {
    system.RemoveFile(StagingNotePath(path));
    RemoveLeftover(system, path);
}

void RemoveLeftover(UpdateSystem& system, const std::wstring& path) {
    switch (system.RemoveFile(path)) {
        case Removal::Absent:
            return;
        case Removal::Removed:
            LogEvent("removed " + ToUtf8(path) + ", left by a run that was ended");
            return;
        case Removal::Failed:
            LogEvent("could not remove " + ToUtf8(path) + ", left by a run that was ended");
            return;
    }
}

}  // namespace zv
