// The UI thread, the splash window and the agreement consent window.
//
// The UI thread owns every window and pumps their messages until its LauncherWindows ends. The
// main thread meets it in two hand-shakes only: the ready event (the splash exists or is known to
// be absent) and the consent request (a thread message, then an answer byte and an answer event).
// Showing, hiding and closing the splash go through the window itself, which carries each request
// to the owning thread; the UI thread never waits for the main thread. The download bar's updates
// are posted: the main thread never waits for them either. Each window reaches the object that
// answers its messages through its own GWLP_USERDATA, never through anything global.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <iterator>

#include "common/launcher_title.h"
#include "common/system_library.h"
#include "common/unique_gdi.h"
#include "common/unique_handle.h"
#include "ui/agreement_text.h"
#include "ui/ui.h"
#include "ui/window_position.h"

namespace zv {

namespace {

constexpr wchar_t kClassName[] = L"Zarnovelle";
// How long the end of a run waits for the UI thread to destroy its windows and end.
constexpr DWORD kUiThreadEndWaitMs = 2000;
// Relative to the current directory and nothing else: a bare name would also be searched for
// beside the executable by some implementations of LoadImageW (Wine's among them).
constexpr wchar_t kSplashFile[] = L".\\zarnovelle.bmp";
constexpr wchar_t kInstruction[] = L"To install Zarnovelle you must accept the terms of the EULA:";

// Thread message from AskForConsent to the UI thread: open the consent window.
constexpr UINT WM_SHOWCONSENT = WM_USER + 1;
// Sent by CloseSplash to the splash: only the thread that owns a window may destroy it.
constexpr UINT WM_CLOSESPLASH = WM_USER + 2;
// Posted to the splash by ShowSplashProgress: wParam 1 for a marquee, lParam the percent.
constexpr UINT WM_SPLASHPROGRESS = WM_USER + 3;
// Posted to the splash by RemoveSplashProgress.
constexpr UINT WM_REMOVESPLASHPROGRESS = WM_USER + 4;

// The download bar along the splash's bottom edge, the full width of the splash.
constexpr int kProgressHeight = 12;
constexpr UINT kMarqueeStepMs = 30;

constexpr int kConsentWidth = 500;
constexpr int kConsentHeight = 400;

// The edit control takes the text as a C string: the view must end where its literal does.
static_assert(AgreementText.data()[AgreementText.size()] == L'\0');

// What answers a window's messages. CreateWindowExW's last argument points to one; the window
// keeps it from WM_NCCREATE on, and the window procedure hands it every message from then.
class WindowMessages {
public:
    virtual LRESULT Message(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

protected:
    WindowMessages() = default;
    WindowMessages(const WindowMessages&) = delete;
    WindowMessages& operator=(const WindowMessages&) = delete;
    ~WindowMessages() = default;
};

// The few messages that come before WM_NCCREATE (WM_GETMINMAXINFO) go to the default handling.
LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (auto* target = reinterpret_cast<WindowMessages*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
        return target->Message(window, message, wParam, lParam);
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = UiWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    // Without the class there is simply no splash and no consent window; the answer then comes
    // from Consent::Open's fallback below.
    ::RegisterClassW(&windowClass);
}

// The common controls, for the progress class, on the UI thread at the first bar. comctl32 is no
// KnownDLL, so it is loaded at run time from the system, never from the launcher's folder: the
// manifest's dependency on Common-Controls 6.0 makes Windows take version 6 from its side-by-side
// store. Never freed: its window class must outlive every bar. False when it cannot be had.
bool CommonControlsReady() {
    static const bool ready = [] {
        const HMODULE library = LoadSystemLibrary(L"comctl32.dll").release();
        decltype(&::InitCommonControlsEx) initialize = nullptr;
        if (library == nullptr || !ResolveExport(library, "InitCommonControlsEx", initialize)) {
            return false;
        }
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        return initialize(&controls) != FALSE;
    }();
    return ready;
}

// The splash and its download bar.
class Splash final : public WindowMessages {
public:
    // UI thread: loads the bitmap and puts the splash on screen; nothing when either fails.
    void Create(HINSTANCE instance) {
        // Looked up in the current directory, not beside the launcher.
        bitmap_.reset(static_cast<HBITMAP>(::LoadImageW(nullptr, kSplashFile, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
        if (!bitmap_) {
            return;
        }
        BITMAP bitmap{};
        ::GetObjectW(bitmap_.get(), sizeof bitmap, &bitmap);
        const int x = CentredOrigin(::GetSystemMetrics(SM_CXSCREEN), bitmap.bmWidth);
        const int y = CentredOrigin(::GetSystemMetrics(SM_CYSCREEN), bitmap.bmHeight);
        const HWND splash = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, nullptr, WS_POPUP, x, y,
                                              bitmap.bmWidth, bitmap.bmHeight, nullptr, nullptr, instance, this);
        if (splash == nullptr) {
            return;
        }
        window_ = splash;
        ::ShowWindow(splash, SW_SHOW);
        ::UpdateWindow(splash);
    }

    // UI thread, as it ends: the window first, then the bitmap it paints.
    void Destroy() {
        if (const HWND splash = window_.exchange(nullptr)) {
            ::DestroyWindow(splash);
        }
        bitmap_.reset();
    }

    // Either thread: null once the splash is gone.
    [[nodiscard]] HWND window() const { return window_.load(); }
    // Main thread: the splash went without its WM_DESTROY being seen here.
    void Forget() { window_ = nullptr; }

    LRESULT Message(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_PAINT:
                Paint(window);
                return 0;
            case WM_SETCURSOR:
                // The class has no cursor of its own.
                if (LOWORD(lParam) == HTCLIENT) {
                    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
                    return TRUE;
                }
                break;
            case WM_CLOSESPLASH:
                ::ShowWindow(window, SW_HIDE);
                ::DestroyWindow(window);
                return 0;
            case WM_SPLASHPROGRESS:
                ShowBar(window, wParam != 0, static_cast<int>(lParam));
                return 0;
            case WM_REMOVESPLASHPROGRESS:
                RemoveBar();
                return 0;
            case WM_DESTROY:
                // Also when the splash goes another way (Alt+F4 while it is active): the main
                // thread must not go on using a destroyed handle. The bar goes with it, as its
                // child.
                window_ = nullptr;
                bar_ = nullptr;
                return 0;
            default:
                break;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

private:
    void Paint(HWND window) const {
        const PaintScope paint(window);
        if (paint.dc() == nullptr || !bitmap_) {
            return;
        }
        // The whole bitmap every time, whatever the update region: the window is its size.
        const UniqueMemoryDc source(::CreateCompatibleDC(paint.dc()));
        if (!source) {
            return;
        }
        const SelectedObject selected(source.get(), bitmap_.get());
        if (!selected.selected()) {
            return;
        }
        BITMAP bitmap{};
        ::GetObjectW(bitmap_.get(), sizeof bitmap, &bitmap);
        ::BitBlt(paint.dc(), 0, 0, bitmap.bmWidth, bitmap.bmHeight, source.get(), 0, 0, SRCCOPY);
    }

    void ShowBar(HWND splash, bool marquee, int percent) {
        if (bar_ != nullptr && marquee_ != marquee) {
            RemoveBar();
        }
        if (bar_ == nullptr) {
            if (!CommonControlsReady()) {
                return;
            }
            RECT client{};
            ::GetClientRect(splash, &client);
            const int height = std::min<int>(kProgressHeight, client.bottom);
            const DWORD style = WS_CHILD | WS_VISIBLE | (marquee ? PBS_MARQUEE : 0);
            bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, style, 0, client.bottom - height, client.right,
                                     height, splash, nullptr, ::GetModuleHandleW(nullptr), nullptr);
            if (bar_ == nullptr) {
                return;
            }
            marquee_ = marquee;
            if (marquee) {
                ::SendMessageW(bar_, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
            } else {
                ::SendMessageW(bar_, PBM_SETRANGE32, 0, 100);
            }
        }
        if (!marquee) {
            ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
        }
    }

    void RemoveBar() {
        if (bar_ != nullptr) {
            ::DestroyWindow(bar_);
            bar_ = nullptr;
        }
    }

    // UI thread only.
    UniqueBitmap bitmap_;
    // Created by the UI thread; the main thread shows, hides and closes it. Cleared by whichever
    // side sees it go, so it is atomic.
    std::atomic<HWND> window_{nullptr};
    // The download bar, and whether it is a marquee: UI thread only.
    HWND bar_ = nullptr;
    bool marquee_ = false;
};

// The agreement window and the answer it gives.
class Consent final : public WindowMessages {
public:
    // Main thread: before asking, the event to signal once the answer is stored; null once the
    // answer has been read, when nobody waits any more.
    void ExpectAnswer(HANDLE answered) {
        answer_ = 0;
        answered_ = answered;
    }
    // Main thread, after the answer event.
    [[nodiscard]] bool Accepted() const { return answer_ == 1; }

    // UI thread: opens the window unless it is open already.
    void Open(HINSTANCE instance) {
        if (window_ != nullptr) {
            return;
        }
        const int x = CentredOrigin(::GetSystemMetrics(SM_CXSCREEN), kConsentWidth);
        const int y = CentredOrigin(::GetSystemMetrics(SM_CYSCREEN), kConsentHeight);
        window_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, kLauncherTitle.data(), WS_CAPTION | WS_SYSMENU, x,
                                    y, kConsentWidth, kConsentHeight, nullptr, nullptr, instance, this);
        if (window_ == nullptr) {
            // Nobody could ever answer: refuse rather than leave the main thread waiting for good.
            Answer(0);
            return;
        }

        struct Control {
            HWND* handle;
            const wchar_t* className;
            const wchar_t* text;
            DWORD exStyle;
            DWORD style;
            int x, y, width, height;
        };
        // Every control has the id 0: the buttons are told apart by their handles.
        const Control controls[] = {
            {&label_, L"STATIC", kInstruction, 0, WS_CHILD | WS_VISIBLE, 10, 10, 460, 20},
            {&text_, L"EDIT", AgreementText.data(), WS_EX_CLIENTEDGE,
             WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 10, 35, 460, 280},
            {&accept_, L"BUTTON", L"I Accept", 0, WS_CHILD | WS_VISIBLE, 280, 330, 90, 25},
            {&cancel_, L"BUTTON", L"Cancel", 0, WS_CHILD | WS_VISIBLE, 380, 330, 90, 25},
        };
        const auto font = reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT));
        for (const Control& control : controls) {
            *control.handle =
                ::CreateWindowExW(control.exStyle, control.className, control.text, control.style, control.x, control.y,
                                  control.width, control.height, window_, nullptr, instance, nullptr);
            ::SendMessageW(*control.handle, WM_SETFONT, font, TRUE);
        }
        ::ShowWindow(window_, SW_SHOW);
        ::UpdateWindow(window_);
    }

