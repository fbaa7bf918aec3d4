// Inline markup: tokenising, argument parsing and line layout over a
// monospace fake canvas (7 pixels per character, fonts 14 pixels high).
#include <doctest/doctest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/markup/Markup.h"

using namespace SkinUI;

namespace {

struct DrawnText {
  int font;
  uint32_t colour;
  int x, y;
  std::wstring text;
};

class FakeCanvas : public IMarkupCanvas {
 public:
  static constexpr int kCharWidth = 7;
  std::vector<DrawnText> texts;
  std::vector<TextRect> fills, images;

  int FontById(int id) override { return id >= 0 && id < 4 ? id * 16 : 0; }
  int FontFromSpec(const MarkupFontSpec& spec) override { return 64 + spec.size; }
  int DeriveFont(int base, unsigned bits) override { return base | static_cast<int>(bits) << 8; }
  MarkupFontMetrics Metrics(int font) override {
    int base = font & 0xFF;
    return {base >= 64 ? base - 64 : 14 + base / 16 * 6, 0};
  }
  void Extents(int, const std::wstring& text, std::vector<int>& widths) override {
    widths.clear();
    for (size_t i = 0; i < text.size(); ++i) widths.push_back(static_cast<int>(i + 1) * kCharWidth);
  }
  void DrawText(int font, uint32_t argb, int x, int y, const std::wstring& text) override {
    texts.push_back({font, argb, x, y, text});
  }
  void FillRect(const TextRect& r, uint32_t) override { fills.push_back(r); }
  bool ImageSize(const std::wstring& image, int& cx, int& cy) override {
    if (image.find(L"missing") != std::wstring::npos) return false;
    cx = 40;  // four frames of 10 x 20
    cy = 20;
    return true;
  }
  void DrawImage(const std::wstring&, const TextRect& src, const TextRect& dst) override {
    images.push_back(src);
    images.push_back(dst);
  }

  std::wstring AllText() const {
    std::wstring s;
    for (auto& t : texts) s += t.text;
    return s;
  }
};

std::wstring Kinds(const std::vector<MarkupToken>& tokens) {
  std::wstring s;
  for (auto& t : tokens) {
    switch (t.kind) {
      case MarkupToken::kText: s += L"T(" + t.text + L")"; break;
      case MarkupToken::kOpen: s += std::wstring(L"<") + t.tag + (t.hasArgument ? L":" + t.text : L"") + L">"; break;
      case MarkupToken::kClose: s += std::wstring(L"</") + t.tag + L">"; break;
      case MarkupToken::kNewline: s += L"NL"; break;
    }
  }
  return s;
}

MarkupParams Params(unsigned style, size_t maxLinks = 8) {
  MarkupParams p;
  p.style = style;
  p.maxLinks = maxLinks;
  p.colours.text = 0xFF000000;
  return p;
}

}  // namespace

TEST_CASE("tokeniser: tags, escapes, raw text and malformed input") {
  struct Case {
    const wchar_t* text;
    const wchar_t* tokens;
  } cases[] = {
      {L"plain", L"T(plain)"},
      {L"a{b}bold{/b}c", L"T(a)<b>T(bold)</b>T(c)"},
      {L"<u>x</u>", L"<u>T(x)</u>"},
      {L"{c #FF0000}red{/c}", L"<c:#FF0000>T(red)</c>"},
      {L"{a http://x/y}go{/a}", L"<a:http://x/y>T(go)</a>"},
      {L"x{n}y", L"T(x)<n>T(y)"},
      {L"line1\nline2", L"T(line1)NLT(line2)"},
      // Escapes draw the literal bracket.
      {L"<{>a<}>{<}b{>}", L"T({a}<b>)"},
      // Raw sections are literal, in either bracket form.
      {L"{r}{b}x{/b}{/r}y", L"T({b}x{/b}y)"},
      {L"<r><i></r>", L"T(<i>)"},
      // Not tags: upper case, two letters, nothing after the letter.
      {L"{B}{bb}{ b}", L"T({B}{bb}{ b})"},
      {L"a < b > c", L"T(a < b > c)"},
      {L"trailing {", L"T(trailing {)"},
      {L"cut {b", L"T(cut {b)"},
      // Truncated tags take the rest of the text as argument.
      {L"{c #FF00", L"<c:#FF00>"},
      {L"{/b", L"</b>"},
      {L"x{/", L"T(x{/)"},
      // Unknown letters are kept as tags (and skipped by the layout).
      {L"{z}q{/z}", L"<z>T(q)</z>"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.text, c.text + wcslen(c.text)));
    CHECK(Kinds(TokenizeMarkup(c.text)) == c.tokens);
  }
}

