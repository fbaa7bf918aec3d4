#include "ui/layout/Layout.h"

#include <algorithm>

namespace SkinUI {

namespace {

LayoutSize Estimate(const LayoutChild& c, LayoutSize available) {
  if (c.estimate) return c.estimate(available);
  return {c.fixedWidth, c.fixedHeight};
}


// Clamps to [min, max] where a max below min gives way to min, as a control
// whose minimum exceeds its maximum keeps its minimum.
int ClampSize(int v, int lo, int hi) { return std::max(lo, std::min(v, std::max(lo, hi))); }

// Distributes `remain` over `count` flexible children: all get the integer
// share, the last one whatever remains, so the stack fills its inner size.
int FlexShare(int remain, int count, int index) {
  int share = std::max(0, remain) / count;
  if (index == count - 1) return std::max(0, remain) - share * (count - 1);
  return share;
}

}  // namespace

LayoutRect DeflateRect(const LayoutRect& r, const LayoutRect& inset) {
  LayoutRect out{r.left + inset.left, r.top + inset.top, r.right - inset.right, r.bottom - inset.bottom};
  if (out.right < out.left) out.right = out.left;
  if (out.bottom < out.top) out.bottom = out.top;
  return out;
}

LayoutRect PlaceFloating(const LayoutRect& c, const LayoutChild& child) {
  const int w = c.Width(), h = c.Height();
  const float* p = child.floatPercent;
  LayoutRect r{c.left + child.floatPos.left + static_cast<int>(p[0] * w),
               c.top + child.floatPos.top + static_cast<int>(p[1] * h),
               c.left + child.floatPos.right + static_cast<int>(p[2] * w),
               c.top + child.floatPos.bottom + static_cast<int>(p[3] * h)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

std::vector<LayoutRect> LayoutVertical(const StackParams& params, const std::vector<LayoutChild>& children) {
  const LayoutRect inner = DeflateRect(params.item, params.inset);
  const int innerW = inner.Width(), innerH = inner.Height();
  std::vector<LayoutRect> out(children.size(), LayoutRect{inner.left, inner.top, inner.left, inner.top});
  std::vector<int> heights(children.size(), 0);
  std::vector<bool> flexible(children.size(), false);
  int fixedTotal = 0, flexCount = 0, stacked = 0;
  for (size_t i = 0; i < children.size(); ++i) {
    const LayoutChild& c = children[i];
    if (!c.visible) continue;
    if (c.floating) {
      out[i] = PlaceFloating(params.item, c);
      continue;
    }
    LayoutSize avail{std::min(c.fixedWidth > 0 ? c.fixedWidth : c.maxWidth,
                              innerW - c.padding.left - c.padding.right),
                     std::min(c.fixedHeight > 0 ? c.fixedHeight : c.maxHeight, innerH)};
    LayoutSize sz = Estimate(c, avail);
    if (sz.cy == 0) {
      flexible[i] = true;
      ++flexCount;
    } else {
      heights[i] = ClampSize(sz.cy, c.minHeight, c.maxHeight);
      fixedTotal += heights[i];
    }
    fixedTotal += c.padding.top + c.padding.bottom;
    ++stacked;
  }
  if (stacked > 1) fixedTotal += (stacked - 1) * params.childPadding;

  int flexIndex = 0;
  int y = inner.top;
  for (size_t i = 0; i < children.size(); ++i) {
    const LayoutChild& c = children[i];
    if (!c.visible || c.floating) continue;
    int h = heights[i];
    if (flexible[i]) h = ClampSize(FlexShare(innerH - fixedTotal, flexCount, flexIndex++), c.minHeight, c.maxHeight);
    int w = std::min(c.fixedWidth > 0 ? c.fixedWidth : c.maxWidth, innerW - c.padding.left - c.padding.right);
    w = std::max(w, c.minWidth);
    int x = inner.left + c.padding.left;
    if (params.align == ChildAlign::kCenter) {
      x = inner.left + c.padding.left + (innerW - c.padding.left - c.padding.right - w) / 2;
    } else if (params.align == ChildAlign::kEnd) {
      x = inner.right - c.padding.right - w;
    }
    y += c.padding.top;
    out[i] = {x, y, x + w, y + h};
    y += h + c.padding.bottom + params.childPadding;
  }
  return out;
}

std::vector<LayoutRect> LayoutHorizontal(const StackParams& params, const std::vector<LayoutChild>& children) {
  const LayoutRect inner = DeflateRect(params.item, params.inset);
  const int innerW = inner.Width(), innerH = inner.Height();
  std::vector<LayoutRect> out(children.size(), LayoutRect{inner.left, inner.top, inner.left, inner.top});
  std::vector<int> widths(children.size(), 0);
  std::vector<bool> flexible(children.size(), false);
  int fixedTotal = 0, flexCount = 0, stacked = 0;
  for (size_t i = 0; i < children.size(); ++i) {
    const LayoutChild& c = children[i];
    if (!c.visible) continue;
    if (c.floating) {
      out[i] = PlaceFloating(params.item, c);
      continue;
    }
    int cx = 0;
    if (c.fixedWidth > 0) {
      LayoutSize avail{c.fixedWidth, std::min(c.fixedHeight > 0 ? c.fixedHeight : c.maxHeight,
                                              innerH - c.padding.top - c.padding.bottom)};
      cx = Estimate(c, avail).cx;
    }
    if (cx == 0) {
      flexible[i] = true;
      ++flexCount;
    } else {
      widths[i] = ClampSize(cx, c.minWidth, c.maxWidth);
      fixedTotal += widths[i];
    }
    fixedTotal += c.padding.left + c.padding.right;
    ++stacked;
  }
  if (stacked > 1) fixedTotal += (stacked - 1) * params.childPadding;

  int flexIndex = 0;
  int x = inner.left;
  for (size_t i = 0; i < children.size(); ++i) {
    const LayoutChild& c = children[i];
    if (!c.visible || c.floating) continue;
    int w = widths[i];
    if (flexible[i]) w = ClampSize(FlexShare(innerW - fixedTotal, flexCount, flexIndex++), c.minWidth, c.maxWidth);
    int h = std::min(c.fixedHeight > 0 ? c.fixedHeight : c.maxHeight, innerH - c.padding.top - c.padding.bottom);
    h = std::max(h, c.minHeight);
    int y = inner.top + c.padding.top;
    if (params.align == ChildAlign::kCenter) {
      y = inner.top + c.padding.top + (innerH - c.padding.top - c.padding.bottom - h) / 2;
    } else if (params.align == ChildAlign::kEnd) {
      y = inner.bottom - c.padding.bottom - h;
    }
    x += c.padding.left;
    out[i] = {x, y, x + w, y + h};
    x += w + c.padding.right + params.childPadding;
  }
  return out;
}

}  // namespace SkinUI
