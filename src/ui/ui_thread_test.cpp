// The UI thread in this test process: a small bitmap as "zarnovelle.bmp" in a fresh current
// directory, then the splash through its life, its steps in order in one test as in a run; then
// the thread's end with its object.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "build_tree.h"
#include "common/unique_handle.h"
#include "file_bytes.h"
#include "scratch_directory.h"
#include "ui/display_scale.h"
#include "ui/ui.h"
#include "ui/window_position.h"

namespace {

constexpr int kWidth = 37;  // odd, so that rows are padded
constexpr int kHeight = 23;

COLORREF PixelColour(int x, int y) { return RGB((x * 7) & 0xFF, (y * 11) & 0xFF, ((x + y) * 3) & 0xFF); }

void PutLe(std::vector<char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// A bottom-up 24-bit BMP whose every pixel has its own colour.
void WriteBitmap(const std::filesystem::path& path) {
    const int stride = (kWidth * 3 + 3) & ~3;
    std::vector<char> file;
    PutLe(file, 0x4D42, 2);
    PutLe(file, static_cast<std::uint32_t>(54 + stride * kHeight), 4);
    PutLe(file, 0, 4);
    PutLe(file, 54, 4);
    PutLe(file, 40, 4);
    PutLe(file, kWidth, 4);
    PutLe(file, kHeight, 4);
    PutLe(file, 1, 2);
    PutLe(file, 24, 2);
    PutLe(file, 0, 4);
    PutLe(file, static_cast<std::uint32_t>(stride * kHeight), 4);
    PutLe(file, 2835, 4);
    PutLe(file, 2835, 4);
    PutLe(file, 0, 4);
    PutLe(file, 0, 4);
    for (int row = kHeight - 1; row >= 0; --row) {
        for (int x = 0; x < kWidth; ++x) {
            const COLORREF c = PixelColour(x, row);
            file.push_back(static_cast<char>(GetBValue(c)));
            file.push_back(static_cast<char>(GetGValue(c)));
            file.push_back(static_cast<char>(GetRValue(c)));
        }
        file.resize(file.size() + static_cast<size_t>(stride - kWidth * 3), '\0');
    }
    zv::test::WriteFileBytes(path, std::string_view(file.data(), file.size()));
}

// How many of the splash's pixels differ from the bitmap.
int PixelsOffBitmap(HWND splash) {
    const HDC dc = ::GetDC(splash);
    int off = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            off += ::GetPixel(dc, x, y) != PixelColour(x, y) ? 1 : 0;
        }
    }
    ::ReleaseDC(splash, dc);
    return off;
}

// The splash: the one window of the class in this process.
HWND FindSplash() {
    const HWND window = ::FindWindowW(L"Zarnovelle", nullptr);
    DWORD process = 0;
    if (window != nullptr) {
        ::GetWindowThreadProcessId(window, &process);
    }
    return process == ::GetCurrentProcessId() ? window : nullptr;
}

// Whether condition comes to hold within a few seconds: the bar's messages are posted.
template <typename Condition>
bool Eventually(Condition&& condition) {
    for (int i = 0; i < 100 && !condition(); ++i) {
        ::Sleep(50);
    }
    return condition();
}

