#include "ui/markup/Markup.h"

#include <algorithm>
#include <climits>

namespace SkinUI {

namespace {

constexpr int kMarkupNumberLimit = 1000000;
// Stacks deeper than this stop growing: a hostile text of thousands of
// opening tags costs no more than a well-formed one.
constexpr size_t kMaxStackDepth = 64;

bool IsLower(wchar_t c) { return c >= L'a' && c <= L'z'; }
bool IsTagEnd(wchar_t c) { return c == L'}' || c == L'>'; }
bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

size_t FindTagEnd(const std::wstring& s, size_t from) {
  for (size_t i = from; i < s.size(); ++i) {
    if (IsTagEnd(s[i])) return i;
  }
  return s.size();
}

// Literal character of an escape at i ("<{>", "<}>", "{<}", "{>}"), or 0.
wchar_t EscapeAt(const std::wstring& s, size_t i) {
  if (i + 2 >= s.size()) return 0;
  wchar_t a = s[i], b = s[i + 1], c = s[i + 2];
  if (a == L'<' && (b == L'{' || b == L'}') && c == L'>') return b;
  if (a == L'{' && (b == L'<' || b == L'>') && c == L'}') return b;
  return 0;
}

std::wstring Lower(std::wstring s) {
  for (auto& c : s) {
    if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
  }
  return s;
}

}  // namespace

std::vector<MarkupToken> TokenizeMarkup(const std::wstring& s) {
  std::vector<MarkupToken> tokens;
  std::wstring run;
  auto flush = [&] {
    if (!run.empty()) {
      MarkupToken t;
      t.text.swap(run);
      tokens.push_back(std::move(t));
    }
  };
  bool raw = false;
  size_t i = 0;
  while (i < s.size()) {
    wchar_t c = s[i];
    if (c == L'\n') {
      flush();
      MarkupToken t;
      t.kind = MarkupToken::kNewline;
      tokens.push_back(t);
      ++i;
      continue;
    }
    if (c == L'{' || c == L'<') {
      bool closing = i + 2 < s.size() && s[i + 1] == L'/' && IsLower(s[i + 2]);
      if (raw) {
        if (closing && s[i + 2] == L'r') {
          raw = false;
          i = FindTagEnd(s, i + 3) + 1;
          continue;
        }
      } else if (wchar_t lit = EscapeAt(s, i)) {
        run += lit;
        i += 3;
        continue;
      } else if (closing) {
        flush();
        MarkupToken t;
        t.kind = MarkupToken::kClose;
        t.tag = s[i + 2];
        tokens.push_back(t);
        i = FindTagEnd(s, i + 3) + 1;
        continue;
      } else if (i + 2 < s.size() && IsLower(s[i + 1]) &&
                 (s[i + 2] == L' ' || IsTagEnd(s[i + 2]))) {
        flush();
        MarkupToken t;
        t.kind = MarkupToken::kOpen;
        t.tag = s[i + 1];
        size_t end = i + 2;
        if (s[i + 2] == L' ') {
          end = FindTagEnd(s, i + 3);
          t.text = s.substr(i + 3, end - (i + 3));
          t.hasArgument = !t.text.empty();
        }
        i = end + 1;
        if (t.tag == L'r') {
          raw = true;
        } else {
          tokens.push_back(std::move(t));
        }
        continue;
      }
    }
    run += c;
    ++i;
  }
  flush();
  return tokens;
}

bool ParseMarkupInt(const std::wstring& s, size_t& pos, int& value) {
  while (pos < s.size() && s[pos] == L' ') ++pos;
  bool negative = false;
  if (pos < s.size() && (s[pos] == L'-' || s[pos] == L'+')) {
    negative = s[pos] == L'-';
    ++pos;
  }
  long long v = 0;
  bool any = false;
  while (pos < s.size() && s[pos] >= L'0' && s[pos] <= L'9') {
    any = true;
    if (v <= kMarkupNumberLimit) v = v * 10 + (s[pos] - L'0');
    ++pos;
  }
  if (v > kMarkupNumberLimit) v = kMarkupNumberLimit;
  value = any ? static_cast<int>(negative ? -v : v) : 0;
  return any;
}

bool ParseMarkupColour(const std::wstring& arg, uint32_t& argb) {
  size_t i = 0;
  while (i < arg.size() && arg[i] == L' ') ++i;
  if (i < arg.size() && arg[i] == L'#') ++i;
  uint32_t v = 0;
  int digits = 0;
  for (; i < arg.size() && digits < 8; ++i, ++digits) {
    wchar_t c = arg[i];
    uint32_t d;
    if (c >= L'0' && c <= L'9') d = c - L'0';
    else if (c >= L'a' && c <= L'f') d = c - L'a' + 10;
    else if (c >= L'A' && c <= L'F') d = c - L'A' + 10;
    else break;
    v = (v << 4) | d;
  }
  if (digits == 0) return false;
  argb = v;
  return true;
}

MarkupFontSpec ParseMarkupFont(const std::wstring& arg) {
  MarkupFontSpec spec;
  size_t pos = 0;
  int id = 0;
  size_t probe = 0;
  if (ParseMarkupInt(arg, probe, id)) {
    // A number alone (trailing blanks allowed) is a font id.
    size_t rest = probe;
    while (rest < arg.size() && arg[rest] == L' ') ++rest;
    if (rest == arg.size()) {
      spec.byId = true;
      spec.id = id;
      return spec;
    }
  }
  // Face name: everything up to the first number after a blank, or up to a
  // style word.
  std::vector<std::wstring> words;
  std::wstring word;
  for (wchar_t c : arg) {
    if (c == L' ') {
      if (!word.empty()) words.push_back(word), word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  bool faceDone = false;
  for (const auto& w : words) {
    std::wstring lw = Lower(w);
    if (lw == L"bold") { spec.bold = true; faceDone = true; continue; }
    if (lw == L"underline") { spec.underline = true; faceDone = true; continue; }
    if (lw == L"italic") { spec.italic = true; faceDone = true; continue; }
    pos = 0;
    int n = 0;
    if (!spec.face.empty() && ParseMarkupInt(w, pos, n) && pos == w.size()) {
      spec.size = std::clamp(n, 1, 500);
      faceDone = true;
      continue;
    }
    if (!faceDone) {
      if (!spec.face.empty()) spec.face += L' ';
      spec.face += w;
    }
  }
  if (spec.face.size() > 31) spec.face.resize(31);
  return spec;
}

MarkupImageSpec ParseMarkupImage(const std::wstring& arg) {
  MarkupImageSpec spec;
  // A description with quoted values may contain blanks: the image part ends
  // after the last closing quote, otherwise at the first blank.
  size_t end;
  size_t lastQuote = arg.rfind(L'\'');
  if (lastQuote != std::wstring::npos) {
    end = lastQuote + 1;
  } else {
    end = arg.find(L' ');
    if (end == std::wstring::npos) end = arg.size();
  }
  spec.image = arg.substr(0, end);
  size_t pos = end;
  int frames = 1, index = 0;
  if (ParseMarkupInt(arg, pos, frames)) {
    spec.frames = std::max(1, frames);
    if (ParseMarkupInt(arg, pos, index)) spec.index = index;
  }
  if (spec.index < 0 || spec.index >= spec.frames) spec.index = 0;
  return spec;
}

// ---------------------------------------------------------------------------
// Line layout.

namespace {

enum VAlign { kV_Bottom = 0, kV_Center = 1, kV_Top = 2 };

template <typename T>
void Push(std::vector<T>& stack, T value) {
  if (stack.size() < kMaxStackDepth) stack.push_back(value);
  else stack.back() = value;
}
template <typename T>
void Pop(std::vector<T>& stack) {
  if (stack.size() > 1) stack.pop_back();
}

struct DrawState {
  std::vector<int> fonts;
  std::vector<uint32_t> colours;
  std::vector<int> spacing;
  std::vector<int> valign;
  bool selected = false;
  bool inLink = false;
  std::wstring linkText;
  uint32_t linkColour = 0;
};

struct Cursor {
  size_t token = 0;
  size_t offset = 0;  // characters of a text token already drawn
  bool operator==(const Cursor& o) const { return token == o.token && offset == o.offset; }
};

struct LineResult {
  int width = 0;
  int height = 0;
  bool stop = false;  // end ellipsis drawn: nothing more to lay out
};

class Layouter {
 public:
  Layouter(IMarkupCanvas& canvas, const TextRect& rect, const std::vector<MarkupToken>& tokens,
           const MarkupParams& params, std::vector<MarkupLink>& links)
      : canvas_(canvas), rect_(rect), tokens_(tokens), params_(params), links_(links) {}

  DrawState InitialState() const {
    DrawState st;
    st.fonts.push_back(params_.font);
    st.colours.push_back(params_.colours.text);
    st.spacing.push_back(0);
    st.valign.push_back(kV_Bottom);
    return st;
  }

  // Lays all lines out from the top; returns the block's width and height.
  void Run(bool draw, int yOffset, int& maxWidth, int& totalHeight) {
    DrawState st = InitialState();
    Cursor cur;
    int y = rect_.top + yOffset;
    maxWidth = 0;
    totalHeight = 0;
    const bool single = (params_.style & kMarkup_SingleLine) != 0;
    while (cur.token < tokens_.size()) {
      // Measuring pass from a saved state, then the drawing pass.
      DrawState saved = st;
      Cursor start = cur;
      LineResult m = Line(st, cur, y, rect_.left, 0, false);
      int xStart = rect_.left;
      if (params_.style & kMarkup_Center) xStart += (rect_.Width() - m.width) / 2;
      else if (params_.style & kMarkup_Right) xStart += rect_.Width() - m.width;
      if (draw) {
        st = saved;
        cur = start;
        m = Line(st, cur, y, xStart, m.height, true);
      }
      if (cur == start) {  // nothing consumed: step over the token
        ++cur.token;
        cur.offset = 0;
      }
      maxWidth = std::max(maxWidth, m.width);
      totalHeight += m.height;
      y += m.height;
      if (m.stop || single || y >= rect_.bottom) break;
    }
  }

 private:
  MarkupFontMetrics FontMetrics(int font) { return canvas_.Metrics(font); }
  int FontLineHeight(const DrawState& st) {
    MarkupFontMetrics fm = FontMetrics(st.fonts.back());
    return fm.height + fm.externalLeading + st.spacing.back();
  }

  int TextY(const DrawState& st, int lineTop, int lineHeight) {
    MarkupFontMetrics fm = FontMetrics(st.fonts.back());
    switch (st.valign.back()) {
      case kV_Top: return lineTop;
      case kV_Center: return lineTop + (lineHeight - fm.height) / 2;
      default: return lineTop + lineHeight - fm.height - fm.externalLeading;
    }
  }

  void CloseLinkPart(DrawState& st, int partStart, int x, int lineTop, int lineHeight, bool draw) {
    if (!draw) return;
    if (links_.size() < params_.maxLinks) {
      MarkupLink link;
      link.rect = {partStart, lineTop, x, lineTop + lineHeight};
      link.text = st.linkText;
      links_.push_back(link);
    } else {
      overflowLinks_++;
    }
  }

  bool MouseOverSlot(size_t slot) const {
    if (!params_.hasMouse || !params_.previousLinks || slot >= params_.previousLinks->size()) return false;
    return (*params_.previousLinks)[slot].rect.Contains(params_.mouseX, params_.mouseY);
  }

  // One line from `cur`. lineHeight is 0 in the measuring pass.
  LineResult Line(DrawState& st, Cursor& cur, int lineTop, int xStart, int lineHeight, bool draw) {
    LineResult r;
    const unsigned style = params_.style;
    int x = xStart;
    int h = FontLineHeight(st);
    bool atStart = true;
    int linkPart = x;
    const int lh = lineHeight;
    // Break decisions are taken against the line's own start so that the
    // measuring pass and the aligned drawing pass break at the same places.
    const int right = xStart + rect_.Width();
    auto effH = [&] { return draw ? lh : h; };
    while (cur.token < tokens_.size()) {
      const MarkupToken& t = tokens_[cur.token];
      if (t.kind == MarkupToken::kNewline) {
        ++cur.token;
        cur.offset = 0;
        break;
      }
      if (t.kind == MarkupToken::kText) {
        std::wstring run = t.text.substr(cur.offset);
        int font = st.fonts.back();
        std::vector<int> w;
        canvas_.Extents(font, run, w);
        h = std::max(h, FontLineHeight(st));
        int avail = right - x;
        int total = w.empty() ? 0 : w.back();
        size_t n = run.size();
        bool cut = false, ellipsis = false;
        if (total > avail) {
          cut = true;
          n = 0;
          while (n < run.size() && w[n] <= avail) ++n;
          if (style & kMarkup_WordBreak) {
            for (size_t k = n; k > 0; --k) {
              wchar_t c = run[k - 1];
              if (c == L' ' || !IsAsciiLetter(c)) {
                n = k;
                break;
              }
            }
          }
          if (style & kMarkup_EndEllipsis) {
            ellipsis = true;
            n = n > 2 ? n - 2 : 0;
          }
          if (n == 0 && atStart && !ellipsis) n = 1;  // always make progress
        }
        if (n > 0 || ellipsis) {
          std::wstring part = run.substr(0, n);
          int pw = n > 0 ? w[n - 1] : 0;
          if (ellipsis) {
            part += L"...";
            std::vector<int> ew;
            canvas_.Extents(font, part, ew);
            pw = ew.empty() ? 0 : ew.back();
          }
          if (draw) {
            if (st.selected) canvas_.FillRect({x, lineTop, x + pw, lineTop + lh}, params_.colours.selectedBk);
            canvas_.DrawText(font, st.colours.back(), x, TextY(st, lineTop, lh), part);
          }
          x += pw;
          atStart = false;
        }
        if (!cut) {
          ++cur.token;
          cur.offset = 0;
          continue;
        }
        cur.offset += n;
        if (cur.offset >= t.text.size()) {
          ++cur.token;
          cur.offset = 0;
        }
        r.stop = ellipsis;
        break;
      }
      if (t.kind == MarkupToken::kClose) {
        switch (t.tag) {
          case L'a':
            if (st.inLink) {
              CloseLinkPart(st, linkPart, x, lineTop, effH(), draw);
              st.inLink = false;
              Pop(st.colours);
              Pop(st.fonts);
            }
            break;
          case L'b': case L'f': case L'i': case L'u': Pop(st.fonts); break;
          case L'c': Pop(st.colours); break;
          case L'p':
            if (!atStart) goto end_line;  // the tag is handled on the next line
            Pop(st.spacing);
            h = FontLineHeight(st);  // nothing drawn on this line yet
            break;
          case L's': st.selected = false; break;
          case L'v': Pop(st.valign); break;
          default: break;
        }
        ++cur.token;
        continue;
      }
      // Opening tags.
      switch (t.tag) {
        case L'a': {
          if (st.inLink) break;  // nested links are not links of their own
          st.inLink = true;
          st.linkText = t.text;
          size_t slot = links_.size();
          Push(st.colours, MouseOverSlot(slot) ? params_.colours.linkHover : params_.colours.link);
          Push(st.fonts, canvas_.DeriveFont(st.fonts.back(), kFont_Underline));
          linkPart = x;
          break;
        }
        case L'b': Push(st.fonts, canvas_.DeriveFont(st.fonts.back(), kFont_Bold)); break;
        case L'u': Push(st.fonts, canvas_.DeriveFont(st.fonts.back(), kFont_Underline)); break;
        case L'c': {
          uint32_t c = st.colours.back();
          ParseMarkupColour(t.text, c);
          Push(st.colours, c);
          break;
        }
        case L'f': {
          MarkupFontSpec spec = ParseMarkupFont(t.text);
          int f = spec.byId ? canvas_.FontById(spec.id)
                            : (spec.face.empty() ? st.fonts.back() : canvas_.FontFromSpec(spec));
          Push(st.fonts, f);
          break;
        }
        case L'i': {
          if (!t.hasArgument) {
            Push(st.fonts, canvas_.DeriveFont(st.fonts.back(), kFont_Italic));
            break;
          }
          MarkupImageSpec img = ParseMarkupImage(t.text);
          int cx = 0, cy = 0;
          if (!canvas_.ImageSize(img.image, cx, cy) || cx <= 0 || cy <= 0) break;
          int fw = cx / img.frames;
          if (fw <= 0) break;
          if (x + fw > right && !atStart) goto end_line;
          h = std::max(h, cy);
          if (draw) {
            TextRect src{img.index * fw, 0, (img.index + 1) * fw, cy};
            int top = lineTop + lh - cy;
            if (st.valign.back() == kV_Top) top = lineTop;
            else if (st.valign.back() == kV_Center) top = lineTop + (lh - cy) / 2;
            canvas_.DrawImage(img.image, src, {x, top, x + fw, top + cy});
          }
          x += fw;
          atStart = false;
          break;
        }
        case L'n':
          if (style & kMarkup_SingleLine) break;
          ++cur.token;
          goto end_line;
        case L'p': {
          if (!atStart) goto end_line;
          size_t pos = 0;
          int sp = 0;
          ParseMarkupInt(t.text, pos, sp);
          Push(st.spacing, std::clamp(sp, 0, 10000));
          h = std::max(h, FontLineHeight(st));
          break;
        }
        case L's': st.selected = true; break;
        case L'v': {
          std::wstring a = Lower(t.text);
          Push(st.valign, a == L"center" ? int(kV_Center) : a == L"top" ? int(kV_Top) : int(kV_Bottom));
          break;
        }
        case L'x': {
          size_t pos = 0;
          int dx = 0;
          ParseMarkupInt(t.text, pos, dx);
          x = std::min(x + std::clamp(dx, 0, 100000), right + 1);
          break;
        }
        case L'y': {
          size_t pos = 0;
          int dy = 0;
          ParseMarkupInt(t.text, pos, dy);
          h = std::clamp(dy, 0, 100000);
          break;
        }
        default: break;  // unknown tag: skipped
      }
      ++cur.token;
    }
  end_line:
    if (st.inLink) {
      // A link that goes on past the line: record this part; the next line
      // starts a new part with the same text.
      CloseLinkPart(st, linkPart, x, lineTop, effH(), draw);
      linkPart = xStart;
    }
    r.width = x - xStart;
    r.height = draw ? lh : h;
    return r;
  }

  IMarkupCanvas& canvas_;
  TextRect rect_;
  const std::vector<MarkupToken>& tokens_;
  const MarkupParams& params_;
  std::vector<MarkupLink>& links_;
  size_t overflowLinks_ = 0;
};

}  // namespace

void DrawMarkupText(IMarkupCanvas& canvas, TextRect& rect, const std::wstring& text,
                    const MarkupParams& params, std::vector<MarkupLink>& links) {
  links.clear();
  std::vector<MarkupToken> tokens = TokenizeMarkup(text);
  std::vector<MarkupLink> scratch;
  if (params.style & kMarkup_CalcRect) {
    Layouter l(canvas, rect, tokens, params, scratch);
    int w = 0, h = 0;
    l.Run(false, 0, w, h);
    rect.right = rect.left + w;
    rect.bottom = rect.top + h;
    return;
  }
  int yOffset = 0;
  if (params.style & (kMarkup_VCenter | kMarkup_Bottom)) {
    TextRect tall = rect;
    tall.bottom = INT_MAX / 2;
    Layouter m(canvas, tall, tokens, params, scratch);
    int w = 0, h = 0;
    m.Run(false, 0, w, h);
    yOffset = (params.style & kMarkup_VCenter) ? (rect.Height() - h) / 2 : rect.Height() - h;
  }
  Layouter d(canvas, rect, tokens, params, links);
  int w = 0, h = 0;
  d.Run(true, yOffset, w, h);
}

std::wstring MarkupPlainText(const std::wstring& text) {
  std::wstring plain;
  for (const MarkupToken& token : TokenizeMarkup(text)) {
    if (token.kind == MarkupToken::kText) plain += token.text;
    else if (token.kind == MarkupToken::kNewline || (token.kind == MarkupToken::kOpen && token.tag == L'n'))
      plain += L' ';
  }
  return plain;
}

}  // namespace SkinUI
