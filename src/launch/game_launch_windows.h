#pragma once

// The real platform of the game start. Windows only.

#include <functional>
#include <string>

#include "launch/game_launch.h"

namespace zv {

class WindowsLaunchPlatform final : public LaunchPlatform {
public:
    // releaseInstanceGuard lets go of the single-instance guard before an elevated hand-over: the
    // application, which holds the guard, hands in how.
    explicit WindowsLaunchPlatform(std::function<void()> releaseInstanceGuard);

    ProcessStart StartGame(std::wstring& commandLine) override;
    bool IsProcessElevated() override;
    void ReleaseInstanceGuard() override;
    ProcessStart StartElevated(const std::wstring& file, const std::wstring& parameters) override;
    [[noreturn]] void ExitProcess() override;

private:
    std::function<void()> releaseInstanceGuard_;
};

}  // namespace zv