// The splash's download bar, or null.
HWND Bar(HWND splash) { return ::FindWindowExW(splash, nullptr, PROGRESS_CLASSW, nullptr); }
LRESULT Position(HWND bar) { return ::SendMessageW(bar, PBM_GETPOS, 0, 0); }
bool IsMarquee(HWND bar) { return (::GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0; }

TEST(UiThread, SplashLifecycle) {
    const zv::test::ScratchDirectory folder;
    WriteBitmap(folder.path() / L"zarnovelle.bmp");
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));

    zv::LauncherWindows windows;
    windows.StartUiThread();

    const HWND splash = FindSplash();
    ASSERT_NE(splash, nullptr) << "no splash after StartUiThread";
    EXPECT_NE(::GetWindowThreadProcessId(splash, nullptr), ::GetCurrentThreadId()) << "owned by the UI thread";
    EXPECT_TRUE(::IsWindowVisible(splash));
    RECT rect{};
    ::GetWindowRect(splash, &rect);
    EXPECT_EQ(rect.left, zv::CentredOrigin(::GetSystemMetrics(SM_CXSCREEN), kWidth));
    EXPECT_EQ(rect.top, zv::CentredOrigin(::GetSystemMetrics(SM_CYSCREEN), kHeight));
    EXPECT_EQ(rect.right - rect.left, kWidth);
    EXPECT_EQ(rect.bottom - rect.top, kHeight);

    // Painted before StartUiThread returned, and painted whole again after something drew over it.
    EXPECT_EQ(PixelsOffBitmap(splash), 0);
    const HDC dc = ::GetDC(splash);
    ::PatBlt(dc, 0, 0, kWidth, kHeight, BLACKNESS);
    ::ReleaseDC(splash, dc);
    ASSERT_GT(PixelsOffBitmap(splash), 0);
    ::InvalidateRect(splash, nullptr, TRUE);
    ::UpdateWindow(splash);
    EXPECT_EQ(PixelsOffBitmap(splash), 0);

    // The download bar: along the bottom edge, the splash's full width, 0 to 100.
    windows.ShowSplashProgress({false, 40});
    ASSERT_TRUE(Eventually([&] { return Bar(splash) != nullptr && Position(Bar(splash)) == 40; })) << "no bar at 40 %";
    HWND bar = Bar(splash);
    EXPECT_TRUE(::IsWindowVisible(bar));
    EXPECT_FALSE(IsMarquee(bar));
    PBRANGE range{};
    ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    RECT barRect{};
    ::GetWindowRect(bar, &barRect);
    RECT splashRect{};
    ::GetWindowRect(splash, &splashRect);
    EXPECT_EQ(barRect.left, splashRect.left);
    EXPECT_EQ(barRect.right, splashRect.right);
    EXPECT_EQ(barRect.bottom, splashRect.bottom);
    EXPECT_EQ(barRect.bottom - barRect.top, 12);
    windows.ShowSplashProgress({false, 75});
    EXPECT_TRUE(Eventually([&] { return Position(bar) == 75; }));
    EXPECT_EQ(Bar(splash), bar);
    // Without a length: a marquee.
    windows.ShowSplashProgress({true, 0});
    ASSERT_TRUE(Eventually([&] { return Bar(splash) != nullptr && IsMarquee(Bar(splash)); })) << "no marquee";
    bar = Bar(splash);
    windows.RemoveSplashProgress();
    EXPECT_TRUE(Eventually([&] { return Bar(splash) == nullptr; })) << "the bar stayed";
    EXPECT_FALSE(::IsWindow(bar));
    EXPECT_EQ(PixelsOffBitmap(splash), 0) << "the splash is whole again where the bar was";
    // The next download's bar goes with the splash.
    windows.ShowSplashProgress({false, 5});
    ASSERT_TRUE(Eventually([&] { return Bar(splash) != nullptr; }));
    bar = Bar(splash);

    windows.HideSplash();
    EXPECT_FALSE(::IsWindowVisible(splash));
    windows.HideSplash();
    EXPECT_FALSE(::IsWindowVisible(splash));
    windows.ShowSplash();
    EXPECT_TRUE(::IsWindowVisible(splash));

    // A failure box follows at once and its text may carry the last error of the failed call.
    ::SetLastError(193);
    windows.CloseSplash();
    EXPECT_EQ(::GetLastError(), 193u);
    EXPECT_FALSE(::IsWindow(splash)) << "the splash must be destroyed when CloseSplash returns";
    EXPECT_FALSE(::IsWindow(bar)) << "its bar with it";
    EXPECT_EQ(FindSplash(), nullptr);

    // Later calls find nothing to do.
    ::SetLastError(193);
    windows.CloseSplash();
    windows.ShowSplash();
    windows.HideSplash();
    windows.ShowSplashProgress({false, 50});
    windows.RemoveSplashProgress();
    EXPECT_EQ(::GetLastError(), 193u);
    EXPECT_EQ(FindSplash(), nullptr);

    // Out of the folder, so that it can be removed.
    ::SetCurrentDirectoryW(folder.path().parent_path().c_str());
}

