// The UI thread, the splash window and the agreement consent window.
//
// The UI thread owns every window and pumps their messages until the process ends. The main
// thread meets it in two hand-shakes only: the ready event (the splash exists or is known to be
// absent) and the consent request (a thread message, then an answer byte and an answer event).
// Showing, hiding and closing the splash go through the window itself, which carries each
// request to the owning thread; the UI thread never waits for the main thread. The download bar's
// updates are posted: the main thread never waits for them either.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <iterator>

#include "common/system_library.h"
#include "common/unique_handle.h"
#include "ui/agreement_text.h"
#include "ui/ui.h"
#include "ui/window_position.h"

namespace zv {

namespace {

constexpr wchar_t kClassName[] = L"Zarnovelle";
// Relative to the current directory and nothing else: a bare name would also be searched for
// beside the executable by some implementations of LoadImageW (Wine's among them).
constexpr wchar_t kSplashFile[] = L".\\zarnovelle.bmp";
constexpr wchar_t kConsentTitle[] = L"Zarnovelle Launcher";
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

// Set on the UI thread before the ready event, read by the main thread after it.
DWORD g_uiThreadId = 0;
HANDLE g_uiReadyEvent = nullptr;
// UI thread only.
HBITMAP g_splashBitmap = nullptr;
// Created by the UI thread; the main thread shows, hides and closes it. Cleared by whichever
// side sees it go, so it is atomic.
std::atomic<HWND> g_splashWindow{nullptr};

// The splash's download bar, and whether it is a marquee: UI thread only.
HWND g_progressBar = nullptr;
bool g_progressMarquee = false;

// The consent window and its controls: UI thread only.
HWND g_consentWindow = nullptr;
HWND g_consentLabel = nullptr;
HWND g_consentText = nullptr;
HWND g_acceptButton = nullptr;
HWND g_cancelButton = nullptr;
// The answer is stored before the event is signalled and read by the main thread after its wait.
std::atomic<unsigned char> g_consentAnswer{0};
HANDLE g_consentEvent = nullptr;

LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = UiWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    // Without the class there is simply no splash and no consent window; the answer then comes
    // from AnswerConsent's fallback below.
    ::RegisterClassW(&windowClass);
}

void CreateSplashWindow(HINSTANCE instance) {
    // Looked up in the current directory, not beside the launcher.
    g_splashBitmap = static_cast<HBITMAP>(::LoadImageW(nullptr, kSplashFile, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (g_splashBitmap == nullptr) {
        return;
    }
    BITMAP bitmap{};
    ::GetObjectW(g_splashBitmap, sizeof bitmap, &bitmap);
    const int x = CentredOrigin(::GetSystemMetrics(SM_CXSCREEN), bitmap.bmWidth);
    const int y = CentredOrigin(::GetSystemMetrics(SM_CYSCREEN), bitmap.bmHeight);
    const HWND splash = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, nullptr, WS_POPUP, x, y,
                                          bitmap.bmWidth, bitmap.bmHeight, nullptr, nullptr, instance, nullptr);
    if (splash == nullptr) {
        return;
    }
    g_splashWindow = splash;
    ::ShowWindow(splash, SW_SHOW);
    ::UpdateWindow(splash);
}

void AnswerConsent(unsigned char answer) {
    g_consentAnswer = answer;
    ::SetEvent(g_consentEvent);
    // The main thread may already run on; it never touches the window.
    if (g_consentWindow != nullptr) {
        ::DestroyWindow(g_consentWindow);
    }
}

void CreateConsentWindow() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const int x = CentredOrigin(::GetSystemMetrics(SM_CXSCREEN), kConsentWidth);
    const int y = CentredOrigin(::GetSystemMetrics(SM_CYSCREEN), kConsentHeight);
    g_consentWindow = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, kConsentTitle, WS_CAPTION | WS_SYSMENU, x, y,
                                        kConsentWidth, kConsentHeight, nullptr, nullptr, instance, nullptr);
    if (g_consentWindow == nullptr) {
        // Nobody could ever answer: refuse rather than leave the main thread waiting for good.
        AnswerConsent(0);
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
        {&g_consentLabel, L"STATIC", kInstruction, 0, WS_CHILD | WS_VISIBLE, 10, 10, 460, 20},
        {&g_consentText, L"EDIT", AgreementText.data(), WS_EX_CLIENTEDGE,
         WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 10, 35, 460, 280},
        {&g_acceptButton, L"BUTTON", L"I Accept", 0, WS_CHILD | WS_VISIBLE, 280, 330, 90, 25},
        {&g_cancelButton, L"BUTTON", L"Cancel", 0, WS_CHILD | WS_VISIBLE, 380, 330, 90, 25},
    };
    const auto font = reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT));
    for (const Control& control : controls) {
        *control.handle =
            ::CreateWindowExW(control.exStyle, control.className, control.text, control.style, control.x, control.y,
                              control.width, control.height, g_consentWindow, nullptr, instance, nullptr);
        ::SendMessageW(*control.handle, WM_SETFONT, font, TRUE);
    }
    ::ShowWindow(g_consentWindow, SW_SHOW);
    ::UpdateWindow(g_consentWindow);
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

