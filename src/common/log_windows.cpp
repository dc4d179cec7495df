#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "common/log.h"
#include "common/rename_open_file.h"
#include "common/log_place.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace zv {

namespace {

// The log's folder below %LOCALAPPDATA%, and its file.
constexpr const wchar_t* kLogFolders[] = {L"Zarnovelle", L"Logs"};
constexpr wchar_t kLogName[] = L"launcher.log";
constexpr wchar_t kOlderLogName[] = L"launcher.1.log";

class LogFile final : public LogSink {
public:
    LogFile(UniqueFile parent, UniqueFile folder, UniqueFile file)
        : parent_(std::move(parent)), folder_(std::move(folder)), file_(std::move(file)) {}

    void WriteLine(std::string_view line) noexcept override {
        // Appended whole in one call: with FILE_APPEND_DATA the system writes it at the end of the
        // file even when another launcher appends too.
        DWORD written = 0;
        ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

private:
    // Held open, without letting anyone delete or rename them, for as long as the log is written:
    // the folders that were checked stay the folders written to.
    UniqueFile parent_;
    UniqueFile folder_;
    UniqueFile file_;
};

// What a handle says of itself; nothing when the platform does not say.
std::optional<OpenedEntry> Describe(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
        return std::nullopt;
    }
    OpenedEntry entry;
    entry.reparsePoint = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.directory = standard.Directory != FALSE;
    entry.links = standard.NumberOfLinks;
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path, static_cast<DWORD>(std::size(path)),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length > 0 && length < std::size(path)) {
        entry.finalPath.assign(path, length);
    }
    return entry;
}

// Opens the folder at path (made when missing) without following a reparse point there, and keeps
// it only when it is the folder itself at expected (its parent's real place and its name).
UniqueFile OpenFolder(const std::wstring& path, const std::wstring& expected) {
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return UniqueFile();
    }
    // Listing access, not attributes alone, so that the sharing mode holds: nobody may delete or
    // rename the folder while it is open. Another launcher opens it the same way.
    UniqueFile folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const std::optional<OpenedEntry> entry = folder ? Describe(folder.get()) : std::nullopt;
    if (!entry || CheckLogFolder(*entry, expected) != LogPlace::Usable) {
        return UniqueFile();
    }
    return folder;
}

// Opens (or makes) the log file for appending, without following a reparse point, and keeps it
// only when it is a file of one name at expected. DELETE lets it be renamed through the handle.
// An existing name is opened as it is, and only a name that is free is created: a dangling link
// in the file's place is never followed to create its target.
UniqueFile OpenLogFile(const std::wstring& path, const std::wstring& expected) {
    const auto open = [&path](DWORD disposition) {
        return UniqueFile(::CreateFileW(path.c_str(), FILE_APPEND_DATA | DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    };
    UniqueFile file = open(OPEN_EXISTING);
    if (!file && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = open(CREATE_NEW);
    }
    const std::optional<OpenedEntry> entry = file ? Describe(file.get()) : std::nullopt;
    if (!entry || CheckLogFile(*entry, expected) != LogPlace::Usable) {
        return UniqueFile();
    }
    return file;
}

// Renames the open log to launcher.1.log in the same folder, replacing an older one. The rename
// goes through the handle, so it is the checked file that moves; a launcher.1.log that is a link
// is replaced as a name, its target untouched.
bool RenameToOlderLog(HANDLE file, const std::wstring& folder) {
    return RenameOpenFile(file, folder + L"\\" + kOlderLogName, true);
}

std::optional<std::uint64_t> FileSize(HANDLE file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

// %LOCALAPPDATA% as the platform really has it: the user's own folder, which may itself be
// redirected; only what the launcher makes below it is checked.
std::optional<std::wstring> LocalAppDataFinalPath() {
    wchar_t base[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) {
        return std::nullopt;
    }
    const UniqueFile folder(::CreateFileW(base, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::optional<OpenedEntry> entry = folder ? Describe(folder.get()) : std::nullopt;
    if (!entry || entry->finalPath.empty()) {
        return std::nullopt;
    }
    return entry->finalPath;
}

}  // namespace

std::unique_ptr<LogSink> OpenLauncherLog() {
    const std::optional<std::wstring> base = LocalAppDataFinalPath();
    if (!base) {
        return nullptr;
    }
    // Each folder is checked before anything is made inside it, and stays open (and so in place)
    // while the next is made and opened.
    std::wstring folderPath = *base;
    UniqueFile parent;
    UniqueFile folder;
    for (const wchar_t* name : kLogFolders) {
        folderPath = JoinPath(folderPath, name);
        parent = std::move(folder);
        folder = OpenFolder(folderPath, folderPath);
        if (!folder) {
            return nullptr;
        }
    }
    const std::wstring path = JoinPath(folderPath, kLogName);
    UniqueFile file = OpenLogFile(path, path);
    if (!file) {
        return nullptr;
    }
    if (const std::optional<std::uint64_t> size = FileSize(file.get()); size && *size > kLogRotateBytes) {
        // When the older log cannot be replaced, this one goes on growing; nothing else is lost.
        if (RenameToOlderLog(file.get(), folderPath)) {
            file = OpenLogFile(path, path);
            if (!file) {
                return nullptr;
            }
        }
    }
    return std::make_unique<LogFile>(std::move(parent), std::move(folder), std::move(file));
}

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace zv
