#include <windows.h>

#include "app/launch_result.h"
#include "app/run_launcher.h"

// The launcher takes no options: the entry's arguments are not used, and the arguments to forward
// are read from the process's own command line where they are needed.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        return zv::RunLauncher();
    } catch (...) {
        // The steps report their own exceptions under their captions; this is only what happens
        // outside any step.
        ::MessageBoxW(nullptr, zv::DescribeLaunchResult(zv::kUnexpectedFailure).c_str(), zv::kLauncherCaption.data(),
                      zv::kErrorBox);
        return 1;
    }
}
