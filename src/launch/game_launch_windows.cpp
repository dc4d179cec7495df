#include <windows.h>
#include <shellapi.h>

#include "common/unique_handle.h"
#include "launch/game_launch.h"
#include "launch/process_paths.h"

namespace zv {

bool IsProcessElevated() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    const BOOL ok = ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned);
    return ok && elevation.TokenIsElevated != 0;
}

namespace {

class RealLaunchPlatform final : public LaunchPlatform {
public:
    explicit RealLaunchPlatform(void (*releaseInstanceGuard)()) : releaseInstanceGuard_(releaseInstanceGuard) {}

    ProcessStart StartGame(std::wstring& commandLine) override {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        UniqueProcessInformation process;
        if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                              nullptr, &startup, process.put())) {
            return {false, ::GetLastError()};
        }
        return {true, 0};
    }

    bool IsProcessElevated() override { return zv::IsProcessElevated(); }
    void ReleaseInstanceGuard() override { releaseInstanceGuard_(); }
    std::wstring GetModulePath() override { return zv::GetModulePath(); }

    ProcessStart StartElevated(const std::wstring& file, const std::wstring& parameters) override {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.lpVerb = L"runas";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!::ShellExecuteExW(&info)) {
            return {false, ::GetLastError()};
        }
        return {true, 0};
    }

    [[noreturn]] void ExitProcess() override { ::ExitProcess(0); }

private:
    void (*releaseInstanceGuard_)();
};

}  // namespace

std::unique_ptr<LaunchPlatform> MakeWindowsLaunchPlatform(void (*releaseInstanceGuard)()) {
    return std::make_unique<RealLaunchPlatform>(releaseInstanceGuard);
}

}  // namespace zv
