#include "ui/display_scale.h"

#include <gtest/gtest.h>

namespace {

using zv::Rect;
using zv::Size;

TEST(ScaleToDpi, RoundsToTheNearestPixelAsMulDivDoes) {
    struct Case {
        int pixels;
        unsigned dpi;
        int scaled;
    };
    const Case cases[] = {
        {12, 96, 12},
        {12, 120, 15},
        {12, 144, 18},
        {12, 192, 24},
        {270, 120, 338},  // 337.5 rounds up
        {1, 144, 2},
        {3, 120, 4},
        {11, 144, 17},  // 16.5 rounds away from zero
        {-11, 144, -17},
        {0, 192, 0},
        {480, 0, 480},  // unknown: the design
        {1 << 20, 480, 5 << 20},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zv::ScaleToDpi(c.pixels, c.dpi), c.scaled) << c.pixels << " at " << c.dpi;
    }
}

TEST(ScaleToDpi, ScalesARectanglesEdgesSoNeighboursKeepTheirGap) {
    // The two buttons at 125 %: 10 pixels apart at 96 DPI, 12 or 13 at 120, never 11 by rounding
    // each size on its own.
    const Rect accept = zv::ScaleToDpi(Rect{280, 330, 90, 25}, 120);
    const Rect cancel = zv::ScaleToDpi(Rect{380, 330, 90, 25}, 120);
    EXPECT_EQ(accept, (Rect{350, 413, 113, 31}));
    EXPECT_EQ(cancel, (Rect{475, 413, 113, 31}));
    EXPECT_EQ(cancel.x - (accept.x + accept.width), 12);
    EXPECT_EQ(zv::ScaleToDpi(Rect{10, 35, 460, 280}, 96), (Rect{10, 35, 460, 280}));
}

TEST(SplashSize, IsTheBitmapIn96DpiPixels) {
    EXPECT_EQ(zv::SplashSize({480, 270}, 96), (Size{480, 270}));
    EXPECT_EQ(zv::SplashSize({480, 270}, 192), (Size{960, 540}));
    EXPECT_EQ(zv::SplashSize({480, 270}, 144), (Size{720, 405}));
    EXPECT_EQ(zv::SplashSize({301, 201}, 120), (Size{376, 251}));
    EXPECT_EQ(zv::SplashSize({1, 1}, 192), (Size{2, 2}));
}

TEST(ProgressBarHeight, ScalesAndStaysInsideTheSplash) {
    EXPECT_EQ(zv::ProgressBarHeight(96, 270), 12);
    EXPECT_EQ(zv::ProgressBarHeight(192, 540), 24);
    EXPECT_EQ(zv::ProgressBarHeight(144, 405), 18);
    EXPECT_EQ(zv::ProgressBarHeight(192, 2), 2);
}

TEST(LayOutConsent, ScalesTheClientAreaAndTakesTheSystemsFrame) {
    // At 96 DPI the window is 500 by 400 whatever the frame.
    const auto design = zv::LayOutConsent(96, {6, 25}, {6, 25});
    EXPECT_EQ(design.window, (Size{500, 400}));
    EXPECT_EQ(design.client, (Size{494, 375}));
    EXPECT_EQ(design.label, (Rect{10, 10, 460, 20}));
    EXPECT_EQ(design.text, (Rect{10, 35, 460, 280}));
    EXPECT_EQ(design.accept, (Rect{280, 330, 90, 25}));
    EXPECT_EQ(design.cancel, (Rect{380, 330, 90, 25}));

    // At 200 % the client area doubles; the frame is what the system draws at that scale, which
    // need not be twice the design's (Windows scales its borders, some systems only the caption).
    const auto doubled = zv::LayOutConsent(192, {6, 25}, {12, 46});
    EXPECT_EQ(doubled.client, (Size{988, 750}));
    EXPECT_EQ(doubled.window, (Size{1000, 796}));
    EXPECT_EQ(doubled.text, (Rect{20, 70, 920, 560}));
    EXPECT_EQ(doubled.cancel, (Rect{760, 660, 180, 50}));

    // Every control stays inside the client area at every common scale.
    for (const unsigned dpi : {96u, 120u, 144u, 168u, 192u, 240u, 288u}) {
        const auto layout = zv::LayOutConsent(dpi, {6, 25}, {6, 25});
        for (const Rect& r : {layout.label, layout.text, layout.accept, layout.cancel}) {
            EXPECT_LE(r.x + r.width, layout.client.width) << dpi;
            EXPECT_LE(r.y + r.height, layout.client.height) << dpi;
        }
    }
}

}  // namespace
