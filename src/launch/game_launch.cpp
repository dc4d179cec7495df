#include "launch/game_launch.h"

#include <string>

#include "common/log.h"

namespace zv {

std::wstring BuildGameCommandLine(std::wstring_view gameExecutable, std::wstring_view forwarded) {
    // A Windows path holds no double quote, so the path is quoted without escaping.
    std::wstring line;
    line.reserve(gameExecutable.size() + forwarded.size() + kLauncherArgument.size() + 4);
    line += L'"';
    line += gameExecutable;
    line += L"\" ";
    if (!forwarded.empty()) {
        line += forwarded;
        line += L' ';
    }
    line += kLauncherArgument;
    return line;
}

StepResult LaunchGame(const std::wstring& gameExecutable, const RunningLauncher& launcher, LaunchPlatform& platform) {
    std::wstring commandLine = BuildGameCommandLine(gameExecutable, launcher.forwarded);
    const ProcessStart game = platform.StartGame(commandLine);
    if (game.started) {
        return LaunchResult::Success;
    }
    const bool elevationMightHelp = game.error == kErrorElevationRequired || game.error == kErrorAccessDenied;
    // An elevated launcher never elevates again, so a run hands over at most once.
    if (!elevationMightHelp || platform.IsProcessElevated()) {
        return StepResult(LaunchResult::CreateProcessFailed, game.error);
    }

    // The elevated copy repeats the whole run, so it gets the launcher's own arguments, not the
    // game's, and must find the single-instance guard free.
    platform.ReleaseInstanceGuard();
    LogEvent("the game needs administrator rights (error " + std::to_string(game.error) +
             "): the launcher starts an elevated copy of itself");
    const ProcessStart copy = platform.StartElevated(launcher.path, launcher.forwarded);
    if (copy.started) {
        LogEvent("the elevated copy takes over; exit 0");
        platform.ExitProcess();
    }
    if (copy.error == kErrorCancelled) {
        return LaunchResult::ElevationRefused;
    }
    return StepResult(LaunchResult::ShellExecuteFailed, copy.error);
}

}  // namespace zv
