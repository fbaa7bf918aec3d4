#include "ui/layout/ReadingOrder.h"

#include <algorithm>

namespace SkinUI {

namespace {

int Middle(const LayoutRect& r) { return r.top + r.Height() / 2; }
bool Inside(int y, const LayoutRect& r) { return y >= r.top && y < r.bottom; }

}  // namespace

std::vector<size_t> ReadingOrder(const std::vector<LayoutRect>& rects, bool rightToLeft) {
  std::vector<size_t> byTop(rects.size());
  for (size_t i = 0; i < rects.size(); ++i) byTop[i] = i;
  std::stable_sort(byTop.begin(), byTop.end(),
                   [&](size_t a, size_t b) { return rects[a].top < rects[b].top; });
  std::vector<size_t> order;
  order.reserve(rects.size());
  for (size_t start = 0; start < byTop.size();) {
    // The first rectangle of a row sets its band.
    const LayoutRect& band = rects[byTop[start]];
    size_t end = start + 1;
    while (end < byTop.size()) {
      const LayoutRect& r = rects[byTop[end]];
      if (!Inside(Middle(r), band) && !Inside(Middle(band), r)) break;
      ++end;
    }
    std::vector<size_t> row(byTop.begin() + static_cast<std::ptrdiff_t>(start),
                            byTop.begin() + static_cast<std::ptrdiff_t>(end));
    std::stable_sort(row.begin(), row.end(), [&](size_t a, size_t b) {
      return rightToLeft ? rects[a].right > rects[b].right : rects[a].left < rects[b].left;
    });
    order.insert(order.end(), row.begin(), row.end());
    start = end;
  }
  return order;
}

}  // namespace SkinUI
