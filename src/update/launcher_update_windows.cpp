#include <windows.h>

#include <string>

#include "integrity/file_digest.h"
#include "launch/process_paths.h"
#include "net/http_client.h"
#include "update/launcher_update.h"
#include "update/manifest.h"
#include "update/replacement_command.h"
#include "update/update_host.h"

namespace zv {

namespace {

// The user's temporary folder, ending in a backslash. GetTempPathW reports the size it needs,
// without filling the buffer, when the path does not fit: the buffer then grows.
std::wstring TemporaryFolder() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(n, L'\0');
    }
}

class RealSelfUpdatePlatform final : public SelfUpdatePlatform {
public:
    std::wstring GetModulePath() override { return zv::GetModulePath(); }
    std::wstring BuildForwardedArguments() override { return zv::BuildForwardedArguments(); }

    ProcessStart StartHidden(std::wstring& commandLine) override {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &process)) {
            return {false, ::GetLastError()};
        }
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
        return {true, 0};
    }

    [[noreturn]] void ExitProcess() override { ::ExitProcess(0); }
};

}  // namespace

std::wstring LauncherManifestUrl(std::wstring_view updateHost) {
    std::wstring url = L"https://";
    url += updateHost;
    url += L"/launcher/manifest.json";
    return url;
}

StepResult UpdateLauncher(std::wstring_view updateHost, SelfUpdatePlatform& platform) {
    const ManifestCodes& codes = kLauncherManifestCodes;
    HttpClient client;
    std::string body;
    if (!client.GetString(LauncherManifestUrl(updateHost), body)) {
        return codes.fetchFailed;
    }
    const ManifestDigest manifest = ReadManifestDigest(body, codes);
    if (manifest.failure != LaunchResult::Success) {
        return manifest.failure;
    }
    const std::wstring self = platform.GetModulePath();
    // A launcher file that cannot be read hashes to zeros and so is replaced.
    if (HashFile(self) == manifest.expected) {
        return LaunchResult::Success;
    }
    const ManifestUrl download = ReadManifestUrl(manifest.document, codes);
    if (download.failure != LaunchResult::Success) {
        return download.failure;
    }

    const std::wstring folder = TemporaryFolder();
    if (folder.empty()) {
        return LaunchResult::TempPathFailed;
    }
    wchar_t tempPath[MAX_PATH] = {};
    if (::GetTempFileNameW(folder.c_str(), L"ZVL", 0, tempPath) == 0) {
        return LaunchResult::TempFileFailed;
    }
    // Every failure from here on removes the temporary file; only the replacement command,
    // once started, deletes it itself.
    if (!client.DownloadToFile(download.url, tempPath, {})) {
        ::DeleteFileW(tempPath);
        return codes.downloadFailed;
    }
    if (HashFile(tempPath) != manifest.expected) {
        ::DeleteFileW(tempPath);
        return codes.checksumMismatch;
    }

    ReplacementCommand command = BuildReplacementCommand(tempPath, self, platform.BuildForwardedArguments());
    // The interpreter inherits the launcher's environment, and with it the paths it must not expand.
    for (const auto& [name, value] : command.environment) {
        ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    const ProcessStart replacement = platform.StartHidden(command.line);
    if (!replacement.started) {
        ::DeleteFileW(tempPath);
        return LaunchResult::UpdateProcessFailed;
    }
    platform.ExitProcess();
    return LaunchResult::Success;  // not reached: the replacement has taken over and the process has ended
}

StepResult UpdateLauncher() {
    static RealSelfUpdatePlatform platform;
    return UpdateLauncher(kUpdateHost, platform);
}

}  // namespace zv
