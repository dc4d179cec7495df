// The UI thread, the splash window and the agreement consent window.
//
// The UI thread owns every window and pumps their messages until its LauncherWindows ends. The
// main thread meets it in two hand-shakes only: the ready event (the splash exists or is known to
// be absent) and the consent request (a thread message, then an answer byte and an answer event).
// Showing, hiding and closing the splash go through the window itself, which carries each request
// to the owning thread; the UI thread never waits for the main thread. The download bar's updates
// are posted: the main thread never waits for them either. Each window reaches the object that
// answers its messages through its own GWLP_USERDATA, never through anything global.
//
// The launcher is per-monitor DPI aware (its manifest): each window takes the DPI of the display
// it is on, lays itself out for it (ui/display_scale.h) and again on WM_DPICHANGED. The functions
// for that came with Windows 10 1607; they are looked up at run time, and before them the
// system's DPI stands in.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <optional>
#include <utility>

#include "common/system_library.h"
#include "common/unique_gdi.h"
#include "common/unique_handle.h"
#include "ui/display_scale.h"
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

// Thread message from AskForConsent to the UI thread: open the consent window.
constexpr UINT WM_SHOWCONSENT = WM_USER + 1;
// Sent by CloseSplash to the splash: only the thread that owns a window may destroy it.
constexpr UINT WM_CLOSESPLASH = WM_USER + 2;
// Posted to the splash by ShowSplashProgress: wParam 1 for a marquee, lParam the percent.
constexpr UINT WM_SPLASHPROGRESS = WM_USER + 3;
// Posted to the splash by RemoveSplashProgress.
constexpr UINT WM_REMOVESPLASHPROGRESS = WM_USER + 4;

constexpr UINT kMarqueeStepMs = 30;

constexpr DWORD kConsentStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kConsentExStyle = WS_EX_DLGMODALFRAME;
// "I Accept" is not IDOK on purpose: with no default button, the dialog keyboard handling sends
// IDOK for Enter pressed anywhere, and Enter must accept only on the button itself. "Cancel" is
// IDCANCEL, which Esc sends.
constexpr int kAcceptId = 100;
constexpr int kCancelId = IDCANCEL;

// The per-monitor DPI functions of user32 (Windows 10 1607 and later), or null where missing.
struct DpiFunctions {
    decltype(&::GetDpiForWindow) getDpiForWindow = nullptr;
    decltype(&::SystemParametersInfoForDpi) systemParametersInfoForDpi = nullptr;
    decltype(&::AdjustWindowRectExForDpi) adjustWindowRectExForDpi = nullptr;
};

const DpiFunctions& Dpi() {
    static const DpiFunctions functions = [] {
        DpiFunctions found;
        // Imported, so loaded: a look-up, not a load.
        if (const HMODULE user32 = ::GetModuleHandleW(L"user32.dll")) {
            ResolveExport(user32, "GetDpiForWindow", found.getDpiForWindow);
            ResolveExport(user32, "SystemParametersInfoForDpi", found.systemParametersInfoForDpi);
            ResolveExport(user32, "AdjustWindowRectExForDpi", found.adjustWindowRectExForDpi);
        }
        return found;
    }();
    return functions;
}

// The system DPI, which is also every window's before Windows 10 1607.
unsigned SystemDpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) {
        ::ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<unsigned>(dpi) : kDesignDpi;
}

// The DPI of the display the window is on.
unsigned WindowDpi(HWND window) {
    if (Dpi().getDpiForWindow != nullptr) {
        if (const UINT dpi = Dpi().getDpiForWindow(window); dpi != 0) {
            return dpi;
        }
    }
    return SystemDpi();
}

// What the caption and borders of a window of this style add to its client area at dpi.
Size FrameSize(DWORD style, DWORD exStyle, unsigned dpi) {
    RECT frame{};
    if (Dpi().adjustWindowRectExForDpi != nullptr) {
        Dpi().adjustWindowRectExForDpi(&frame, style, FALSE, exStyle, dpi);
    } else {
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
}

// The system's message font at dpi; null when none can be made (the caller then keeps the stock
// GUI font).
UniqueFont MessageFont(unsigned dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (Dpi().systemParametersInfoForDpi != nullptr &&
        Dpi().systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) != FALSE) {
        return UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
    }
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) == FALSE) {
        return UniqueFont();
    }
    // At the system's DPI: scaled to the window's.
    metrics.lfMessageFont.lfHeight =
        ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    return UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
}

bool HighContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) != FALSE &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

