// Reading order of sibling controls, from their rectangles: rows top to
// bottom, and inside a row left to right, or right to left for a
// right-to-left language. Portable; keyboard focus and the accessible tree
// order each container's children by it.
#pragma once

#include <cstddef>
#include <vector>

#include "ui/layout/Layout.h"

namespace SkinUI {

// Indices into rects in reading order. A rectangle joins the row of the
// rectangle above it when their vertical middles fall inside each other, so
// a 20-pixel check box beside a 30-pixel text reads as one row. Equal
// positions keep their given order.
std::vector<size_t> ReadingOrder(const std::vector<LayoutRect>& rects, bool rightToLeft);

}  // namespace SkinUI
