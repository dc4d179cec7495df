#include <windows.h>
#include <shellapi.h>

#include <utility>

#include "common/unique_handle.h"
#include "launch/game_launch_windows.h"

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

WindowsLaunchPlatform::WindowsLaunchPlatform(std::function<void()> releaseInstanceGuard)
    : releaseInstanceGuard_(std::move(releaseInstanceGuard)) {}

ProcessStart WindowsLaunchPlatform::StartGame(std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    UniqueProcessInformation process;
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                          &startup, process.put())) {
        return {false, ::GetLastError()};
    }
    return {true, 0};
}

bool WindowsLaunchPlatform::IsProcessElevated() { return zv::IsProcessElevated(); }

void WindowsLaunchPlatform::ReleaseInstanceGuard() { releaseInstanceGuard_(); }

ProcessStart WindowsLaunchPlatform::StartElevated(const std::wstring& file, const std::wstring& parameters) {
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

void WindowsLaunchPlatform::ExitProcess() { ::ExitProcess(0); }

}  // namespace zv