TEST_CASE("argument parsers: colours, numbers, fonts, images") {
  uint32_t c = 0;
  CHECK(ParseMarkupColour(L"#FF337BDD", c));
  CHECK(c == 0xFF337BDDu);
  CHECK(ParseMarkupColour(L"  ff0000", c));
  CHECK(c == 0xFF0000u);
  CHECK(ParseMarkupColour(L"#123456789ABC", c));  // at most 8 digits
  CHECK(c == 0x12345678u);
  c = 7;
  CHECK_FALSE(ParseMarkupColour(L"#zz", c));
  CHECK(c == 7u);

  size_t pos = 0;
  int v = 0;
  CHECK(ParseMarkupInt(L"99999999999999999999", pos, v));
  CHECK(v == 1000000);
  pos = 0;
  CHECK(ParseMarkupInt(L"-42x", pos, v));
  CHECK(v == -42);
  CHECK(pos == 3);
  pos = 0;
  CHECK_FALSE(ParseMarkupInt(L"abc", pos, v));

  MarkupFontSpec f = ParseMarkupFont(L"1");
  CHECK(f.byId);
  CHECK(f.id == 1);
  f = ParseMarkupFont(L"Segoe UI 18 bold italic");
  CHECK_FALSE(f.byId);
  CHECK(f.face == L"Segoe UI");
  CHECK(f.size == 18);
  CHECK(f.bold);
  CHECK(f.italic);
  CHECK_FALSE(f.underline);
  f = ParseMarkupFont(L"Arial underline");
  CHECK(f.size == 10);
  CHECK(f.underline);
  f = ParseMarkupFont(L"Tahoma 99999999999");
  CHECK(f.size == 500);

  MarkupImageSpec img = ParseMarkupImage(L"img/a.png 4 2");
  CHECK(img.image == L"img/a.png");
  CHECK(img.frames == 4);
  CHECK(img.index == 2);
  img = ParseMarkupImage(L"file='img/a b.png' restype='png' 0 9");
  CHECK(img.image == L"file='img/a b.png' restype='png'");
  CHECK(img.frames == 1);
  CHECK(img.index == 0);
}

TEST_CASE("colour and underline tags change only the enclosed text") {
  FakeCanvas canvas;
  TextRect rect{0, 0, 400, 20};
  std::vector<MarkupLink> links;
  DrawMarkupText(canvas, rect, L"I agree to {c 337BDD}Zelvane{/c} {u}terms{/u}.",
                 Params(kMarkup_SingleLine), links);
  REQUIRE(canvas.texts.size() == 5);
  CHECK(canvas.texts[0].colour == 0xFF000000u);
  CHECK(canvas.texts[1].text == L"Zelvane");
  CHECK(canvas.texts[1].colour == 0x337BDDu);
  CHECK(canvas.texts[2].colour == 0xFF000000u);
  CHECK(canvas.texts[3].text == L"terms");
  CHECK((canvas.texts[3].font & (kFont_Underline << 8)) != 0);
  CHECK((canvas.texts[4].font & (kFont_Underline << 8)) == 0);
  // Runs follow each other without gaps.
  CHECK(canvas.texts[1].x == 11 * FakeCanvas::kCharWidth);
}

TEST_CASE("unbalanced and unknown tags never underflow the stacks") {
  FakeCanvas canvas;
  TextRect rect{0, 0, 400, 100};
  std::vector<MarkupLink> links;
  DrawMarkupText(canvas, rect, L"{/c}{/b}{/a}{/p}{/v}a{z arg}b{/z}{c zz}c{/c}{/c}d", Params(0), links);
  CHECK(canvas.AllText() == L"abcd");
  for (auto& t : canvas.texts) CHECK(t.colour == 0xFF000000u);
  CHECK(links.empty());
}