    // UI thread, as it ends.
    void Destroy() {
        if (window_ != nullptr) {
            ::DestroyWindow(window_);
        }
    }

    LRESULT Message(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_COMMAND: {
                // The notification code is not looked at; a command without a sender (lParam 0)
                // is neither button.
                const auto sender = reinterpret_cast<HWND>(lParam);
                if (sender != nullptr && sender == accept_) {
                    Answer(1);
                    return 0;
                }
                if (sender != nullptr && sender == cancel_) {
                    Answer(0);
                    return 0;
                }
                break;
            }
            case WM_CLOSE:
                // The close box, the system menu and Alt+F4 all end here.
                Answer(0);
                return 0;
            case WM_DESTROY:
                window_ = nullptr;
                label_ = nullptr;
                text_ = nullptr;
                accept_ = nullptr;
                cancel_ = nullptr;
                return 0;
            case WM_CTLCOLORSTATIC:
                // The instruction line on white; the read-only agreement box keeps its own colours.
                if (reinterpret_cast<HWND>(lParam) == label_) {
                    ::SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
                    return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
                }
                break;
            default:
                break;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

private:
    void Answer(unsigned char answer) {
        answer_ = answer;
        ::SetEvent(answered_);
        // The main thread may already run on; it never touches the window.
        if (window_ != nullptr) {
            ::DestroyWindow(window_);
        }
    }

    // The window and its controls: UI thread only.
    HWND window_ = nullptr;
    HWND label_ = nullptr;
    HWND text_ = nullptr;
    HWND accept_ = nullptr;
    HWND cancel_ = nullptr;
    // The answer is stored before the event is signalled and read by the main thread after its
    // wait; the event is set by the main thread before it asks.
    std::atomic<unsigned char> answer_{0};
    HANDLE answered_ = nullptr;
};

}  // namespace

class LauncherWindows::State {
public:
    // The UI thread's entry; its argument is the State.
    static DWORD WINAPI ThreadMain(LPVOID state) { return static_cast<State*>(state)->Run(); }

