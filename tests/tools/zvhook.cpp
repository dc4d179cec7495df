// zvhook: the window-message hooks that `zvwin watch` installs for every process of the prefix.
// In a process whose environment names a journal file (ZV_WATCH_LOG), they append one line per
// event at the moment the window itself handles the message, so the order of the lines is the
// order in which things happened:
//
//   <pid> <tid> <hwnd> <event> <data> <class>|<title>
//
//   create, show, hide, destroy   a top-level window, or a progress bar (the splash's download
//                                 bar); data "-"
//   setfont                       WM_SETFONT to any window; data "<font handle>:<redraw flag>:<height>",
//                                 the height being the font's lfHeight (read inside the process
//                                 that owns the font)
//   ctlcolorstatic                WM_CTLCOLORSTATIC answered by a top-level window; data
//                                 "<control>:<brush returned>"
//   freeze                        see ZV_WATCH_FREEZE below
//
// Processes without the variable are left alone. Handles are printed as unsigned decimals.
//
// With ZV_WATCH_FREEZE=<class> as well, the process is frozen once the first top-level window of
// that class has painted: every other thread is suspended, so the run stops where it is while
// the window stays on screen and keeps painting, for as long as the process lives. The
// screenshots use this to hold a splash that a run would otherwise take away at once.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

// The journal's path, or empty when this process is not watched; read once per process.
const std::wstring& Journal() {
    static const std::wstring path = [] {
        wchar_t buffer[MAX_PATH];
        const DWORD n = ::GetEnvironmentVariableW(L"ZV_WATCH_LOG", buffer, MAX_PATH);
        return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
    }();
    return path;
}

const std::wstring& FreezeClass() {
    static const std::wstring name = [] {
        wchar_t buffer[256];
        const DWORD n = ::GetEnvironmentVariableW(L"ZV_WATCH_FREEZE", buffer, 256);
        return n > 0 && n < 256 ? std::wstring(buffer, n) : std::wstring();
    }();
    return name;
}

std::atomic<bool> g_frozen{false};

void SuspendOtherThreads() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId() && entry.th32ThreadID != ::GetCurrentThreadId()) {
            if (const HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
                ::SuspendThread(thread);
                ::CloseHandle(thread);
            }
        }
    }
    ::CloseHandle(snapshot);
}

unsigned long long Number(const void* handle) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle));
}

// One line of UTF-8: line breaks and other control characters become spaces.
std::string Utf8(const wchar_t* text) {
    char buffer[512];
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    std::string out = n > 0 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return out;
}

bool TopLevel(HWND window) { return (::GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0; }

bool ProgressBar(HWND window) {
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    return _wcsicmp(className, L"msctls_progress32") == 0;
}

void Record(HWND window, const char* event, const std::string& data) {
    // The watched program must not see its last error change under it.
    const DWORD lastError = ::GetLastError();
    wchar_t className[128] = {};
    wchar_t title[128] = {};
    ::GetClassNameW(window, className, 128);
    ::GetWindowTextW(window, title, 128);
    char line[768];
    const int n =
        std::snprintf(line, sizeof line, "%lu %lu %llu %s %s %s|%s\n", ::GetCurrentProcessId(), ::GetCurrentThreadId(),
                      Number(window), event, data.c_str(), Utf8(className).c_str(), Utf8(title).c_str());
    const HANDLE file = ::CreateFileW(Journal().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
        ::CloseHandle(file);
    }
    ::SetLastError(lastError);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ZvWatchHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && !Journal().empty()) {
        const auto& m = *reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (m.message == WM_SETFONT) {
            LOGFONTW font{};
            ::GetObjectW(reinterpret_cast<HGDIOBJ>(m.wParam), sizeof font, &font);
            Record(m.hwnd, "setfont",
                   std::to_string(m.wParam) + ":" + std::to_string(m.lParam) + ":" + std::to_string(font.lfHeight));
        } else if (TopLevel(m.hwnd) || ProgressBar(m.hwnd)) {
            if (m.message == WM_CREATE) {
                Record(m.hwnd, "create", "-");
            } else if (m.message == WM_SHOWWINDOW) {
                Record(m.hwnd, m.wParam ? "show" : "hide", "-");
            } else if (m.message == WM_DESTROY) {
                Record(m.hwnd, "destroy", "-");
            }
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK ZvWatchReturnHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && !Journal().empty()) {
        const auto& m = *reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (m.message == WM_CTLCOLORSTATIC && TopLevel(m.hwnd)) {
            Record(m.hwnd, "ctlcolorstatic",
                   std::to_string(Number(reinterpret_cast<HWND>(m.lParam))) + ":" +
                       std::to_string(static_cast<unsigned long long>(m.lResult)));
        }
        if (m.message == WM_PAINT && !FreezeClass().empty() && TopLevel(m.hwnd) && !g_frozen) {
            wchar_t className[256] = {};
            ::GetClassNameW(m.hwnd, className, 256);
            if (FreezeClass() == className && !g_frozen.exchange(true)) {
                SuspendOtherThreads();
                Record(m.hwnd, "freeze", "-");
            }
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