TEST_CASE("line breaks: {n}, newline characters, word break, single line") {
  FakeCanvas canvas;
  std::vector<MarkupLink> links;
  TextRect rect{0, 0, 400, 100};
  DrawMarkupText(canvas, rect, L"one{n}two\nthree", Params(0), links);
  REQUIRE(canvas.texts.size() == 3);
  CHECK(canvas.texts[0].y == 0);
  CHECK(canvas.texts[1].y == 14);
  CHECK(canvas.texts[2].y == 28);

  canvas.texts.clear();
  rect = {0, 0, 400, 100};
  DrawMarkupText(canvas, rect, L"one{n}two", Params(kMarkup_SingleLine), links);
  REQUIRE(canvas.texts.size() == 2);
  CHECK(canvas.texts[1].y == 0);
  CHECK(canvas.texts[1].x == 3 * FakeCanvas::kCharWidth);

  // 10 characters per line: the word break cuts after the blank.
  canvas.texts.clear();
  rect = {0, 0, 70, 100};
  DrawMarkupText(canvas, rect, L"hello wonderful world", Params(kMarkup_WordBreak), links);
  REQUIRE(canvas.texts.size() >= 2);
  CHECK(canvas.texts[0].text == L"hello ");
  CHECK(canvas.texts[1].text == L"wonderful ");
  CHECK(canvas.texts[1].y == 14);
}

TEST_CASE("end ellipsis on a single line that does not fit") {
  FakeCanvas canvas;
  std::vector<MarkupLink> links;
  TextRect rect{0, 0, 70, 20};
  DrawMarkupText(canvas, rect, L"abcdefghijklmnop", Params(kMarkup_SingleLine | kMarkup_EndEllipsis), links);
  REQUIRE(canvas.texts.size() == 1);
  CHECK(canvas.texts[0].text == L"abcdefgh...");
}

TEST_CASE("links: colours, rectangles, wrapping and slot limits") {
  FakeCanvas canvas;
  std::vector<MarkupLink> links;
  TextRect rect{10, 0, 410, 100};
  DrawMarkupText(canvas, rect, L"read {a lic}the terms{/a} now", Params(0), links);
  REQUIRE(links.size() == 1);
  CHECK(links[0].text == L"lic");
  CHECK(links[0].rect.left == 10 + 5 * 7);
  CHECK(links[0].rect.right == 10 + 14 * 7);
  CHECK(links[0].rect.top == 0);
  CHECK(links[0].rect.bottom == 14);
  CHECK(canvas.texts[1].colour == 0xFF0000FFu);
  CHECK(canvas.texts[2].colour == 0xFF000000u);

  // Hovered link (mouse inside the rectangle of the previous paint).
  std::vector<MarkupLink> previous = links;
  MarkupParams p = Params(0);
  p.hasMouse = true;
  p.mouseX = links[0].rect.left + 1;
  p.mouseY = 5;
  p.previousLinks = &previous;
  canvas.texts.clear();
  rect = {10, 0, 410, 100};
  DrawMarkupText(canvas, rect, L"read {a lic}the terms{/a} now", p, links);
  CHECK(canvas.texts[1].colour == 0xFFD3215Fu);

  // A link over two lines yields two rectangles with the same text.
  canvas.texts.clear();
  rect = {0, 0, 70, 100};
  DrawMarkupText(canvas, rect, L"ab {a x}cdefgh ijklmn{/a}", Params(kMarkup_WordBreak), links);
  REQUIRE(links.size() == 2);
  CHECK(links[0].text == L"x");
  CHECK(links[1].text == L"x");
  CHECK(links[0].rect.top == 0);
  CHECK(links[1].rect.top == 14);
  CHECK(links[1].rect.left == 0);

  // Slots beyond the caller's maximum are not recorded.
  rect = {0, 0, 400, 100};
  DrawMarkupText(canvas, rect, L"{a}1{/a}{a}2{/a}{a}3{/a}", Params(0, 2), links);
  CHECK(links.size() == 2);
}

TEST_CASE("alignment: centre, right and vertical centre") {
  FakeCanvas canvas;
  std::vector<MarkupLink> links;
  TextRect rect{0, 0, 100, 40};
  DrawMarkupText(canvas, rect, L"abcd", Params(kMarkup_SingleLine | kMarkup_Center | kMarkup_VCenter), links);
  REQUIRE(canvas.texts.size() == 1);
  CHECK(canvas.texts[0].x == (100 - 28) / 2);
  CHECK(canvas.texts[0].y == (40 - 14) / 2);

  canvas.texts.clear();
  rect = {0, 0, 100, 40};
  DrawMarkupText(canvas, rect, L"abcd", Params(kMarkup_SingleLine | kMarkup_Right | kMarkup_Bottom), links);
  CHECK(canvas.texts[0].x == 72);
  CHECK(canvas.texts[0].y == 26);

  // Multi-line: each line centred by its own width.
  canvas.texts.clear();
  rect = {0, 0, 100, 40};
  DrawMarkupText(canvas, rect, L"ab{n}abcd", Params(kMarkup_Center), links);
  REQUIRE(canvas.texts.size() == 2);
  CHECK(canvas.texts[0].x == (100 - 14) / 2);
  CHECK(canvas.texts[1].x == (100 - 28) / 2);
}

