#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "app/run_launcher.h"
#include "common/launch_result.h"
#include "common/launcher_title.h"
#include "common/log.h"

// The launcher takes no options: the entry's arguments are not used; the arguments to forward are
// read from the process's own command line once, with the run's other facts (ReadRunFacts).
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // First, before anything loads a library by name: from here on such a library, loaded by the
    // launcher or by Windows on its behalf, comes from System32 only, never from the launcher's
    // folder, the current directory or PATH, where anyone who can write beside the launcher could
    // put one. The import table was loaded before this line; it names only KnownDLLs, which
    // Windows never searches for (the build checks it). The result is not checked: this argument
    // is valid on every Windows the launcher runs on (10 and later).
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The log for support; a run without one goes on just the same. It stays open until the
    // process ends (the hand-overs end it from inside a step).
    const std::unique_ptr<zv::LogSink> log = zv::OpenLauncherLog();
    zv::SetLogSink(log.get());
    int code = 1;
    try {
        // Everything the run needs to know about itself, read once and passed down, what a
        // hand-over left in the environment first.
        const zv::RunFacts facts = zv::ReadRunFacts();
        zv::LogStart(facts);
        code = zv::RunLauncher(facts);
    } catch (...) {
        // The steps report their own exceptions under their captions; this is only what happens
        // outside any step, perhaps before the player's texts were read: in English.
        zv::LogEvent("an exception outside the steps");
        ::MessageBoxW(nullptr, zv::DescribeLaunchResult(zv::kUnexpectedFailure).c_str(), zv::kLauncherTitle.data(),
                      zv::kErrorBox);
    }
    zv::SetLogSink(nullptr);
    return code;
}
