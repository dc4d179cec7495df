#include <windows.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "common/process_paths.h"
#include "common/rename_open_file.h"
#include "common/text.h"
#include "common/handle_source.h"
#include "common/unique_handle.h"
#include "net/transfer_rules.h"
#include "update/update_windows.h"

namespace zv {

namespace {

// Under HKEY_CURRENT_USER: one key per update host, one value per manifest path.
constexpr wchar_t kMarksKey[] = L"SOFTWARE\\Zarnovelle\\Manifests\\";
// Under HKEY_CURRENT_USER: one value per launcher release that was rolled back, named by its digest.
constexpr wchar_t kRolledBackKey[] = L"SOFTWARE\\Zarnovelle\\RolledBackLaunchers";

// The whole of a small file, up to limit bytes; nothing when it cannot be read or is longer.
std::optional<std::string> ReadSmallFile(const std::wstring& path, DWORD limit) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string text(limit + 1, '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), text.data(), limit + 1, &read, nullptr) || read > limit) {
        return std::nullopt;
    }
    text.resize(read);
    return text;
}

// Writes text as the whole file at path; false when it cannot.
bool WriteSmallFile(const std::wstring& path, const std::string& text) {
    const UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// Shared with readers only, with DELETE access for the switch and the removal: no other process
// may write, rename or delete it while it is held. Its note lies beside it (staging.h).
class WindowsStagedFile final : public StagedFile {
public:
    WindowsStagedFile(std::wstring path, UniqueFile file, std::string identity, std::optional<HeldAnswer> held)
        : path_(std::move(path)),
          notePath_(StagingNotePath(path_)),
          file_(std::move(file)),
          identity_(std::move(identity)) {
        if (held) {
            size_ = held->bytes;
            validator_ = held->validator;
            total_ = held->total;
        }
    }
    ~WindowsStagedFile() override {
        if (!switched_) {
            Remove();
        }
    }
    WindowsStagedFile(const WindowsStagedFile&) = delete;
    WindowsStagedFile& operator=(const WindowsStagedFile&) = delete;

    bool Write(const char* data, std::size_t size, std::uint32_t& error) override {
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD written = 0;
            if (!::WriteFile(file_.get(), data, chunk, &written, nullptr)) {
                error = ::GetLastError();
                return false;
            }
            if (written != chunk) {
                // A short write that reports success carries no error code.
                error = ERROR_WRITE_FAULT;
                return false;
            }
            data += written;
            size -= written;
            size_ += written;
        }
        return true;
    }

    [[nodiscard]] std::wstring Name() const override { return path_; }

    [[nodiscard]] std::optional<HeldAnswer> Held() const override {
        if (size_ == 0 || !total_ || size_ > *total_ || !IsUsableValidator(validator_)) {
            return std::nullopt;
        }
        return HeldAnswer{size_, validator_, *total_};
    }

    bool Begin(bool fromStart, std::string_view validator, std::optional<std::uint64_t> total,
               std::uint32_t& error) override {
        if (fromStart) {
            LARGE_INTEGER start{};
            if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.get())) {
                error = ::GetLastError();
                return false;
            }
            size_ = 0;
        }
        validator_ = validator;
        total_ = total;
        // For a run that is ended before this answer is whole. A note that cannot be written costs
        // only that resume.
        WriteSmallFile(notePath_, FormatStagingNote(identity_, validator_, total_));
        return true;
    }

    std::optional<FileDigests> Digests(bool withSha256) override {
        LARGE_INTEGER start{};
        if (!file_ || !::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) {
            return std::nullopt;
        }
        HandleSource source(file_.get());
        const std::optional<FileDigests> digests = HashSource(source, withSha256);
        // Back to the end, for a write after the check.
        LARGE_INTEGER none{};
        ::SetFilePointerEx(file_.get(), none, nullptr, FILE_END);
        return digests;
    }

    RenameOutcome SwitchInto(const std::wstring& target, bool replace) override {
        if (switched_ || !file_) {
            return {RenameOutcome::Kind::Failed, ERROR_INVALID_HANDLE};
        }
        if (!RenameOpenFile(file_.get(), target, replace)) {
            return RenameFailure(::GetLastError(), {path_, target});
        }
        switched_ = true;
        path_ = target;
        ::DeleteFileW(notePath_.c_str());
        return {RenameOutcome::Kind::Done, 0};
    }

    bool Remove() override {
        if (switched_) {
            return true;
        }
        ::DeleteFileW(notePath_.c_str());
        if (!file_) {
            return removed_;
        }
        // Through the handle, so that it is this file that goes: marked for deletion, gone once closed.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        const bool marked =
            ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
        file_.reset();
        removed_ = marked || ::DeleteFileW(path_.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
        return removed_;
    }

private:
    std::wstring path_;
    std::wstring notePath_;
    UniqueFile file_;
    std::string identity_;
    std::uint64_t size_ = 0;
    std::string validator_;
    std::optional<std::uint64_t> total_;
    bool switched_ = false;
    bool removed_ = false;
};

// A release's name is its digest in lower-case hexadecimal, nothing else: it names a registry value.
bool IsReleaseName(std::string_view release) {
    return !release.empty() && release.size() <= 64 &&
           release.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A host names one key below kMarksKey: a backslash would name another.
std::optional<std::wstring> MarksKeyName(std::wstring_view host) {
    if (host.empty() || host.find(L'\\') != std::wstring_view::npos) {
        return std::nullopt;
    }
    return kMarksKey + std::wstring(host);
}

}  // namespace

