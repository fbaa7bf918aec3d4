#include "ui/win/UIRender.h"

#include <algorithm>
#include <cstring>

#include <usp10.h>

#include "log/Log.h"
#include "ui/archive/ImageDecoder.h"
#include "ui/archive/SkinResources.h"
#include "ui/win/UIManager.h"

namespace SkinUI {

namespace {

COLORREF ToColorRef(DWORD argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

HBITMAP CreateDib32(HDC hDC, int cx, int cy, void** bits) {
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = cx;
  bmi.bmiHeader.biHeight = -cy;  // top-down
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(hDC, &bmi, DIB_RGB_COLORS, bits, nullptr, 0);
}

RECT ToRect(const MarkupRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

bool Intersects(const RECT& a, const RECT& b) {
  RECT t;
  return IntersectRect(&t, &a, &b) != FALSE;
}

// Width of a text as drawn. Joined right-to-left glyphs are narrower than
// the characters' own extents, which is all GetTextExtentPoint reports under
// some platforms; Uniscribe shapes the text first.
int ShapedTextWidth(HDC hDC, const std::wstring& text) {
  if (text.empty()) return 0;
  const int n = static_cast<int>(text.size());
  SCRIPT_STRING_ANALYSIS ssa = nullptr;
  if (SUCCEEDED(ScriptStringAnalyse(hDC, text.c_str(), n, n * 3 / 2 + 16, -1, SSA_GLYPHS | SSA_FALLBACK, 0, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, &ssa))) {
    const SIZE* size = ScriptString_pSize(ssa);
    int width = size ? size->cx : -1;
    ScriptStringFree(&ssa);
    if (width >= 0) return width;
  }
  SIZE sz{};
  GetTextExtentPoint32W(hDC, text.c_str(), n, &sz);
  return sz.cx;
}

void Blit(HDC hDC, HDC hMem, const TImageInfo* img, const RECT& d, const RECT& s, int fade) {
  int dw = d.right - d.left, dh = d.bottom - d.top;
  int sw = s.right - s.left, sh = s.bottom - s.top;
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  if (img->bAlpha || fade < 255) {
    BLENDFUNCTION bf{AC_SRC_OVER, 0, static_cast<BYTE>(std::clamp(fade, 0, 255)),
                     static_cast<BYTE>(img->bAlpha ? AC_SRC_ALPHA : 0)};
    AlphaBlend(hDC, d.left, d.top, dw, dh, hMem, s.left, s.top, sw, sh, bf);
  } else if (dw == sw && dh == sh) {
    BitBlt(hDC, d.left, d.top, dw, dh, hMem, s.left, s.top, SRCCOPY);
  } else {
    int old = SetStretchBltMode(hDC, HALFTONE);
    StretchBlt(hDC, d.left, d.top, dw, dh, hMem, s.left, s.top, sw, sh, SRCCOPY);
    SetStretchBltMode(hDC, old);
  }
}

// The markup layout's canvas over a DC and the manager's fonts and images.
class GdiMarkupCanvas : public IMarkupCanvas {
 public:
  GdiMarkupCanvas(HDC hDC, CUIManager* manager, const RECT& clip) : hDC_(hDC), manager_(manager), clip_(clip) {}

  // Right-to-left paragraphs: the layout runs left to right and every drawn
  // piece is mirrored inside the rectangle, so the first run ends up at the
  // right edge. Runs themselves are ordered by the platform's bidi drawing.
  void SetMirror(bool mirror) { mirror_ = mirror; }
  int MirrorX(int left, int width) const { return mirror_ ? clip_.left + clip_.right - left - width : left; }

  int Handle(HFONT f) {
    for (size_t i = 0; i < fonts_.size(); ++i) {
      if (fonts_[i] == f) return static_cast<int>(i);
    }
    fonts_.push_back(f);
    return static_cast<int>(fonts_.size() - 1);
  }
  HFONT Font(int h) const { return h >= 0 && h < static_cast<int>(fonts_.size()) ? fonts_[h] : fonts_[0]; }

  int FontById(int id) override { return Handle(manager_->GetFont(id)); }
  int FontFromSpec(const MarkupFontSpec& spec) override {
    return Handle(manager_->GetFont(spec.face, spec.size, spec.bold, spec.underline, spec.italic));
  }
  int DeriveFont(int base, unsigned bits) override {
    TFontInfo* info = manager_->GetFontInfo(Font(base));
    if (!info) return base;
    return Handle(manager_->GetFont(info->sFontName, info->iSize, info->bBold || (bits & kFont_Bold),
                                    info->bUnderline || (bits & kFont_Underline),
                                    info->bItalic || (bits & kFont_Italic)));
  }
  MarkupFontMetrics Metrics(int font) override {
    TFontInfo* info = manager_->GetFontInfo(Font(font));
    if (!info) return {12, 0};
    return {static_cast<int>(info->tm.tmHeight), static_cast<int>(info->tm.tmExternalLeading)};
  }
  void Extents(int font, const std::wstring& text, std::vector<int>& widths) override {
    widths.assign(text.size(), 0);
    if (text.empty()) return;
    HGDIOBJ old = SelectObject(hDC_, Font(font));
    int fit = 0;
    SIZE sz{};
    GetTextExtentExPointW(hDC_, text.c_str(), static_cast<int>(text.size()), 0x7FFFFFFF, &fit,
                          widths.data(), &sz);
    if (IsRightToLeftText(text) && !widths.empty() && widths.back() > 0) {
      // Break positions keep their proportions; the run ends where the
      // shaped text ends.
      int shaped = ShapedTextWidth(hDC_, text);
      int last = widths.back();
      for (int& w : widths) w = static_cast<int>(static_cast<long long>(w) * shaped / last);
    }
    SelectObject(hDC_, old);
  }
  void DrawText(int font, uint32_t argb, int x, int y, const std::wstring& text) override {
    HGDIOBJ old = SelectObject(hDC_, Font(font));
    SetBkMode(hDC_, TRANSPARENT);
    SetTextColor(hDC_, ToColorRef(argb));
    UINT options = ETO_CLIPPED;
    if (mirror_) {
      x = MirrorX(x, ShapedTextWidth(hDC_, text));
      options |= ETO_RTLREADING;
    }
    ExtTextOutW(hDC_, x, y, options, &clip_, text.c_str(), static_cast<UINT>(text.size()), nullptr);
    SelectObject(hDC_, old);
  }
  void FillRect(const TextRect& r, uint32_t argb) override {
    RECT rc{MirrorX(r.left, r.Width()), r.top, MirrorX(r.left, r.Width()) + r.Width(), r.bottom};
    RECT t;
    if (IntersectRect(&t, &rc, &clip_)) CRenderEngine::DrawColor(hDC_, t, argb);
  }
  bool ImageSize(const std::wstring& image, int& cx, int& cy) override {
    const TImageInfo* img = Load(image);
    if (!img) return false;
    cx = img->nX;
    cy = img->nY;
    return true;
  }
  void DrawImage(const std::wstring& image, const TextRect& s, const TextRect& d) override {
    const TImageInfo* img = Load(image);
    if (!img) return;
    RECT rs{s.left, s.top, s.right, s.bottom};
    RECT rd{MirrorX(d.left, d.Width()), d.top, MirrorX(d.left, d.Width()) + d.Width(), d.bottom};
    CRenderEngine::DrawBitmap(hDC_, img, rd, clip_, rs, RECT{0, 0, 0, 0}, 255, false, false, false);
  }

 private:
  const TImageInfo* Load(const std::wstring& image) {
    ImageDescription d = ParseImageDescription(image);
    if (d.file.empty()) return nullptr;
    return manager_->GetImageEx(d.file, d.mask, d.hasMask);
  }
  HDC hDC_;
  CUIManager* manager_;
  RECT clip_;
  bool mirror_ = false;
  std::vector<HFONT> fonts_;
};

unsigned MarkupStyleFromDT(UINT style) {
  unsigned s = 0;
  if (style & DT_CENTER) s |= kMarkup_Center;
  if (style & DT_RIGHT) s |= kMarkup_Right;
  if (style & DT_VCENTER) s |= kMarkup_VCenter;
  if (style & DT_BOTTOM) s |= kMarkup_Bottom;
  if (style & DT_SINGLELINE) s |= kMarkup_SingleLine;
  if (style & DT_WORDBREAK) s |= kMarkup_WordBreak;
  if (style & DT_END_ELLIPSIS) s |= kMarkup_EndEllipsis;
  if (style & DT_CALCRECT) s |= kMarkup_CalcRect;
  return s;
}

}  // namespace

bool IsRightToLeftText(const std::wstring& text) {
  for (wchar_t c : text) {
    if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF)) return true;
    if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= 0x00C0 && c <= 0x058F) ||
        (c >= 0x0900 && c <= 0x1FFF) || (c >= 0x3000 && c <= 0xD7FF)) {
      return false;
    }
  }
  return false;
}

