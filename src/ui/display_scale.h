#pragma once

// Sizes at a display's scale. The windows are designed in pixels at 96 DPI (100 %); on a display
// at another scale every size, margin and position inside a window is that many times larger.

namespace zv {

inline constexpr unsigned kDesignDpi = 96;

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A length of the design at dpi, rounded to the nearest pixel (halves away from zero), as
// Windows' MulDiv rounds. A dpi of 0 (unknown) counts as the design's.
int ScaleToDpi(int designPixels, unsigned dpi);

// A rectangle of the design at dpi. Its edges are scaled, not its size, so that neighbouring
// rectangles keep the scaled gap between them and line up wherever they did.
Rect ScaleToDpi(const Rect& design, unsigned dpi);

// The splash: the bitmap's size taken as 96-DPI pixels, at dpi.
Size SplashSize(Size bitmap, unsigned dpi);

// The download bar's height at dpi (12 pixels at 96 DPI), never more than the splash's height.
int ProgressBarHeight(unsigned dpi, int splashHeight);

// The agreement window as designed: 500 by 400 pixels at 96 DPI, frame included.
inline constexpr Size kConsentDesignSize{500, 400};

// The agreement window at dpi. Its design is a window of 500 by 400 pixels at 96 DPI whose frame
// (caption and borders) is frameAtDesign; what scales is its client area, and the frame is the
// system's at dpi (frameAtDpi). The controls are placed in the client area.
struct ConsentLayout {
    Size window;
    Size client;
    Rect label;
    Rect text;
    Rect accept;
    Rect cancel;
};
ConsentLayout LayOutConsent(unsigned dpi, Size frameAtDesign, Size frameAtDpi);

}  // namespace zv
