#pragma once

// The facts of one run, read once at entry (wWinMain) and passed down as values: nothing below
// the application reads them from the process or the build again.

#include <optional>
#include <string>
#include <vector>

#include "common/running_launcher.h"
#include "update/update_source.h"

namespace zv {

struct RunFacts {
    // The launcher's file, its forwarded arguments as one text, and its own version.
    RunningLauncher launcher;
    // The same arguments one by one: the ones handed over by a self-update, or the launcher's own.
    std::vector<std::wstring> forwardedArguments;
    // The update server and the keys the build was configured with.
    UpdateSource source;
};

// The facts of this process and build; handedOver is what TakeHandedOverArguments took from the
// environment (Windows only).
RunFacts ReadRunFacts(const std::optional<std::wstring>& handedOver);

}  // namespace zv