// The launcher makes one object per run. Its end ends the UI thread and destroys the windows on
// it (a window destroyed from another thread would stay), and nothing of it is left for the next
// object: the class, the window procedure's way to its object, the splash's drawing.
TEST(UiThread, EndsWithItsObjectAndTheNextStartsAfresh) {
    const zv::test::ScratchDirectory folder;
    WriteBitmap(folder.path() / L"zarnovelle.bmp");
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));

    for (int object = 1; object <= 2; ++object) {
        SCOPED_TRACE(object);
        zv::UniqueHandle thread;
        HWND splash = nullptr;
        HWND bar = nullptr;
        {
            zv::LauncherWindows windows;
            windows.StartUiThread();
            splash = FindSplash();
            ASSERT_NE(splash, nullptr);
            EXPECT_EQ(PixelsOffBitmap(splash), 0);
            windows.ShowSplashProgress({false, 30});
            ASSERT_TRUE(Eventually([&] { return Bar(splash) != nullptr; }));
            bar = Bar(splash);
            thread.reset(::OpenThread(SYNCHRONIZE, FALSE, ::GetWindowThreadProcessId(splash, nullptr)));
            ASSERT_TRUE(thread);
        }
        EXPECT_EQ(::WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0) << "the UI thread outlived its object";
        EXPECT_FALSE(::IsWindow(splash));
        EXPECT_FALSE(::IsWindow(bar));
        EXPECT_EQ(FindSplash(), nullptr);
    }

    ::SetCurrentDirectoryW(folder.path().parent_path().c_str());
}