void ShowProgressBar(HWND splash, bool marquee, int percent) {
    if (g_progressBar != nullptr && g_progressMarquee != marquee) {
        ::DestroyWindow(g_progressBar);
        g_progressBar = nullptr;
    }
    if (g_progressBar == nullptr) {
        if (!CommonControlsReady()) {
            return;
        }
        RECT client{};
        ::GetClientRect(splash, &client);
        const int height = std::min<int>(kProgressHeight, client.bottom);
        const DWORD style = WS_CHILD | WS_VISIBLE | (marquee ? PBS_MARQUEE : 0);
        g_progressBar = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, style, 0, client.bottom - height, client.right,
                                          height, splash, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (g_progressBar == nullptr) {
            return;
        }
        g_progressMarquee = marquee;
        if (marquee) {
            ::SendMessageW(g_progressBar, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
        } else {
            ::SendMessageW(g_progressBar, PBM_SETRANGE32, 0, 100);
        }
    }
    if (!marquee) {
        ::SendMessageW(g_progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }
}

void RemoveProgressBar() {
    if (g_progressBar != nullptr) {
        ::DestroyWindow(g_progressBar);
        g_progressBar = nullptr;
    }
}

void PaintSplash(HWND window) {
    PAINTSTRUCT paint{};
    const HDC target = ::BeginPaint(window, &paint);
    if (target != nullptr && g_splashBitmap != nullptr) {
        // The whole bitmap every time, whatever the update region: the window is its size.
        const HDC source = ::CreateCompatibleDC(target);
        const HGDIOBJ previous = ::SelectObject(source, g_splashBitmap);
        BITMAP bitmap{};
        ::GetObjectW(g_splashBitmap, sizeof bitmap, &bitmap);
        ::BitBlt(target, 0, 0, bitmap.bmWidth, bitmap.bmHeight, source, 0, 0, SRCCOPY);
        ::SelectObject(source, previous);
        ::DeleteDC(source);
    }
    ::EndPaint(window, &paint);
}

LRESULT SplashMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            PaintSplash(window);
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
            ShowProgressBar(window, wParam != 0, static_cast<int>(lParam));
            return 0;
        case WM_REMOVESPLASHPROGRESS:
            RemoveProgressBar();
            return 0;
        case WM_DESTROY:
            // Also when the splash goes another way (Alt+F4 while it is active): the main thread
            // must not go on using a destroyed handle. The bar goes with it, as its child.
            g_splashWindow = nullptr;
            g_progressBar = nullptr;
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT ConsentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            // The notification code is not looked at; a command without a sender (lParam 0) is
            // neither button.
            const auto sender = reinterpret_cast<HWND>(lParam);
            if (sender != nullptr && sender == g_acceptButton) {
                AnswerConsent(1);
                return 0;
            }
            if (sender != nullptr && sender == g_cancelButton) {
                AnswerConsent(0);
                return 0;
            }
            break;
        }
        case WM_CLOSE:
            // The close box, the system menu and Alt+F4 all end here.
            AnswerConsent(0);
            return 0;
        case WM_DESTROY:
            g_consentWindow = nullptr;
            g_consentLabel = nullptr;
            g_consentText = nullptr;
            g_acceptButton = nullptr;
            g_cancelButton = nullptr;
            return 0;
        case WM_CTLCOLORSTATIC:
            // The instruction line on white; the read-only agreement box keeps its own colours.
            if (reinterpret_cast<HWND>(lParam) == g_consentLabel) {
                ::SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
                return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
            }
            break;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// Messages that arrive while a window is being created, before its handle is stored, go to the
// default handling.
LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == g_splashWindow.load()) {
        return SplashMessage(window, message, wParam, lParam);
    }
    if (window != nullptr && window == g_consentWindow) {
        return ConsentMessage(window, message, wParam, lParam);
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI UiThreadMain(LPVOID) {
    g_uiThreadId = ::GetCurrentThreadId();
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterWindowClass(instance);
    CreateSplashWindow(instance);
    ::SetEvent(g_uiReadyEvent);

    MSG message{};
    // GetMessageW gives -1 only for an invalid window filter, which this loop never passes.
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_SHOWCONSENT) {
            // Thread messages have no window to go to; only one consent window at a time.
            if (g_consentWindow == nullptr) {
                CreateConsentWindow();
            }
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }

    // Reached only after a WM_QUIT, which the launcher never posts.
    if (const HWND splash = g_splashWindow.exchange(nullptr)) {
        ::DestroyWindow(splash);
    }
    if (g_consentWindow != nullptr) {
        ::DestroyWindow(g_consentWindow);
    }
    if (g_splashBitmap != nullptr) {
        ::DeleteObject(g_splashBitmap);
        g_splashBitmap = nullptr;
    }
    ::UnregisterClassW(kClassName, instance);
    return 0;
}

}  // namespace