RenameOutcome RenameFailure(std::uint32_t error, std::initializer_list<std::wstring> files) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return {RenameOutcome::Kind::InUse, error};
    }
    if (error == ERROR_ACCESS_DENIED) {
        // Also what a running program's file, or one still mapped by a process that is ending,
        // answers when it would be replaced; a read-only file answers it for good.
        for (const std::wstring& file : files) {
            const DWORD attributes = ::GetFileAttributesW(file.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                return {RenameOutcome::Kind::Failed, error};
            }
        }
        return {RenameOutcome::Kind::InUse, error};
    }
    return {RenameOutcome::Kind::Failed, error};
}

std::unique_ptr<StagedFile> WindowsUpdateSystem::Stage(const std::wstring& path, const std::string& identity,
                                                       std::uint32_t& error) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = ::GetLastError();
        return nullptr;
    }
    // A file of this name was there: left by a run that was ended. Taken up as it is when its note
    // says it holds part of the same release; emptied otherwise.
    std::optional<HeldAnswer> held;
    LARGE_INTEGER size{};
    if (::GetLastError() == ERROR_ALREADY_EXISTS && ::GetFileSizeEx(file.get(), &size)) {
        if (const std::optional<std::string> note = ReadSmallFile(StagingNotePath(path), 4096)) {
            held = ResumableStaging(*note, identity, static_cast<std::uint64_t>(size.QuadPart));
        }
    }
    LARGE_INTEGER offset{};
    if (!::SetFilePointerEx(file.get(), offset, nullptr, held ? FILE_END : FILE_BEGIN) ||
        (!held && !::SetEndOfFile(file.get()))) {
        error = ::GetLastError();
        return nullptr;
    }
    if (!held) {
        WriteSmallFile(StagingNotePath(path), FormatStagingNote(identity, "", std::nullopt));
    }
    return std::make_unique<WindowsStagedFile>(path, std::move(file), identity, held);
}

Removal WindowsUpdateSystem::RemoveFile(const std::wstring& path) {
    if (::DeleteFileW(path.c_str())) {
        return Removal::Removed;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Removal::Absent : Removal::Failed;
}

void WindowsUpdateSystem::Pause(std::chrono::milliseconds duration) { ::Sleep(static_cast<DWORD>(duration.count())); }

std::chrono::system_clock::time_point WindowsUpdateSystem::Now() { return std::chrono::system_clock::now(); }

KeptMark WindowsUpdateSystem::ReadManifestMark(std::wstring_view host, std::wstring_view path) {
    const std::optional<std::wstring> keyName = MarksKeyName(host);
    if (!keyName) {
        return KeptMark::Nothing();
    }
    const std::wstring valueName(path);
    UniqueRegKey key;
    const LSTATUS opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, keyName->c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        return KeptMark::Nothing();
    }
    if (opened != ERROR_SUCCESS) {
        return KeptMark::Unreadable("its key cannot be opened (error " + std::to_string(opened) + ")");
    }
    // Room for one character more than the longest mark and its terminator, so that
    // ReadManifestMarkText sees a longer value as one.
    wchar_t text[kMaxManifestMarkText + 2] = {};
    DWORD type = 0;
    DWORD size = sizeof text;
    const LSTATUS queried =
        ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (queried == ERROR_FILE_NOT_FOUND) {
        return KeptMark::Nothing();
    }
    if (queried == ERROR_MORE_DATA) {
        return KeptMark::Unreadable("it is longer than any mark");
    }
    if (queried != ERROR_SUCCESS) {
        return KeptMark::Unreadable("it cannot be read (error " + std::to_string(queried) + ")");
    }
    if (type != REG_SZ) {
        return KeptMark::Unreadable("it is not a text value (REG_SZ)");
    }
    if (size % sizeof(wchar_t) != 0) {
        return KeptMark::Unreadable("it is not a mark");
    }
    return ReadManifestMarkText(std::wstring_view(text, size / sizeof(wchar_t)));
}

bool WindowsUpdateSystem::WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) {
    const std::optional<std::wstring> keyName = MarksKeyName(host);
    if (!keyName) {
        return false;
    }
    const std::wstring valueName(path);
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, keyName->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::string text = FormatManifestMark(mark);
    const std::wstring value(text.begin(), text.end());  // ASCII: digits, dots, blanks, letters
    return ::RegSetValueExW(key.get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WindowsUpdateSystem::IsRolledBackRelease(std::string_view release) {
    if (!IsReleaseName(release)) {
        return false;
    }
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRolledBackKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring name(release.begin(), release.end());
    return ::RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool WindowsUpdateSystem::RememberRolledBackRelease(std::string_view release) {
    if (!IsReleaseName(release)) {
        return false;
    }
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kRolledBackKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring name(release.begin(), release.end());
    // When, for support: the value's presence is what counts.
    const std::string when =
        FormatUtcTime(std::chrono::time_point_cast<std::chrono::milliseconds>(Now()), UtcPrecision::Seconds);
    const std::wstring value(when.begin(), when.end());
    return ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace zv
