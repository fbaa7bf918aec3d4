// Reading order of a page's controls: rows, then left to right, mirrored
// for right-to-left languages.
#include <doctest/doctest.h>

#include "ui/layout/ReadingOrder.h"

using SkinUI::LayoutRect;
using SkinUI::ReadingOrder;

namespace {

// The first page of the shipped skin: minimise, close, Install, then the
// licence row with its 20 x 30 box, the licence text and "Customize".
const std::vector<LayoutRect> kFirstPage = {
    {20, 338, 40, 368},    // 0 licence box
    {596, 11, 616, 31},    // 1 minimise
    {325, 338, 525, 368},  // 2 customize
    {241, 185, 409, 231},  // 3 Install
    {40, 338, 325, 368},   // 4 licence text
    {626, 11, 646, 31},    // 5 close
};

}  // namespace

TEST_CASE("reading order: rows top to bottom, each row by its reading direction") {
  CHECK(ReadingOrder(kFirstPage, false) == std::vector<size_t>{1, 5, 3, 0, 4, 2});
  CHECK(ReadingOrder(kFirstPage, true) == std::vector<size_t>{5, 1, 3, 2, 4, 0});
}

TEST_CASE("reading order: rows of unequal heights and ties") {
  struct {
    std::vector<LayoutRect> rects;
    bool rtl;
    std::vector<size_t> order;
    const char* what;
  } table[] = {
      {{{100, 8, 114, 22}, {0, 0, 90, 30}}, false, {1, 0}, "a small box beside a tall text is one row"},
      {{{0, 40, 10, 50}, {50, 0, 60, 30}}, false, {1, 0}, "a box below the row's band starts a new row"},
      {{{0, 0, 10, 10}, {0, 0, 10, 10}}, false, {0, 1}, "equal rectangles keep their order"},
      {{{0, 0, 10, 10}, {0, 0, 10, 10}}, true, {0, 1}, "also right to left"},
      {{}, false, {}, "no controls"},
  };
  for (const auto& row : table) {
    CAPTURE(row.what);
    CHECK(ReadingOrder(row.rects, row.rtl) == row.order);
  }
}