// Windows sends WM_DPICHANGED when a window moves to a display of another scale (or the scale
// changes), with the new DPI and a suggested rectangle; Wine never sends it (one screen, one
// scale), so the test sends it as Windows would. The launcher must take the DPI from the message:
// the system's stays 96 here.
void ChangeDpi(HWND window, unsigned dpi, RECT suggested) {
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

RECT ScreenRect(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return rect;
}

// A control's rectangle in its parent's client area.
zv::Rect ChildRect(HWND child) {
    RECT rect = ScreenRect(child);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

LONG FontHeight(HWND control) {
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfHeight;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

zv::PlayerTexts EnglishTexts() {
    const auto file = zv::test::SourceTreePath("resources/texts/en.txt");
    if (!file) {
        throw std::runtime_error("ZV_SOURCE_DIR is not set: run the tests with ctest");
    }
    return std::get<zv::PlayerTexts>(zv::PlayerTexts::Read(zv::test::ReadFileText(*file)));
}

// Moved to a display at 200 %: the splash is twice the bitmap, drawn with the smoothing filter
// (a pixel between two of the bitmap's is a blend, not a copy of one), and its bar twice as high;
// the agreement window takes the suggested rectangle, lays its controls out at twice the design
// and gives them the system's message font for 192 DPI. Then Shift+Tab, which posted keys cannot
// carry to another process: with the UI thread's input attached to this one, the keyboard state
// set here is the UI thread's too.
TEST(UiThread, FollowsTheDisplaysScaleAndTheKeyboard) {
    const zv::test::ScratchDirectory folder;
    WriteBitmap(folder.path() / L"zarnovelle.bmp");
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));

    zv::LauncherWindows windows(EnglishTexts());
    windows.StartUiThread();
    const HWND splash = FindSplash();
    ASSERT_NE(splash, nullptr);
    RECT rect = ScreenRect(splash);
    ChangeDpi(splash, 192, {rect.left, rect.top, rect.left + 2 * kWidth, rect.top + 2 * kHeight});
    RECT client{};
    ::GetClientRect(splash, &client);
    EXPECT_EQ(client.right, 2 * kWidth);
    EXPECT_EQ(client.bottom, 2 * kHeight);
    ::InvalidateRect(splash, nullptr, TRUE);
    ::UpdateWindow(splash);
    const HDC dc = ::GetDC(splash);
    int blended = 0;
    for (int x = 0; x + 1 < kWidth; ++x) {
        const COLORREF between = ::GetPixel(dc, 2 * x + 1, 2 * (kHeight / 2));
        blended += between != PixelColour(x, kHeight / 2) && between != PixelColour(x + 1, kHeight / 2) ? 1 : 0;
    }
    ::ReleaseDC(splash, dc);
    EXPECT_GT(blended, kWidth / 2) << "the splash is stretched without smoothing";
    windows.ShowSplashProgress({false, 10});
    ASSERT_TRUE(Eventually([&] { return Bar(splash) != nullptr; }));
    EXPECT_EQ(ScreenRect(Bar(splash)).bottom - ScreenRect(Bar(splash)).top, 24);

    std::thread asking([&] { EXPECT_FALSE(windows.AskForConsent()); });
    HWND consent = nullptr;
    ASSERT_TRUE(
        Eventually([&] { return (consent = ::FindWindowW(L"Zarnovelle", L"Zarnovelle Launcher")) != nullptr; }));
    ASSERT_TRUE(Eventually([&] { return ::IsWindowVisible(consent) != FALSE; }));
    const HWND label = ::GetWindow(consent, GW_CHILD);
    const HWND text = ::GetWindow(label, GW_HWNDNEXT);
    const HWND accept = ::GetWindow(text, GW_HWNDNEXT);
    const HWND cancel = ::GetWindow(accept, GW_HWNDNEXT);
    // The window is shown first and then given its focus: wait for both.
    EXPECT_TRUE(Eventually([&] { return FocusOf(consent) == text; })) << "the focus starts in the agreement";
    const HFONT designFont = reinterpret_cast<HFONT>(::SendMessageW(text, WM_GETFONT, 0, 0));

    rect = ScreenRect(consent);
    const RECT suggested{rect.left - 10, rect.top - 20, rect.left - 10 + 1000, rect.top - 20 + 760};
    ChangeDpi(consent, 192, suggested);
    const RECT now = ScreenRect(consent);
    EXPECT_EQ(now.left, suggested.left);
    EXPECT_EQ(now.right - now.left, 1000);
    EXPECT_EQ(now.bottom - now.top, 760);
    EXPECT_EQ(ChildRect(label), (zv::Rect{20, 20, 920, 40}));
    EXPECT_EQ(ChildRect(text), (zv::Rect{20, 70, 920, 560}));
    EXPECT_EQ(ChildRect(accept), (zv::Rect{560, 660, 180, 50}));
    EXPECT_EQ(ChildRect(cancel), (zv::Rect{760, 660, 180, 50}));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, 192));
    for (const HWND control : {label, text, accept, cancel}) {
        EXPECT_EQ(FontHeight(control), metrics.lfMessageFont.lfHeight);
    }
    EXPECT_NE(reinterpret_cast<HFONT>(::SendMessageW(text, WM_GETFONT, 0, 0)), designFont);

    // Shift+Tab from the agreement goes back round to "Cancel", which becomes the default; Esc
    // there cancels.
    const DWORD uiThread = ::GetWindowThreadProcessId(consent, nullptr);
    ASSERT_TRUE(::AttachThreadInput(::GetCurrentThreadId(), uiThread, TRUE));
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    ::PostMessageW(text, WM_KEYDOWN, VK_TAB, 1);
    EXPECT_TRUE(Eventually([&] { return FocusOf(consent) == cancel; }));
    EXPECT_EQ(::GetWindowLongW(cancel, GWL_STYLE) & BS_DEFPUSHBUTTON, BS_DEFPUSHBUTTON);
    EXPECT_EQ(::GetWindowLongW(accept, GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    ::AttachThreadInput(::GetCurrentThreadId(), uiThread, FALSE);
    ::PostMessageW(cancel, WM_KEYDOWN, VK_ESCAPE, 1);
    asking.join();
    // The answer comes before the window is destroyed.
    EXPECT_TRUE(Eventually([&] { return ::IsWindow(consent) == FALSE; }));

    ::SetCurrentDirectoryW(folder.path().parent_path().c_str());
}

}  // namespace