TImageInfo* CRenderEngine::LoadImageBytes(const std::string& bytes, DWORD mask, bool useMask) {
  DecodedImage decoded;
  std::string error;
  ImageDecodeOptions options;
  options.useMask = useMask;
  options.maskColor = mask & 0x00FFFFFF;
  if (!DecodeImage(bytes, decoded, error, options)) {
    LOGA(kLog_Info, "image decoding failed: %s", error.c_str());
    return nullptr;
  }
  void* bits = nullptr;
  HBITMAP hBitmap = CreateDib32(nullptr, decoded.width, decoded.height, &bits);
  if (!hBitmap || !bits) return nullptr;
  std::memcpy(bits, decoded.pixels.data(), decoded.pixels.size());
  auto* info = new TImageInfo;
  info->hBitmap = hBitmap;
  info->nX = decoded.width;
  info->nY = decoded.height;
  info->bAlpha = decoded.hasAlpha;
  return info;
}

TImageInfo* CRenderEngine::MakeColourImage(DWORD argb) {
  void* bits = nullptr;
  HBITMAP hBitmap = CreateDib32(nullptr, 1, 1, &bits);
  if (!hBitmap || !bits) return nullptr;
  BYTE a = static_cast<BYTE>(argb >> 24);
  BYTE px[4] = {static_cast<BYTE>((argb & 0xFF) * a / 255), static_cast<BYTE>(((argb >> 8) & 0xFF) * a / 255),
                static_cast<BYTE>(((argb >> 16) & 0xFF) * a / 255), a};
  std::memcpy(bits, px, 4);
  auto* info = new TImageInfo;
  info->hBitmap = hBitmap;
  info->nX = info->nY = 1;
  info->bAlpha = a != 255;
  return info;
}

