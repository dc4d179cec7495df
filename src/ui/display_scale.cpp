#include "ui/display_scale.h"

#include <algorithm>
#include <cstdint>

namespace zv {

namespace {

constexpr Rect kLabel{10, 10, 460, 20};
constexpr Rect kText{10, 35, 460, 280};
constexpr Rect kAccept{280, 330, 90, 25};
constexpr Rect kCancel{380, 330, 90, 25};
constexpr int kProgressHeight = 12;

}  // namespace

int ScaleToDpi(int designPixels, unsigned dpi) {
    if (dpi == 0) {
        return designPixels;
    }
    const std::int64_t product = static_cast<std::int64_t>(designPixels) * dpi;
    const std::int64_t half = kDesignDpi / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kDesignDpi : -((-product + half) / kDesignDpi));
}

Rect ScaleToDpi(const Rect& design, unsigned dpi) {
    const int left = ScaleToDpi(design.x, dpi);
    const int top = ScaleToDpi(design.y, dpi);
    return {left, top, ScaleToDpi(design.x + design.width, dpi) - left,
            ScaleToDpi(design.y + design.height, dpi) - top};
}

Size SplashSize(Size bitmap, unsigned dpi) { return {ScaleToDpi(bitmap.width, dpi), ScaleToDpi(bitmap.height, dpi)}; }

int ProgressBarHeight(unsigned dpi, int splashHeight) {
    return std::max(0, std::min(ScaleToDpi(kProgressHeight, dpi), splashHeight));
}

ConsentLayout LayOutConsent(unsigned dpi, Size frameAtDesign, Size frameAtDpi) {
    ConsentLayout layout;
    layout.client = {ScaleToDpi(kConsentDesignSize.width - frameAtDesign.width, dpi),
                     ScaleToDpi(kConsentDesignSize.height - frameAtDesign.height, dpi)};
    layout.window = {layout.client.width + frameAtDpi.width, layout.client.height + frameAtDpi.height};
    layout.label = ScaleToDpi(kLabel, dpi);
    layout.text = ScaleToDpi(kText, dpi);
    layout.accept = ScaleToDpi(kAccept, dpi);
    layout.cancel = ScaleToDpi(kCancel, dpi);
    return layout;
}

}  // namespace zv
