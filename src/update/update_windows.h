#pragma once

// The updaters' real acts and self-update platform. Windows only.

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/launcher_update.h"
#include "update/update_system.h"

namespace zv {

class WindowsUpdateSystem final : public UpdateSystem {
public:
    std::unique_ptr<StagedFile> Stage(const std::wstring& path, const std::string& identity,
                                      std::uint32_t& error) override;
    Removal RemoveFile(const std::wstring& path) override;
    void Pause(std::chrono::milliseconds duration) override;
    std::chrono::system_clock::time_point Now() override;
    KeptMark ReadManifestMark(std::wstring_view host, std::wstring_view path) override;
    bool WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) override;
    bool IsRolledBackRelease(std::string_view release) override;
    bool RememberRolledBackRelease(std::string_view release) override;
};

// What the self-update needs of the application around it: its splash and its single-instance
// guard, which the application owns.
struct SelfUpdateHooks {
    // Hides the splash and hands the guard on (StepAside).
    std::function<void()> stepAside;
    // Takes the guard back and shows the splash (ComeBack).
    std::function<void()> comeBack;
};

class WindowsSelfUpdatePlatform final : public SelfUpdatePlatform {
public:
    // probation: what the watching launcher handed over (TakeHandedOver), when this launcher was
    // started on probation.
    WindowsSelfUpdatePlatform(std::optional<ProbationToken> probation, SelfUpdateHooks hooks);

    [[nodiscard]] bool OnProbation() const override { return probation_.has_value(); }
    bool ConfirmStart() noexcept override;
    bool CanReplace(const std::wstring& path) override;
    RenameOutcome Rename(const std::wstring& from, const std::wstring& to) override;
    void StepAside() override;
    void ComeBack() override;
    SuccessorStart StartOnProbation(const std::wstring& path, const std::wstring& forwarded, const FileDigests& checked,
                                    bool withSha256) override;
    [[noreturn]] void ExitProcess() override;

private:
    std::optional<ProbationToken> probation_;
    bool confirmed_ = false;
    SelfUpdateHooks hooks_;
};

// How a rename refused with error ended for the files it concerned: in use (worth waiting for) or
// refused for good (staging.h).
RenameOutcome RenameFailure(std::uint32_t error, std::initializer_list<std::wstring> files);

// How long a launcher on probation waits for the launcher that watched it to end, once it has
// confirmed its start, before it tries to remove the previous file all the same.
inline constexpr std::chrono::seconds kWatcherEndLimit{10};

}  // namespace zv