// Moves and sizes a window to rect (in its parent's client area, or on the screen).
void Place(HWND window, const Rect& rect) {
    ::SetWindowPos(window, nullptr, rect.x, rect.y, rect.width, rect.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The rectangle of a window of the given size centred on the primary screen.
Rect Centred(Size size) {
    return {CentredOrigin(::GetSystemMetrics(SM_CXSCREEN), size.width),
            CentredOrigin(::GetSystemMetrics(SM_CYSCREEN), size.height), size.width, size.height};
}

Rect FromRect(const RECT& rect) { return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}; }

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
        bitmapSize_ = {bitmap.bmWidth, bitmap.bmHeight};
        // Made at the design's size in the middle of the primary screen, so that it is on that
        // screen; then sized for that screen's DPI before it is shown.
        const Rect design = Centred(bitmapSize_);
        const HWND splash = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, nullptr, WS_POPUP, design.x,
                                              design.y, design.width, design.height, nullptr, nullptr, instance, this);
        if (splash == nullptr) {
            return;
        }
        dpi_ = WindowDpi(splash);
        if (const Size size = SplashSize(bitmapSize_, dpi_); size != bitmapSize_) {
            Place(splash, Centred(size));
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
            case WM_DPICHANGED:
                // Moved to a display of another scale: the rectangle Windows suggests is the
                // splash at the new scale.
                dpi_ = LOWORD(wParam);
                Place(window, FromRect(*reinterpret_cast<const RECT*>(lParam)));
                PlaceBar(window);
                ::InvalidateRect(window, nullptr, FALSE);
                return 0;
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
        // The whole bitmap every time, whatever the update region: the window is its size at
        // the display's scale.
        const UniqueMemoryDc source(::CreateCompatibleDC(paint.dc()));
        if (!source) {
            return;
        }
        const SelectedObject selected(source.get(), bitmap_.get());
        if (!selected.selected()) {
            return;
        }
        RECT client{};
        ::GetClientRect(window, &client);
        if (client.right == bitmapSize_.width && client.bottom == bitmapSize_.height) {
            ::BitBlt(paint.dc(), 0, 0, bitmapSize_.width, bitmapSize_.height, source.get(), 0, 0, SRCCOPY);
            return;
        }
        // Scaled with the smoothing filter, which averages the source pixels each target pixel
        // covers instead of repeating or dropping them.
        ::SetStretchBltMode(paint.dc(), HALFTONE);
        ::SetBrushOrgEx(paint.dc(), 0, 0, nullptr);
        ::StretchBlt(paint.dc(), 0, 0, client.right, client.bottom, source.get(), 0, 0, bitmapSize_.width,
                     bitmapSize_.height, SRCCOPY);
    }

    // The bar's place: along the bottom edge, the splash's full width, its height scaled.
    [[nodiscard]] Rect BarRect(HWND splash) const {
        RECT client{};
        ::GetClientRect(splash, &client);
        const int height = ProgressBarHeight(dpi_, client.bottom);
        return {0, client.bottom - height, client.right, height};
    }

    void PlaceBar(HWND splash) const {
        if (bar_ != nullptr) {
            Place(bar_, BarRect(splash));
        }
    }

    void ShowBar(HWND splash, bool marquee, int percent) {
        if (bar_ != nullptr && marquee_ != marquee) {
            RemoveBar();
        }
        if (bar_ == nullptr) {
            if (!CommonControlsReady()) {
                return;
            }
            const Rect place = BarRect(splash);
            const DWORD style = WS_CHILD | WS_VISIBLE | (marquee ? PBS_MARQUEE : 0);
            bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, style, place.x, place.y, place.width, place.height,
                                     splash, nullptr, ::GetModuleHandleW(nullptr), nullptr);
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
    Size bitmapSize_;
    unsigned dpi_ = kDesignDpi;
    // Created by the UI thread; the main thread shows, hides and closes it. Cleared by whichever
    // side sees it go, so it is atomic.
    std::atomic<HWND> window_{nullptr};
    // The download bar, and whether it is a marquee: UI thread only.
    HWND bar_ = nullptr;
    bool marquee_ = false;
};

// The agreement window and the answer it gives.
//
// It is no dialog of the dialog manager's (its class is the launcher's own), but it works by
// keyboard as one: the UI thread's loop hands its messages to IsDialogMessageW, which moves the
// focus with Tab and Shift+Tab (the agreement's multi-line edit control asks its parent for that
// with WM_NEXTDLGCTL, which the window answers here as a dialog would), presses the focused button
// on Enter, a button on its access key, and sends IDCANCEL on Esc. There is no default button
// until the player moves to one: the focused button is then drawn as the default, and only the
// focused button answers Enter.
class Consent final : public WindowMessages {
public:
    explicit Consent(const PlayerTexts& texts) : texts_(texts) {}

