// The syntax of attribute values in layout files: integers, sizes,
// rectangles, colours, booleans, image descriptions, language tokens, and
// the root window's attributes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace SkinUI {

struct MarkupAttribute {
  std::wstring name;
  std::wstring value;
};
using MarkupAttributes = std::vector<MarkupAttribute>;

struct MarkupSize {
  int cx = 0;
  int cy = 0;
};
struct MarkupRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool IsEmpty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
};

// Decimal integer as the C runtime's string-to-long reads it (leading blanks,
// optional sign, digits; the rest ignored), clamped to the int range.
int ParseInt(const std::wstring& value);
// Numbers separated by any one character; missing numbers read as 0.
MarkupSize ParseSize(const std::wstring& value);
MarkupRect ParseRect(const std::wstring& value);
// Optional blanks, optional "#", hexadecimal digits: 0xAARRGGBB.
uint32_t ParseColor(const std::wstring& value);
// "true"; with ignoreCase also "TRUE", "True", ...
bool ParseBool(const std::wstring& value, bool ignoreCase = false);

// An image attribute: a plain file name, or key='value' pairs.
struct ImageDescription {
  std::wstring file;
  std::wstring res;
  std::wstring resType;
  bool hasColor = false;
  uint32_t color = 0;       // "color": a one-pixel image of this colour
  bool hasDest = false;
  MarkupRect dest;          // relative to the control's top-left corner
  MarkupRect source;        // all zero: the whole image
  MarkupRect corner;        // nine-part borders ("corner" or "scale9")
  bool hasMask = false;
  uint32_t mask = 0;
  int fade = 255;
  bool hole = false;
  bool xtiled = false;
  bool ytiled = false;
  bool hsl = false;
};
// Malformed pair lists keep what was read before the fault.
ImageDescription ParseImageDescription(const std::wstring& value);

// Replaces each %{N} whose N is declared by the declared text.
std::wstring ReplaceLanguageTokens(const std::wstring& text,
                                   const std::map<int, std::wstring>& declared);

// Parses `name="value" name2="value2"` (the value of a "Default" element);
// stops at the first malformed pair.
MarkupAttributes ParseAttributeList(const std::wstring& list);

// The root "Window" element's attributes.
struct WindowSettings {
  bool hasSize = false;
  MarkupSize size;
  MarkupRect sizeBox;
  MarkupRect caption;
  MarkupSize roundCorner;
  MarkupSize minInfo;
  MarkupSize maxInfo;
  bool showDirty = false;
  bool noActivate = false;
  bool hasOpacity = false;
  int opacity = 255;
  bool hasLayeredOpacity = false;
  int layeredOpacity = 255;
  std::wstring layeredImage;
  std::map<std::wstring, uint32_t> colors;  // "defaultfontcolor", ... (lower case)
  MarkupAttributes custom;                  // any other attribute, in order
};
// Applies attributes in order onto `settings` (later ones win).
void ApplyWindowAttributes(const MarkupAttributes& attributes, WindowSettings& settings);

// Case-insensitive comparison of ASCII letters.
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

}  // namespace SkinUI
