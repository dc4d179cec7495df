#pragma once

#include <string_view>

#include "app/run_facts.h"
#include "common/launch_result.h"
#include "common/player_texts.h"

namespace zv {

// Message box flags the launcher uses (MB_OK with an icon).
inline constexpr unsigned kInformationBox = 64;  // MB_ICONINFORMATION
inline constexpr unsigned kErrorBox = 16;        // MB_ICONERROR

// A step that ended with an exception instead of a result: shown as the unknown-error text.
inline constexpr LaunchResult kUnexpectedFailure = static_cast<LaunchResult>(0xFFFFFFFFu);

// Everything the run does to the world, in the order of the run. The Windows build wires each
// operation to the real one; the flow's tests stand in for them.
class LauncherSteps {
public:
    virtual ~LauncherSteps() = default;

    virtual bool AcquireInstanceGuard() = 0;
    virtual void ReleaseInstanceGuard() = 0;

    virtual void StartUiThread() = 0;
    virtual void ShowSplash() = 0;
    virtual void HideSplash() = 0;
    virtual void CloseSplash() = 0;

    // The agreement record: true only when "EULA" reads as the 32-bit number 1.
    virtual bool ReadAgreementAccepted() = 0;
    // Writes "EULA" = REG_DWORD 1; a failure is silent.
    virtual void RecordAgreementAccepted() = 0;
    virtual bool AskForConsent() = 0;

    // Return only when they did not end the process themselves.
    virtual StepResult UpdateLauncher() = 0;
    virtual StepResult UpdateAndLaunchGame() = 0;

    // Blocks until the user dismisses the box.
    virtual void ShowMessage(std::wstring_view text, std::wstring_view caption, unsigned flags) = 0;
};

// The whole run, in order; returns the process exit code (0 or 1). The boxes speak the player's
// language (texts); the log stays in English.
int RunLauncher(LauncherSteps& steps, const PlayerTexts& texts);

// The run with the real operations, built for it from facts (Windows only).
int RunLauncher(const RunFacts& facts);

// Logs the start of a run: the launcher's path and SHA-1, how many arguments it forwards (never
// their text), the Windows version and the language of the player's texts (Windows only).
void LogStart(const RunFacts& facts);

}  // namespace zv