    // Main thread: before asking, the event to signal once the answer is stored; null once the
    // answer has been read, when nobody waits any more.
    void ExpectAnswer(HANDLE answered) {
        answer_ = 0;
        answered_ = answered;
    }
    // Main thread, after the answer event.
    [[nodiscard]] bool Accepted() const { return answer_ == 1; }

    // UI thread: the window while it is open, for the loop's keyboard handling.
    [[nodiscard]] HWND window() const { return window_; }

    // UI thread: opens the window unless it is open already.
    void Open(HINSTANCE instance) {
        if (window_ != nullptr) {
            return;
        }
        if (texts_.Get(PlayerText::Agreement).empty()) {
            // Nothing to accept: refuse rather than ask for consent to an agreement not shown.
            Answer(0);
            return;
        }
        // Made at the design's size in the middle of the primary screen, then laid out for the
        // DPI of the display it is on before it is shown.
        const Rect design = Centred(kConsentDesignSize);
        window_ =
            ::CreateWindowExW(kConsentExStyle, kClassName, texts_.Get(PlayerText::LauncherTitle).c_str(), kConsentStyle,
                              design.x, design.y, design.width, design.height, nullptr, nullptr, instance, this);
        if (window_ == nullptr) {
            // Nobody could ever answer: refuse rather than leave the main thread waiting for good.
            Answer(0);
            return;
        }

        struct Control {
            HWND* handle;
            const wchar_t* className;
            PlayerText text;
            DWORD exStyle;
            DWORD style;
            int id;
        };
        // In the order of creation, which is the tab order. The instruction line comes right
        // before the agreement, so it is also the agreement's name for screen readers (an edit
        // control is named by the static text before it); each button is named by its text.
        const Control controls[] = {
            {&label_, L"STATIC", PlayerText::ConsentInstruction, 0, WS_CHILD | WS_VISIBLE, 0},
            {&text_, L"EDIT", PlayerText::Agreement, WS_EX_CLIENTEDGE,
             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0},
            {&accept_, L"BUTTON", PlayerText::AcceptButton, 0, WS_CHILD | WS_VISIBLE | WS_TABSTOP, kAcceptId},
            {&cancel_, L"BUTTON", PlayerText::CancelButton, 0, WS_CHILD | WS_VISIBLE | WS_TABSTOP, kCancelId},
        };
        for (const Control& control : controls) {
            *control.handle = ::CreateWindowExW(
                control.exStyle, control.className, texts_.Get(control.text).c_str(), control.style, 0, 0, 0, 0,
                window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
        }
        LayOut(WindowDpi(window_), std::nullopt);
        ::ShowWindow(window_, SW_SHOW);
        ::UpdateWindow(window_);
        // The player starts in the agreement, at its top; no button is the default yet.
        MoveFocus(text_, false);
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
                const auto sender = reinterpret_cast<HWND>(lParam);
                // "I Accept" only from the button itself: clicked, Space or Enter while it has the
                // focus, or its access key.
                if (sender != nullptr && sender == accept_ && HIWORD(wParam) == BN_CLICKED) {
                    Answer(1);
                    return 0;
                }
                // "Cancel" from its button, and Esc, which the dialog keyboard handling sends as
                // IDCANCEL whatever has the focus.
                if (LOWORD(wParam) == kCancelId) {
                    Answer(0);
                    return 0;
                }
                break;
            }
            case WM_CLOSE:
                // The close box, the system menu and Alt+F4 all end here; so does Esc in the
                // agreement, which the multi-line edit control turns into WM_CLOSE of its parent.
                Answer(0);
                return 0;
            case WM_NEXTDLGCTL: {
                // As a dialog answers it: lParam's low word set means wParam is the control,
                // otherwise wParam says next (0) or previous.
                HWND focus = ::GetFocus();
                if (focus != nullptr && ::IsChild(window, focus) == FALSE) {
                    focus = nullptr;
                }
                const HWND next = LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam)
                                                      : ::GetNextDlgTabItem(window, focus, wParam != 0);
                if (next != nullptr) {
                    MoveFocus(next, true);
                }
                return 0;
            }
            case WM_ACTIVATE:
                // The focus leaves with the window and comes back where it was, as in a dialog.
                if (LOWORD(wParam) == WA_INACTIVE) {
                    if (const HWND focus = ::GetFocus(); focus != nullptr && ::IsChild(window, focus) != FALSE) {
                        focus_ = focus;
                    }
                } else {
                    MoveFocus(focus_ != nullptr ? focus_ : text_, false);
                }
                return 0;
            case WM_DPICHANGED:
                LayOut(LOWORD(wParam), FromRect(*reinterpret_cast<const RECT*>(lParam)));
                return 0;
            case WM_DESTROY:
                window_ = nullptr;
                label_ = nullptr;
                text_ = nullptr;
                accept_ = nullptr;
                cancel_ = nullptr;
                focus_ = nullptr;
                return 0;
            case WM_NCDESTROY:
                // The controls are gone: nothing uses the font any more.
                font_.reset();
                break;
            case WM_CTLCOLORSTATIC:
                // The instruction line on white, unless a high-contrast theme is on: then every
                // colour is the system's. The read-only agreement box keeps its own colours.
                if (reinterpret_cast<HWND>(lParam) == label_ && label_ != nullptr && !HighContrastOn()) {
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
    // Sizes the window and places the controls for dpi, with the system's message font for it:
    // centred on the primary screen at first, in the rectangle Windows suggests after a change
    // of display.
    void LayOut(unsigned dpi, const std::optional<Rect>& suggested) {
        const ConsentLayout layout = LayOutConsent(dpi, FrameSize(kConsentStyle, kConsentExStyle, kDesignDpi),
                                                   FrameSize(kConsentStyle, kConsentExStyle, dpi));
        Place(window_, suggested ? *suggested : Centred(layout.window));
        UniqueFont font = MessageFont(dpi);
        const auto fontToSet =
            reinterpret_cast<WPARAM>(font ? static_cast<HGDIOBJ>(font.get()) : ::GetStockObject(DEFAULT_GUI_FONT));
        const std::pair<HWND, Rect> places[] = {
            {label_, layout.label}, {text_, layout.text}, {accept_, layout.accept}, {cancel_, layout.cancel}};
        for (const auto& [control, rect] : places) {
            Place(control, rect);
            ::SendMessageW(control, WM_SETFONT, fontToSet, TRUE);
        }
        // The controls have the new font: the old one may go.
        font_ = std::move(font);
    }

    // Gives the focus to a control; a button that gets it is drawn as the default, and the
    // other one not (so Enter is seen to press the focused button only). select: the whole
    // agreement is selected when the focus moves into it by Tab, as dialogs do with edit boxes.
    void MoveFocus(HWND control, bool select) {
        if (control == nullptr) {
            return;
        }
        ::SetFocus(control);
        if (select && control == text_) {
            ::SendMessageW(text_, EM_SETSEL, 0, -1);
        }
        for (const HWND button : {accept_, cancel_}) {
            ::SendMessageW(button, BM_SETSTYLE, button == control ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
        }
    }

    void Answer(unsigned char answer) {
        answer_ = answer;
        ::SetEvent(answered_);
        // The main thread may already run on; it never touches the window.
        if (window_ != nullptr) {
            ::DestroyWindow(window_);
        }
    }

    const PlayerTexts& texts_;
    // The window and its controls: UI thread only.
    HWND window_ = nullptr;
    HWND label_ = nullptr;
    HWND text_ = nullptr;
    HWND accept_ = nullptr;
    HWND cancel_ = nullptr;
    // Where the focus was when the window was last deactivated.
    HWND focus_ = nullptr;
    // The controls' font for the window's DPI.
    UniqueFont font_;
    // The answer is stored before the event is signalled and read by the main thread after its
    // wait; the event is set by the main thread before it asks.
    std::atomic<unsigned char> answer_{0};
    HANDLE answered_ = nullptr;
};

}  // namespace

class LauncherWindows::State {
public:
    explicit State(PlayerTexts playerTexts) : texts(std::move(playerTexts)), consent(texts) {}

    // The UI thread's entry; its argument is the State.
    static DWORD WINAPI ThreadMain(LPVOID state) { return static_cast<State*>(state)->Run(); }

    // Kept for the destructor's wait.
    UniqueHandle thread;
    DWORD threadId = 0;
    // Whether the thread became ready: only then is there anybody to ask.
    bool running = false;
    // Signalled by the UI thread once the splash is on screen or known to be absent.
    HANDLE ready = nullptr;
    // The player's texts, for the windows; before the consent window, which refers to them.
    const PlayerTexts texts;
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
            // The consent window's keyboard handling (it translates and dispatches what it takes).
            if (const HWND window = consent.window(); window != nullptr && ::IsDialogMessageW(window, &message)) {
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

LauncherWindows::LauncherWindows(PlayerTexts texts) : state_(std::make_unique<State>(std::move(texts))) {}

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
