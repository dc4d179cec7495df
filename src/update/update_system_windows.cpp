#include <windows.h>

#include "launch/process_paths.h"
#include "update/update_system.h"

namespace zv {

namespace {

class RealUpdateSystem final : public UpdateSystem {
public:
    // GetTempPathW reports the size it needs, without filling the buffer, when the path does not
    // fit: the buffer then grows.
    std::wstring TemporaryFolder() override {
        return ReadGrowingPath(
            [](wchar_t* buffer, std::uint32_t size) -> std::uint32_t { return ::GetTempPathW(size, buffer); });
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
