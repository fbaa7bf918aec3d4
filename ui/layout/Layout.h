// Layout arithmetic of the stacking containers: vertical and horizontal
// stacks with padding, child padding, fixed and flexible sizes, alignment
// across the axis, and floating children placed by position. Portable: the
// controls describe their children with LayoutChild and apply the result.
#pragma once

#include <functional>
#include <vector>

namespace SkinUI {

struct LayoutRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const LayoutRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

struct LayoutSize {
  int cx = 0, cy = 0;
};

// Maximum width and height of a control unless set.
constexpr int kLayoutMaxSize = 9999;

struct LayoutChild {
  bool visible = true;
  bool floating = false;
  LayoutRect padding;            // outer margins: left, top, right, bottom
  int fixedWidth = 0, fixedHeight = 0;
  int minWidth = 0, maxWidth = kLayoutMaxSize;
  int minHeight = 0, maxHeight = kLayoutMaxSize;
  LayoutRect floatPos;           // floating: relative to the container's top-left
  float floatPercent[4] = {0, 0, 0, 0};  // fractions of the container added to each edge
  // Size estimate for an available size; by default the fixed size.
  std::function<LayoutSize(LayoutSize)> estimate;
};

enum class ChildAlign { kBegin, kCenter, kEnd };

struct StackParams {
  LayoutRect item;       // the container's own rectangle
  LayoutRect inset;      // inner margins
  int childPadding = 0;  // gap between neighbouring visible children
  ChildAlign align = ChildAlign::kBegin;  // across the stacking axis
};

LayoutRect DeflateRect(const LayoutRect& r, const LayoutRect& inset);

// Rectangle of a floating child inside a container rectangle.
LayoutRect PlaceFloating(const LayoutRect& container, const LayoutChild& child);

// One rectangle per child, in order. Invisible children get an empty
// rectangle at the inner top-left corner.
std::vector<LayoutRect> LayoutVertical(const StackParams& params, const std::vector<LayoutChild>& children);
std::vector<LayoutRect> LayoutHorizontal(const StackParams& params, const std::vector<LayoutChild>& children);

}  // namespace SkinUI
