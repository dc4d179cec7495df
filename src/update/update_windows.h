#pragma once

// The updaters' real acts and self-update platform. Windows only.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "update/launcher_update.h"
#include "update/update_system.h"

namespace zv {

class WindowsUpdateSystem final : public UpdateSystem {
public:
    std::wstring TemporaryFolder() override;
    std::wstring CreateTemporaryFile(const std::wstring& folder) override;
    void RemoveFile(const std::wstring& path) override;
    void Pause(std::chrono::milliseconds duration) override;
    std::chrono::system_clock::time_point Now() override;
    KeptMark ReadManifestMark(std::wstring_view host, std::wstring_view path) override;
    bool WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) override;
};

class WindowsSelfUpdatePlatform final : public SelfUpdatePlatform {
public:
    std::wstring SystemFolder() override;
    bool CanReplace(const std::wstring& path) override;
    ProcessStart StartHidden(const ReplacementCommand& command) override;
    [[noreturn]] void ExitProcess() override;
};

}  // namespace zv