void CRenderEngine::FreeImage(TImageInfo* info) {
  if (!info) return;
  if (info->hBitmap) DeleteObject(info->hBitmap);
  delete info;
}

void CRenderEngine::DrawColor(HDC hDC, const RECT& rc, DWORD argb) {
  BYTE a = static_cast<BYTE>(argb >> 24);
  if (a == 0 || rc.right <= rc.left || rc.bottom <= rc.top) return;
  if (a == 255) {
    HBRUSH brush = CreateSolidBrush(ToColorRef(argb));
    ::FillRect(hDC, &rc, brush);
    DeleteObject(brush);
    return;
  }
  TImageInfo* img = MakeColourImage(argb);
  if (!img) return;
  HDC hMem = CreateCompatibleDC(hDC);
  HGDIOBJ old = SelectObject(hMem, img->hBitmap);
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(hDC, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, hMem, 0, 0, 1, 1, bf);
  SelectObject(hMem, old);
  DeleteDC(hMem);
  FreeImage(img);
}

void CRenderEngine::DrawRect(HDC hDC, const RECT& rc, int size, DWORD argb) {
  DrawRoundRect(hDC, rc, size, 0, 0, argb);
}

void CRenderEngine::DrawRoundRect(HDC hDC, const RECT& rc, int size, int cx, int cy, DWORD argb) {
  if (size <= 0) return;
  HPEN pen = CreatePen(PS_SOLID | PS_INSIDEFRAME, size, ToColorRef(argb));
  HGDIOBJ oldPen = SelectObject(hDC, pen);
  HGDIOBJ oldBrush = SelectObject(hDC, GetStockObject(HOLLOW_BRUSH));
  if (cx > 0 || cy > 0) {
    RoundRect(hDC, rc.left, rc.top, rc.right, rc.bottom, cx, cy);
  } else {
    Rectangle(hDC, rc.left, rc.top, rc.right, rc.bottom);
  }
  SelectObject(hDC, oldBrush);
  SelectObject(hDC, oldPen);
  DeleteObject(pen);
}