TEST_CASE("measure mode reduces the rectangle and draws nothing") {
  FakeCanvas canvas;
  std::vector<MarkupLink> links;
  TextRect rect{5, 5, 500, 500};
  DrawMarkupText(canvas, rect, L"abc{n}{f 1}abcdef{/f}", Params(kMarkup_CalcRect), links);
  CHECK(canvas.texts.empty());
  CHECK(rect.right == 5 + 42);
  CHECK(rect.bottom == 5 + 14 + 20);
}

TEST_CASE("images, italic and spacing tags") {
  FakeCanvas canvas;
  std::vector<MarkupLink> links;
  TextRect rect{0, 0, 400, 100};
  DrawMarkupText(canvas, rect, L"{i}it{/i}{i strip.png 4 2}{i missing.png}{x 5}z", Params(0), links);
  REQUIRE(canvas.images.size() == 2);
  CHECK(canvas.images[0].left == 20);   // frame 2 of 10-pixel frames
  CHECK(canvas.images[0].right == 30);
  CHECK(canvas.images[1].left == 14);   // after "it"
  CHECK(canvas.images[1].top == 0);     // line grew to the image height
  REQUIRE(canvas.texts.size() == 2);
  CHECK((canvas.texts[0].font & (kFont_Italic << 8)) != 0);
  CHECK(canvas.texts[1].x == 14 + 10 + 5);
  CHECK(canvas.texts[1].y == 20 - 14);  // bottom of the 20-pixel line

  canvas.texts.clear();
  rect = {0, 0, 400, 100};
  DrawMarkupText(canvas, rect, L"a{p 6}b{/p}c", Params(0), links);
  REQUIRE(canvas.texts.size() == 3);
  CHECK(canvas.texts[1].y == 14 + 6);
  CHECK(canvas.texts[2].y == 14 + 20);
}

TEST_CASE("hostile input terminates and stays inside the rectangle") {
  std::vector<std::wstring> inputs = {
      std::wstring(5000, L'{'),
      L"{x 99999999999999999999}a{y 99999999999999}b{p 999999999}c",
      L"{x -50}{y -5}q",
      L"{i " + std::wstring(3000, L'a') + L" 0 0}",
      L"{i x.png 99999999999 -3}",
      L"{a}{a}{a}nested{/a}",
  };
  std::wstring deep;
  for (int i = 0; i < 2000; ++i) deep += L"{b}{c #FF0000}{f 1}{u}{v center}{p 1}";
  inputs.push_back(deep + L"end");
  for (const auto& text : inputs) {
    FakeCanvas canvas;
    std::vector<MarkupLink> links;
    TextRect rect{0, 0, 50, 30};
    DrawMarkupText(canvas, rect, text, Params(kMarkup_WordBreak), links);
    for (auto& t : canvas.texts) {
      CHECK(t.x >= 0);
      CHECK(t.x <= 51);
    }
    CHECK(links.size() <= 8);
  }
}

TEST_CASE("plain text of markup: the words shown, without tags") {
  struct {
    const wchar_t* markup;
    const wchar_t* plain;
  } table[] = {
      {L"I've read and agreed to {c #524CF5}Quillory License Agreement{/c}",
       L"I've read and agreed to Quillory License Agreement"},
      {L"agree to the {u}{a https://x.example/l}Licence{/a}{/u}", L"agree to the Licence"},
      {L"one\ntwo{n}three", L"one two three"},
      {L"{r}{b}{/r} <{>x<}>", L"{b} {x}"},
      {L"{i logo.png}", L""},
  };
  for (size_t i = 0; i < sizeof(table) / sizeof(table[0]); ++i) {
    CAPTURE(i);
    CHECK(MarkupPlainText(table[i].markup) == table[i].plain);
  }
}