    // Kept for the destructor's wait.
    UniqueHandle thread;
    DWORD threadId = 0;
    // Whether the thread became ready: only then is there anybody to ask.
    bool running = false;
    // Signalled by the UI thread once the splash is on screen or known to be absent.
    HANDLE ready = nullptr;
    Splash splash;
    Consent consent;

private:
    DWORD Run() {
        // Gives the thread its message queue before anyone is told it is ready, so that the thread
        // messages of AskForConsent and of the destructor always find it.
        MSG message{};
        ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        RegisterWindowClass(instance);
        splash.Create(instance);
        ::SetEvent(ready);

        // GetMessageW gives -1 only for an invalid window filter, which this loop never passes,
        // and 0 for the WM_QUIT of the destructor.
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.hwnd == nullptr && message.message == WM_SHOWCONSENT) {
                // Thread messages have no window to go to; only one consent window at a time.
                consent.Open(instance);
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }

        // Only the thread that owns a window may destroy it.
        splash.Destroy();
        consent.Destroy();
        ::UnregisterClassW(kClassName, instance);
        return 0;
    }
};

LauncherWindows::LauncherWindows() : state_(std::make_unique<State>()) {}

LauncherWindows::~LauncherWindows() {
    const HANDLE thread = state_->thread.get();
    if (thread == nullptr) {
        return;
    }
    // A full queue refuses the message only for a moment, since the thread keeps emptying it; a
    // thread that ended before it was ready has nothing left to destroy.
    const ULONGLONG deadline = ::GetTickCount64() + kUiThreadEndWaitMs;
    while (::PostThreadMessageW(state_->threadId, WM_QUIT, 0, 0) == FALSE &&
           ::WaitForSingleObject(thread, 10) == WAIT_TIMEOUT && ::GetTickCount64() < deadline) {
    }
    const ULONGLONG now = ::GetTickCount64();
    if (::WaitForSingleObject(thread, now < deadline ? static_cast<DWORD>(deadline - now) : 0) == WAIT_TIMEOUT) {
        // The thread ends within milliseconds unless the platform stalls it. Then the launcher
        // must still end: the thread and its windows are left to the end of the process, and so
        // is the state it may still be using, which is never freed under it.
        static_cast<void>(state_.release());
    }
}

void LauncherWindows::StartUiThread() {
    UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
        // Nothing to wait on: run without windows rather than guess when the thread is ready.
        return;
    }
    state_->ready = ready.get();
    state_->thread.reset(::CreateThread(nullptr, 0, State::ThreadMain, state_.get(), 0, &state_->threadId));
    if (state_->thread) {
        // Should the thread end before it is ready, the wait ends with it instead of lasting for good.
        const HANDLE waitFor[] = {ready.get(), state_->thread.get()};
        if (::WaitForMultipleObjects(static_cast<DWORD>(std::size(waitFor)), waitFor, FALSE, INFINITE) ==
            WAIT_OBJECT_0) {
            state_->running = true;
        } else {
            // Its windows went with it: nothing to show and nobody to ask.
            state_->splash.Forget();
        }
    }
    state_->ready = nullptr;
}

void LauncherWindows::ShowSplash() {
    if (const HWND splash = state_->splash.window()) {
        ::ShowWindow(splash, SW_SHOW);
    }
}

void LauncherWindows::HideSplash() {
    if (const HWND splash = state_->splash.window()) {
        ::ShowWindow(splash, SW_HIDE);
    }
}

void LauncherWindows::CloseSplash() {
    const HWND splash = state_->splash.window();
    if (splash == nullptr) {
        return;
    }
    const DWORD lastError = ::GetLastError();
    // Synchronous: the UI thread has hidden and destroyed the window when this returns, so it is
    // gone before any failure box appears. Its loop always runs and never waits for this thread.
    ::SendMessageW(splash, WM_CLOSESPLASH, 0, 0);
    state_->splash.Forget();
    ::SetLastError(lastError);
}

void LauncherWindows::ShowSplashProgress(const BarUpdate& update) {
    if (const HWND splash = state_->splash.window()) {
        const DWORD lastError = ::GetLastError();
        ::PostMessageW(splash, WM_SPLASHPROGRESS, update.marquee ? 1 : 0, update.percent);
        ::SetLastError(lastError);
    }
}

void LauncherWindows::RemoveSplashProgress() {
    if (const HWND splash = state_->splash.window()) {
        const DWORD lastError = ::GetLastError();
        ::PostMessageW(splash, WM_REMOVESPLASHPROGRESS, 0, 0);
        ::SetLastError(lastError);
    }
}

bool LauncherWindows::AskForConsent() {
    if (!state_->running) {
        return false;
    }
    const UniqueHandle answered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!answered) {
        return false;
    }
    state_->consent.ExpectAnswer(answered.get());
    const bool asked = ::PostThreadMessageW(state_->threadId, WM_SHOWCONSENT, 0, 0) != FALSE;
    if (asked) {
        ::WaitForSingleObject(answered.get(), INFINITE);
    }
    const bool accepted = asked && state_->consent.Accepted();
    state_->consent.ExpectAnswer(nullptr);
    return accepted;
}

}  // namespace zv
