#include "ui/window_position.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    int screen;
    int window;
    int origin;
};

// Each extent is halved on its own, so odd extents differ from (screen - window) / 2.
const Case kCases[] = {
    {1920, 301, 810},  // (1920 - 301) / 2 would be 809
    {1080, 201, 440},  // (1080 - 201) / 2 would be 439
    {1024, 480, 272}, {768, 270, 249},   {1025, 500, 262},
    {767, 400, 183},  {800, 1000, -100},  // a window larger than the screen hangs over both edges
    {1920, 0, 960},
};

TEST(CentredOrigin, HalvesScreenAndWindowSeparately) {
    for (const Case& c : kCases) {
        EXPECT_EQ(zv::CentredOrigin(c.screen, c.window), c.origin) << c.screen << " / " << c.window;
    }
}

}  // namespace
