#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/launch_result.h"
#include "common/process_start.h"
#include "common/running_launcher.h"

namespace zv {

inline constexpr std::wstring_view kLauncherArgument = L"--zarnovelle-launcher";

// Windows' answers that decide between an elevated hand-over and a plain failure.
inline constexpr std::uint32_t kErrorAccessDenied = 5;         // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
inline constexpr std::uint32_t kErrorCancelled = 1223;         // ERROR_CANCELLED

// What starting the game does to the world. The Windows implementation is the real one; tests
// stand in for it where Wine cannot produce the situation (a start refused with 740, an
// elevation prompt, a token that reports no elevation).
class LaunchPlatform {
public:
    virtual ~LaunchPlatform() = default;

    // CreateProcessW with the command line (writable), CREATE_NEW_CONSOLE, the launcher's own
    // environment and current directory; both handles of a started process are closed.
    virtual ProcessStart StartGame(std::wstring& commandLine) = 0;
    virtual bool IsProcessElevated() = 0;
    virtual void ReleaseInstanceGuard() = 0;
    // ShellExecuteExW with the verb "runas"; no parameters when parameters is empty.
    virtual ProcessStart StartElevated(const std::wstring& file, const std::wstring& parameters) = 0;
    // Ends the process with exit code 0.
    [[noreturn]] virtual void ExitProcess() = 0;
};

// A double quote, the game's path, a double quote and a blank, then the forwarded text and a
// blank when there is any, then "--zarnovelle-launcher".
std::wstring BuildGameCommandLine(std::wstring_view gameExecutable, std::wstring_view forwarded);

// Starts the game with the launcher's forwarded arguments. Returns 0 when it started, 18, 19 or 20
// when it did not; when Windows demands administrator rights and the launcher is not elevated, it
// hands the run over to an elevated copy of the launcher (its file, its forwarded arguments) and
// ends the process instead of returning.
StepResult LaunchGame(const std::wstring& gameExecutable, const RunningLauncher& launcher, LaunchPlatform& platform);

// True when the launcher's own token reports elevation; false when it does not or cannot be read.
bool IsProcessElevated();

}  // namespace zv