void CRenderEngine::DrawBitmap(HDC hDC, const TImageInfo* img, const RECT& rcDest, const RECT& rcPaint,
                               const RECT& rcSourceIn, const RECT& c, int fade, bool hole, bool xtiled,
                               bool ytiled) {
  if (!img || !img->hBitmap || !Intersects(rcDest, rcPaint)) return;
  RECT s = rcSourceIn;
  if (s.left == 0 && s.top == 0 && s.right == 0 && s.bottom == 0) s = RECT{0, 0, img->nX, img->nY};
  s.right = std::min<LONG>(s.right, img->nX);
  s.bottom = std::min<LONG>(s.bottom, img->nY);
  HDC hMem = CreateCompatibleDC(hDC);
  HGDIOBJ old = SelectObject(hMem, img->hBitmap);
  const RECT& d = rcDest;
  if (c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0) {
    if (xtiled || ytiled) {
      // Tiles of the source size, clipped at the destination's far edges.
      int sw = s.right - s.left, sh = s.bottom - s.top;
      int stepX = xtiled ? sw : d.right - d.left, stepY = ytiled ? sh : d.bottom - d.top;
      for (int y = d.top; stepY > 0 && y < d.bottom; y += stepY) {
        for (int x = d.left; stepX > 0 && x < d.right; x += stepX) {
          int w = std::min<int>(stepX, d.right - x), h = std::min<int>(stepY, d.bottom - y);
          RECT dd{x, y, x + w, y + h};
          RECT ss{s.left, s.top, xtiled ? s.left + w : s.right, ytiled ? s.top + h : s.bottom};
          Blit(hDC, hMem, img, dd, ss, fade);
        }
      }
    } else {
      Blit(hDC, hMem, img, d, s, fade);
    }
  } else {
    // Nine parts: corners kept, edges stretched along one axis, the centre both.
    LONG dx[4] = {d.left, d.left + c.left, d.right - c.right, d.right};
    LONG dy[4] = {d.top, d.top + c.top, d.bottom - c.bottom, d.bottom};
    LONG sx[4] = {s.left, s.left + c.left, s.right - c.right, s.right};
    LONG sy[4] = {s.top, s.top + c.top, s.bottom - c.bottom, s.bottom};
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 3; ++i) {
        if (hole && i == 1 && j == 1) continue;
        Blit(hDC, hMem, img, RECT{dx[i], dy[j], dx[i + 1], dy[j + 1]}, RECT{sx[i], sy[j], sx[i + 1], sy[j + 1]}, fade);
      }
    }
  }
  SelectObject(hMem, old);
  DeleteDC(hMem);
}

bool CRenderEngine::DrawImage(HDC hDC, CUIManager* pManager, const RECT& rcItem, const RECT& rcPaint,
                              CImageAttr& attr) {
  if (attr.IsEmpty() || attr.failed_) return false;
  const ImageDescription& d = attr.Description();
  if (!attr.image_) {
    if (d.hasColor) {
      attr.image_ = pManager->AddColourImage(d.color);
    } else if (!d.file.empty()) {
      attr.image_ = pManager->GetImageEx(d.file, d.mask, d.hasMask);
    } else if (!d.res.empty()) {
      attr.image_ = pManager->GetImageEx(d.res, d.mask, d.hasMask);
    }
    if (!attr.image_) {
      attr.failed_ = true;
      LOGW(kLog_Info, L"image not drawn: %ls", attr.Value().c_str());
      return false;
    }
  }
  RECT rcDest = rcItem;
  if (d.hasDest) {
    rcDest = RECT{rcItem.left + d.dest.left, rcItem.top + d.dest.top, rcItem.left + d.dest.right,
                  rcItem.top + d.dest.bottom};
    rcDest.right = std::min(rcDest.right, rcItem.right);
    rcDest.bottom = std::min(rcDest.bottom, rcItem.bottom);
  }
  RECT t;
  if (!IntersectRect(&t, &rcDest, &rcPaint)) return true;
  DrawBitmap(hDC, attr.image_, rcDest, rcPaint, ToRect(d.source), ToRect(d.corner), d.fade, d.hole,
             d.xtiled, d.ytiled);
  return true;
}

