#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/log.h"
#include "common/unique_handle.h"

namespace zv {

namespace {

class LogFile final : public LogSink {
public:
    explicit LogFile(UniqueFile file) : file_(std::move(file)) {}

    void WriteLine(std::string_view line) noexcept override {
        // Appended whole in one call: with FILE_APPEND_DATA the system writes it at the end of the
        // file even when another launcher appends too.
        DWORD written = 0;
        ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

private:
    UniqueFile file_;
};

// %LOCALAPPDATA%\Zarnovelle\Logs, made when missing; empty when it cannot be had.
std::wstring LogFolder() {
    wchar_t base[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) {
        return {};
    }
    std::wstring folder = base;
    for (const wchar_t* part : {L"\\Zarnovelle", L"\\Logs"}) {
        folder += part;
        if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return folder;
}

}  // namespace

std::unique_ptr<LogSink> OpenLauncherLog() {
    const std::wstring folder = LogFolder();
    if (folder.empty()) {
        return nullptr;
    }
    const std::wstring path = folder + L"\\launcher.log";
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > kLogRotateBytes) {
        // When the older log cannot be replaced, this one goes on growing; nothing else is lost.
        ::MoveFileExW(path.c_str(), (folder + L"\\launcher.1.log").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return nullptr;
    }
    return std::make_unique<LogFile>(std::move(file));
}

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace zv
