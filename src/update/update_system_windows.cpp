#include <windows.h>

#include "update/update_system.h"

namespace zv {

namespace {

class RealUpdateSystem final : public UpdateSystem {
public:
    // GetTempPathW reports the size it needs, without filling the buffer, when the path does not
    // fit: the buffer then grows.
    std::wstring TemporaryFolder() override {
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

    std::wstring CreateTemporaryFile(const std::wstring& folder) override {
        wchar_t path[MAX_PATH] = {};
        if (::GetTempFileNameW(folder.c_str(), L"ZVL", 0, path) == 0) {
            return {};
        }
        return path;
    }

    void RemoveFile(const std::wstring& path) override { ::DeleteFileW(path.c_str()); }

    void Pause(std::chrono::milliseconds duration) override { ::Sleep(static_cast<DWORD>(duration.count())); }
};

}  // namespace

UpdateSystem& WindowsUpdateSystem() {
    static RealUpdateSystem system;
    return system;
}

}  // namespace zv