void CRenderEngine::DrawPlainText(HDC hDC, CUIManager* pManager, RECT& rc, const std::wstring& text,
                                  DWORD argb, int font, UINT style) {
  if (text.empty() && !(style & DT_CALCRECT)) return;
  SetBkMode(hDC, TRANSPARENT);
  SetTextColor(hDC, ToColorRef(argb));
  HGDIOBJ old = SelectObject(hDC, pManager->GetFont(font));
  UINT flags = style | DT_NOPREFIX;
  const bool rtl = IsRightToLeftText(text);
  if (rtl && (style & DT_SINGLELINE)) {
    // One right-to-left line placed by its shaped width, so that centred
    // and right-aligned texts sit where the alignment puts them.
    int width = ShapedTextWidth(hDC, text);
    TEXTMETRICW tm{};
    GetTextMetricsW(hDC, &tm);
    if (style & DT_CALCRECT) {
      rc.right = rc.left + width;
      rc.bottom = rc.top + tm.tmHeight;
    } else {
      int x = rc.left;
      if (style & DT_CENTER) x = (rc.left + rc.right - width) / 2;
      else if (style & DT_RIGHT) x = rc.right - width;
      int y = rc.top;
      if (style & DT_VCENTER) y = (rc.top + rc.bottom - tm.tmHeight) / 2;
      else if (style & DT_BOTTOM) y = rc.bottom - tm.tmHeight;
      ExtTextOutW(hDC, x, y, ETO_CLIPPED, &rc, text.c_str(), static_cast<UINT>(text.size()), nullptr);
    }
    SelectObject(hDC, old);
    return;
  }
  if (rtl) flags |= DT_RTLREADING;
  ::DrawTextW(hDC, text.c_str(), -1, &rc, flags);
  SelectObject(hDC, old);
}

void CRenderEngine::DrawHtmlText(HDC hDC, CUIManager* pManager, RECT& rc, const std::wstring& text,
                                 DWORD argb, std::vector<MarkupLink>* links, size_t maxLinks,
                                 const std::vector<MarkupLink>* previousLinks, int font, UINT style) {
  GdiMarkupCanvas canvas(hDC, pManager, rc);
  std::vector<MarkupLink> mirroredPrevious;
  MarkupParams p;
  p.colours.text = argb;
  p.colours.link = pManager->GetDefaultLinkFontColor();
  p.colours.linkHover = pManager->GetDefaultLinkHoverFontColor();
  p.colours.selectedBk = pManager->GetDefaultSelectedBkColor();
  p.font = canvas.FontById(font);
  p.style = MarkupStyleFromDT(style);
  p.maxLinks = links ? maxLinks : 0;
  p.previousLinks = previousLinks;
  POINT pt = pManager->GetMousePos();
  p.hasMouse = pt.x >= 0;
  p.mouseX = pt.x;
  p.mouseY = pt.y;
  TextRect r{rc.left, rc.top, rc.right, rc.bottom};
  std::vector<MarkupLink> scratch;
  const bool rtl = IsRightToLeftText(text);
  if (rtl && !(style & DT_CALCRECT)) {
    // Mirrored drawing: left and right alignment swap, and the hover test
    // of the previous paint's links runs in the layout's own coordinates.
    canvas.SetMirror(true);
    if (p.style & kMarkup_Right) p.style &= ~kMarkup_Right;
    else if (!(p.style & kMarkup_Center)) p.style |= kMarkup_Right;
    p.mouseX = canvas.MirrorX(p.mouseX, 0);
    if (previousLinks) {
      mirroredPrevious.reserve(previousLinks->size());
      for (MarkupLink l : *previousLinks) {
        int left = canvas.MirrorX(l.rect.left, l.rect.Width());
        l.rect.right = left + l.rect.Width();
        l.rect.left = left;
        mirroredPrevious.push_back(l);
      }
      p.previousLinks = &mirroredPrevious;
    }
  }
  std::vector<MarkupLink>& out = links ? *links : scratch;
  DrawMarkupText(canvas, r, text, p, out);
  if (rtl && !(style & DT_CALCRECT)) {
    for (MarkupLink& l : out) {
      int left = canvas.MirrorX(l.rect.left, l.rect.Width());
      l.rect.right = left + l.rect.Width();
      l.rect.left = left;
    }
  }
  if (style & DT_CALCRECT) {
    rc.right = r.right;
    rc.bottom = r.bottom;
  }
}

SIZE CRenderEngine::GetTextSize(HDC hDC, CUIManager* pManager, const std::wstring& text, int font, UINT style) {
  SIZE size{0, 0};
  HGDIOBJ old = SelectObject(hDC, pManager->GetFont(font));
  GetTextExtentPoint32W(hDC, text.c_str(), static_cast<int>(text.size()), &size);
  if (IsRightToLeftText(text)) size.cx = ShapedTextWidth(hDC, text);
  SelectObject(hDC, old);
  return size;
}

}  // namespace SkinUI
