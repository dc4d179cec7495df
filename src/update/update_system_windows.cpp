#include <windows.h>

#include <optional>
#include <string>

#include "common/text.h"
#include "common/unique_handle.h"
#include "common/process_paths.h"
#include "update/update_windows.h"

namespace zv {

namespace {

// Under HKEY_CURRENT_USER: one key per update host, one value per manifest path.
constexpr wchar_t kMarksKey[] = L"SOFTWARE\\Zarnovelle\\Manifests\\";

// A host names one key below kMarksKey: a backslash would name another.
std::optional<std::wstring> MarksKeyName(std::wstring_view host) {
    if (host.empty() || host.find(L'\\') != std::wstring_view::npos) {
        return std::nullopt;
    }
    return kMarksKey + std::wstring(host);
}

}  // namespace

// GetTempPathW reports the size it needs, without filling the buffer, when the path does not
// fit: the buffer then grows.
std::wstring WindowsUpdateSystem::TemporaryFolder() {
    return ReadGrowingPath(
        [](wchar_t* buffer, std::uint32_t size) -> std::uint32_t { return ::GetTempPathW(size, buffer); });
}

std::wstring WindowsUpdateSystem::CreateTemporaryFile(const std::wstring& folder) {
    wchar_t path[MAX_PATH] = {};
    if (::GetTempFileNameW(folder.c_str(), L"ZVL", 0, path) == 0) {
        return {};
    }
    return path;
}

void WindowsUpdateSystem::RemoveFile(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

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

}  // namespace zv