void StartUiThread() {
    UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
        // Nothing to wait on: run without windows rather than guess when the thread is ready.
        return;
    }
    g_uiReadyEvent = ready.get();
    // The thread runs until the process ends; its handle serves only the start-up wait below.
    const UniqueHandle thread(::CreateThread(nullptr, 0, UiThreadMain, nullptr, 0, nullptr));
    if (thread) {
        // Should the thread end before it is ready, the wait ends with it instead of lasting for good.
        const HANDLE waitFor[] = {ready.get(), thread.get()};
        if (::WaitForMultipleObjects(static_cast<DWORD>(std::size(waitFor)), waitFor, FALSE, INFINITE) !=
            WAIT_OBJECT_0) {
            // Its windows went with it: nothing to show and nobody to ask.
            g_uiThreadId = 0;
            g_splashWindow = nullptr;
        }
    }
    g_uiReadyEvent = nullptr;
}

void ShowSplash() {
    if (const HWND splash = g_splashWindow.load()) {
        ::ShowWindow(splash, SW_SHOW);
    }
}

void HideSplash() {
    if (const HWND splash = g_splashWindow.load()) {
        ::ShowWindow(splash, SW_HIDE);
    }
}

void CloseSplash() {
    const HWND splash = g_splashWindow.load();
    if (splash == nullptr) {
        return;
    }
    const DWORD lastError = ::GetLastError();
    // Synchronous: the UI thread has hidden and destroyed the window when this returns, so it is
    // gone before any failure box appears. Its loop always runs and never waits for this thread.
    ::SendMessageW(splash, WM_CLOSESPLASH, 0, 0);
    g_splashWindow = nullptr;
    ::SetLastError(lastError);
}

void ShowSplashProgress(const BarUpdate& update) {
    if (const HWND splash = g_splashWindow.load()) {
        const DWORD lastError = ::GetLastError();
        ::PostMessageW(splash, WM_SPLASHPROGRESS, update.marquee ? 1 : 0, update.percent);
        ::SetLastError(lastError);
    }
}

void RemoveSplashProgress() {
    if (const HWND splash = g_splashWindow.load()) {
        const DWORD lastError = ::GetLastError();
        ::PostMessageW(splash, WM_REMOVESPLASHPROGRESS, 0, 0);
        ::SetLastError(lastError);
    }
}

bool AskForConsent() {
    if (g_uiThreadId == 0) {
        return false;
    }
    const UniqueHandle answered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!answered) {
        return false;
    }
    g_consentEvent = answered.get();
    g_consentAnswer = 0;
    // The UI thread has had a message queue since before it was ready.
    const bool asked = ::PostThreadMessageW(g_uiThreadId, WM_SHOWCONSENT, 0, 0) != FALSE;
    if (asked) {
        ::WaitForSingleObject(answered.get(), INFINITE);
    }
    g_consentEvent = nullptr;
    return asked && g_consentAnswer == 1;
}

}  // namespace zv
