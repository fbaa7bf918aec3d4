// GDI drawing used by the controls: colour fills with alpha, borders,
// images (alpha-blended, nine-part, source and destination rectangles),
// plain text and inline markup text.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/markup/Markup.h"
#include "ui/win/UIImage.h"

namespace SkinUI {

class CUIManager;
struct TImageInfo;

class CRenderEngine {
 public:
  // Decodes image bytes into a 32-bit premultiplied DIB section (caller owns it).
  static TImageInfo* LoadImageBytes(const std::string& bytes, DWORD mask, bool useMask);
  static TImageInfo* MakeColourImage(DWORD argb);
  static void FreeImage(TImageInfo* info);

  // Alpha 0: nothing; 255: solid; otherwise blended.
  static void DrawColor(HDC hDC, const RECT& rc, DWORD argb);
  static void DrawRect(HDC hDC, const RECT& rc, int size, DWORD argb);
  static void DrawRoundRect(HDC hDC, const RECT& rc, int size, int cx, int cy, DWORD argb);

  // Draws an image attribute for a control at rcItem, limited to rcPaint.
  // False when the image cannot be loaded (then it is marked failed).
  static bool DrawImage(HDC hDC, CUIManager* pManager, const RECT& rcItem, const RECT& rcPaint,
                        CImageAttr& image);
  static void DrawBitmap(HDC hDC, const TImageInfo* img, const RECT& rcDest, const RECT& rcPaint,
                         const RECT& rcSource, const RECT& rcCorner, int fade, bool hole,
                         bool xtiled, bool ytiled);

  // Plain text: DrawText with the control's style; right-to-left reading
  // order when the text starts in a right-to-left script.
  static void DrawPlainText(HDC hDC, CUIManager* pManager, RECT& rc, const std::wstring& text,
                            DWORD argb, int font, UINT style);
  // Inline markup (showhtml="true"). Links are returned in `links`.
  static void DrawHtmlText(HDC hDC, CUIManager* pManager, RECT& rc, const std::wstring& text,
                           DWORD argb, std::vector<MarkupLink>* links, size_t maxLinks,
                           const std::vector<MarkupLink>* previousLinks, int font, UINT style);
  static SIZE GetTextSize(HDC hDC, CUIManager* pManager, const std::wstring& text, int font, UINT style);
};

// True when the first character with a strong direction is right-to-left.
bool IsRightToLeftText(const std::wstring& text);

}  // namespace SkinUI
