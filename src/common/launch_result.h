#pragma once

#include <cstdint>
#include <string>

namespace zv {

// The outcome of one step of a run. 0 is success; every other value names the failed step and
// has exactly one message. 30 to 34 are the signed manifests' (a launcher built with keys); no
// step returns 21 to 29 or anything above 34. The run reports a step that threw as
// kUnexpectedFailure (app/run_launcher.h), which has the unknown-error text like every value
// without a message of its own.
enum class LaunchResult : std::uint32_t {
    Success = 0,
    LauncherManifestFetchFailed = 1,
    LauncherManifestMissingSha1 = 2,
    LauncherManifestMissingUrl = 3,
    TempPathFailed = 4,
    TempFileFailed = 5,
    LauncherDownloadFailed = 6,
    LauncherChecksumMismatch = 7,
    UpdateProcessFailed = 8,
    InvalidLauncherName = 9,
    TargetExecutableNotFound = 10,
    NoValidClientTarget = 11,
    StubManifestFetchFailed = 12,
    StubManifestMissingSha1 = 13,
    StubManifestMissingUrl = 14,
    StubDownloadFailed = 15,
    StubChecksumMismatch = 16,
    GameLaunchFailed = 17,
    ElevationRefused = 18,
    ShellExecuteFailed = 19,
    CreateProcessFailed = 20,
    LauncherManifestUntrusted = 30,
    LauncherManifestExpired = 31,
    StubManifestUntrusted = 32,
    StubManifestStale = 33,
    GameBuildWithdrawn = 34,
};

// A step's result together with the operating-system error number of the call that failed, for
// the results whose message carries one (19 and 20). The number is captured right at the failed
// call, so nothing that runs afterwards (closing windows, releasing handles) can change it.
struct StepResult {
    LaunchResult result = LaunchResult::Success;
    std::uint32_t systemError = 0;

    StepResult() = default;
    StepResult(LaunchResult r, std::uint32_t error = 0)
        : result(r), systemError(error) {}  // NOLINT: implicit by design

    [[nodiscard]] bool succeeded() const { return result == LaunchResult::Success; }
    friend bool operator==(const StepResult&, const StepResult&) = default;
};

// The user-facing text of a result. systemError is used only by 19 and 20, where it is written
// in unsigned decimal at the very end of the text.
std::wstring DescribeLaunchResult(LaunchResult result, std::uint32_t systemError = 0);
inline std::wstring DescribeLaunchResult(const StepResult& step) {
    return DescribeLaunchResult(step.result, step.systemError);
}

}  // namespace zv
