// Inline text markup of labels and buttons: tags in braces or angle brackets
// that switch colour, font, underline, links, images and line structure
// inside one text. Portable: the text is tokenised and laid out here; the
// platform supplies fonts, measuring and drawing through IMarkupCanvas.
//
// Tag syntax: "{x}" or "<x>" or "{x argument}" with x one lower-case letter
// followed by a blank, "}" or ">"; closing tags "{/x}" / "</x>". The escapes
// "<{>", "<}>", "{<}", "{>}" draw a literal brace / angle bracket, and
// everything between {r} and {/r} is literal. Any input is accepted: text
// that does not form a tag is drawn as it stands, unknown tags are skipped,
// unbalanced closing tags restore nothing, numbers saturate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace SkinUI {

struct TextRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct MarkupToken {
  enum Kind { kText, kOpen, kClose, kNewline };
  Kind kind = kText;
  wchar_t tag = 0;        // the tag letter for kOpen / kClose
  std::wstring text;      // literal text (kText) or the tag's argument (kOpen)
  bool hasArgument = false;
};

// Splits a markup text into literal runs, tags and line breaks. Newline
// characters become kNewline tokens; raw sections become plain text.
std::vector<MarkupToken> TokenizeMarkup(const std::wstring& text);

// The words a markup text shows, without its tags; line breaks become blanks
// (what a screen reader reads for the text).
std::wstring MarkupPlainText(const std::wstring& text);

// Decimal number with optional leading blanks and sign; saturates to
// [-1000000, 1000000] so that hostile values cannot overflow coordinates.
// Returns false when no digit was read (value set to 0).
bool ParseMarkupInt(const std::wstring& text, size_t& pos, int& value);

// "{c}" argument: optional blanks, optional "#", hexadecimal digits as
// 0xAARRGGBB (at most 8 digits are read). False when no digit is present.
bool ParseMarkupColour(const std::wstring& argument, uint32_t& argb);

// "{f}" argument: a font id, or a face name with optional size (default 10)
// and the words bold, underline, italic anywhere after it.
struct MarkupFontSpec {
  bool byId = false;
  int id = -1;
  std::wstring face;
  int size = 10;
  bool bold = false, underline = false, italic = false;
};
MarkupFontSpec ParseMarkupFont(const std::wstring& argument);

// "{i}" argument: image name or description, frame count (at least 1) and
// frame index (0 when out of range).
struct MarkupImageSpec {
  std::wstring image;
  int frames = 1;
  int index = 0;
};
MarkupImageSpec ParseMarkupImage(const std::wstring& argument);

// Style flags of the drawing call, as taken from the control.
enum MarkupStyle : unsigned {
  kMarkup_Center = 1u << 0,
  kMarkup_Right = 1u << 1,
  kMarkup_VCenter = 1u << 2,
  kMarkup_Bottom = 1u << 3,
  kMarkup_SingleLine = 1u << 4,
  kMarkup_WordBreak = 1u << 5,
  kMarkup_EndEllipsis = 1u << 6,
  kMarkup_CalcRect = 1u << 7,  // measure only: nothing drawn, rect reduced
};

// Font variants requested by tags.
enum MarkupFontStyle : unsigned { kFont_Bold = 1, kFont_Underline = 2, kFont_Italic = 4 };

struct MarkupFontMetrics {
  int height = 0;           // character height
  int externalLeading = 0;
};

// What the layout needs from the platform. Fonts are opaque handles >= 0.
class IMarkupCanvas {
 public:
  virtual ~IMarkupCanvas() = default;
  // The font registered under `id`, or the default font.
  virtual int FontById(int id) = 0;
  virtual int FontFromSpec(const MarkupFontSpec& spec) = 0;
  // `base` with the style bits of MarkupFontStyle added.
  virtual int DeriveFont(int base, unsigned styleBits) = 0;
  virtual MarkupFontMetrics Metrics(int font) = 0;
  // Cumulative advance after each character: widths[i] = extent of text[0..i].
  virtual void Extents(int font, const std::wstring& text, std::vector<int>& widths) = 0;
  virtual void DrawText(int font, uint32_t argb, int x, int y, const std::wstring& text) = 0;
  virtual void FillRect(const TextRect& rect, uint32_t argb) = 0;
  // Size of the whole image (all frames side by side); false when it cannot load.
  virtual bool ImageSize(const std::wstring& image, int& cx, int& cy) = 0;
  virtual void DrawImage(const std::wstring& image, const TextRect& source, const TextRect& dest) = 0;
};

struct MarkupLink {
  TextRect rect;
  std::wstring text;
};

struct MarkupColours {
  uint32_t text = 0xFF000000;
  uint32_t link = 0xFF0000FF;
  uint32_t linkHover = 0xFFD3215F;
  uint32_t selectedBk = 0xFFBAE4FF;
};

struct MarkupParams {
  MarkupColours colours;
  int font = 0;             // canvas font handle of the control
  unsigned style = 0;       // MarkupStyle bits
  size_t maxLinks = 0;      // link slots the caller has
  bool hasMouse = false;    // mouse position known: hover colour for links
  int mouseX = 0, mouseY = 0;
  const std::vector<MarkupLink>* previousLinks = nullptr;  // links of the last paint
};

// Lays out (and unless kMarkup_CalcRect draws) `text` inside `rect`. Links
// drawn are returned in `links` (at most params.maxLinks). In measure mode
// `rect` is reduced to the size the text needs.
void DrawMarkupText(IMarkupCanvas& canvas, TextRect& rect, const std::wstring& text,
                    const MarkupParams& params, std::vector<MarkupLink>& links);

}  // namespace SkinUI
