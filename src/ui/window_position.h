#pragma once

namespace zv {

// The left or top edge that centres a window of the given extent on a screen of the given
// extent. Each half is an integer division that drops its remainder, so odd extents land on the
// same pixel as they always have (a 301-pixel window on a 1920-pixel screen starts at 810, not 809).
constexpr int CentredOrigin(int screenExtent, int windowExtent) { return screenExtent / 2 - windowExtent / 2; }

}  // namespace zv
