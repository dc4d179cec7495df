#include <windows.h>

#include <cstdint>

#include "app/agreement_record.h"
#include "common/unique_handle.h"

namespace zv {

namespace {
constexpr wchar_t kAgreementKey[] = L"SOFTWARE\\Zarnovelle";
constexpr wchar_t kAgreementValue[] = L"EULA";
}  // namespace

bool ReadAgreementAccepted() {
    std::uint32_t value = 0;
    DWORD size = sizeof(value);
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kAgreementKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS query =
        ::RegQueryValueExW(key.get(), kAgreementValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return query == ERROR_SUCCESS && value == 1;
}

void RecordAgreementAccepted() {
    const std::uint32_t value = 1;
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kAgreementKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    ::RegSetValueExW(key.get(), kAgreementValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace zv
