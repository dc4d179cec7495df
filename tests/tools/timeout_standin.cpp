// A stand-in for Windows' timeout.exe, which Wine does not ship: "timeout /t N [/nobreak]" waits
// N seconds and prints nothing. Copied into the test prefix's system32 by
// tests/wine/prefix.d/20-timeout-standin.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    long seconds = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (_wcsicmp(argv[i], L"/t") == 0) {
            seconds = std::wcstol(argv[i + 1], nullptr, 10);
        }
    }
    if (seconds > 0) {
        ::Sleep(static_cast<DWORD>(seconds) * 1000);
    }
    return 0;
}
