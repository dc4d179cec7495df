#include <windows.h>

#include <string>

#include "common/text.h"
#include "common/unique_handle.h"
#include "common/process_paths.h"
#include "update/update_windows.h"

namespace zv {

namespace {

// Under HKEY_CURRENT_USER: one key per set of keys, one value per manifest path.
constexpr wchar_t kMarksKey[] = L"SOFTWARE\\Zarnovelle\\Manifests\\";

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

std::optional<ManifestMark> WindowsUpdateSystem::ReadManifestMark(std::wstring_view keySet, std::wstring_view path) {
    const std::wstring keyName = kMarksKey + std::wstring(keySet);
    const std::wstring valueName(path);
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // A mark is short: a version and 64 digits. Anything longer is not one.
    wchar_t text[128] = {};
    DWORD type = 0;
    DWORD size = sizeof text - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    std::wstring value(text, size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') {
        value.pop_back();
    }
    return ParseManifestMark(ToUtf8(value));
}

bool WindowsUpdateSystem::WriteManifestMark(std::wstring_view keySet, std::wstring_view path,
                                            const ManifestMark& mark) {
    const std::wstring keyName = kMarksKey + std::wstring(keySet);
    const std::wstring valueName(path);
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::string text = FormatManifestMark(mark);
    const std::wstring value(text.begin(), text.end());  // ASCII: digits, dots, a blank, letters
    return ::RegSetValueExW(key.get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}
}  // namespace zv
