// Stacking layouts: flexible shares, fixed sizes, padding, child padding,
// alignment across the axis, floating children; the shipped skin's rows.
#include <doctest/doctest.h>

#include <vector>

#include "ui/layout/Layout.h"

using namespace SkinUI;

namespace {

LayoutChild Fixed(int w, int h) {
  LayoutChild c;
  c.fixedWidth = w;
  c.fixedHeight = h;
  return c;
}
LayoutChild Flex() { return LayoutChild{}; }

StackParams Box(int w, int h, int childPadding = 0, LayoutRect inset = {}) {
  StackParams p;
  p.item = {0, 0, w, h};
  p.inset = inset;
  p.childPadding = childPadding;
  return p;
}

std::vector<int> Heights(const std::vector<LayoutRect>& r) {
  std::vector<int> h;
  for (auto& x : r) h.push_back(x.Height());
  return h;
}
std::vector<int> Widths(const std::vector<LayoutRect>& r) {
  std::vector<int> w;
  for (auto& x : r) w.push_back(x.Width());
  return w;
}

}  // namespace

TEST_CASE("vertical: flexible children share the remaining height") {
  struct Case {
    int height, childPadding;
    std::vector<LayoutChild> children;
    std::vector<int> heights;
  } cases[] = {
      {100, 0, {Flex(), Flex(), Flex()}, {33, 33, 34}},
      {100, 0, {Fixed(0, 30), Flex(), Flex()}, {30, 35, 35}},
      {100, 10, {Fixed(0, 30), Flex(), Flex()}, {30, 25, 25}},
      {10, 0, {Fixed(0, 30), Flex()}, {30, 0}},   // no room: not below 0
      {75, 0, {Fixed(0, 1), Flex()}, {1, 74}},      // bottom panel: separator and body
  };
  for (auto& c : cases) {
    CAPTURE(c.height);
    CHECK(Heights(LayoutVertical(Box(200, c.height, c.childPadding), c.children)) == c.heights);
  }
}

TEST_CASE("vertical: min/max clamp, padding and alignment across") {
  LayoutChild a = Flex();
  a.maxHeight = 20;
  LayoutChild b = Fixed(50, 10);
  b.padding = {5, 3, 0, 2};
  auto r = LayoutVertical(Box(200, 100, 0, {10, 10, 10, 10}), {a, b});
  CHECK(r[0] == LayoutRect{10, 10, 190, 30});  // fills the inner width
  CHECK(r[1] == LayoutRect{15, 33, 65, 43});

  StackParams p = Box(200, 100);
  p.align = ChildAlign::kCenter;
  r = LayoutVertical(p, {Fixed(50, 10)});
  CHECK(r[0].left == 75);
  p.align = ChildAlign::kEnd;
  r = LayoutVertical(p, {Fixed(50, 10)});
  CHECK(r[0].right == 200);
}

TEST_CASE("vertical: a size estimate decides fixed or flexible") {
  LayoutChild label = Flex();
  int askedWidth = -1;
  label.estimate = [&](LayoutSize avail) {
    askedWidth = avail.cx;
    return LayoutSize{0, 22};
  };
  LayoutChild hidden = Fixed(10, 10);
  hidden.visible = false;
  auto r = LayoutVertical(Box(300, 100, 5, {20, 0, 20, 0}), {label, hidden, Flex()});
  CHECK(askedWidth == 260);
  CHECK(Heights(r) == std::vector<int>{22, 0, 73});
}

TEST_CASE("horizontal: the shipped skin's rows") {
  // Title bar: 108 logo, flexible spacer, 50 button group, inset 10,5,10,0.
  auto r = LayoutHorizontal(Box(648, 37, 0, {10, 5, 10, 0}), {Fixed(108, 32), Fixed(0, 32), Fixed(50, 32)});
  CHECK(r[0] == LayoutRect{10, 5, 118, 37});
  CHECK(r[1] == LayoutRect{118, 5, 588, 37});
  CHECK(r[2] == LayoutRect{588, 5, 638, 37});

  // Install row: spacer, button, hidden button, spacer: the button is centred.
  LayoutChild hidden = Fixed(168, 46);
  hidden.visible = false;
  r = LayoutHorizontal(Box(648, 46), {Flex(), Fixed(168, 46), hidden, Flex()});
  CHECK(r[1].left == 240);
  CHECK(r[1].right == 408);
  CHECK(r[3].Width() == 240);

  // Path row inside inset 40: label takes what the edit and button leave.
  LayoutChild label = Flex();
  label.fixedHeight = 32;
  r = LayoutHorizontal(Box(648, 32, 15, {40, 0, 40, 0}), {label, Fixed(300, 32), Fixed(90, 32)});
  CHECK(Widths(r) == std::vector<int>{148, 300, 90});
  CHECK(r[2].right == 608);

  // Two progress texts share their row in equal halves.
  CHECK(Widths(LayoutHorizontal(Box(425, 20), {Flex(), Flex()})) == std::vector<int>{212, 213});
}

TEST_CASE("horizontal: estimate of a fixed-width child, vertical alignment") {
  LayoutChild c = Fixed(40, 0);
  c.estimate = [](LayoutSize avail) { return LayoutSize{avail.cx + 5, 0}; };
  c.maxWidth = 42;
  StackParams p = Box(100, 50);
  p.align = ChildAlign::kCenter;
  LayoutChild d = Fixed(10, 20);
  auto r = LayoutHorizontal(p, {c, d});
  CHECK(r[0].Width() == 42);
  CHECK(r[0].Height() == 50);
  CHECK(r[1].top == 15);
  p.align = ChildAlign::kEnd;
  r = LayoutHorizontal(p, {c, d});
  CHECK(r[1].bottom == 50);
}

TEST_CASE("floating children are placed by position and percentages") {
  LayoutChild dots;
  dots.floating = true;
  dots.floatPos = {10, 270, 640, 290};
  StackParams p = Box(648, 358);
  p.item = {1, 1, 649, 359};
  auto r = LayoutVertical(p, {Flex(), dots});
  CHECK(r[0].Height() == 358);  // the floating child takes no share
  CHECK(r[1] == LayoutRect{11, 271, 641, 291});

  dots.floatPercent[0] = 0.5f;
  dots.floatPercent[2] = 0.5f;
  r = LayoutHorizontal(Box(200, 100), {dots});
  CHECK(r[0].left == 110);
}

TEST_CASE("degenerate sizes never produce negative rectangles") {
  auto r = LayoutHorizontal(Box(10, 10, 50, {20, 20, 20, 20}), {Flex(), Fixed(30, 30), Flex()});
  for (auto& x : r) {
    CHECK(x.Width() >= 0);
    CHECK(x.Height() >= 0);
  }
  LayoutChild m = Flex();
  m.minWidth = 30;
  m.maxWidth = 10;  // minimum wins
  r = LayoutHorizontal(Box(100, 10), {m});
  CHECK(r[0].Width() == 30);
}
