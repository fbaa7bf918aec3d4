#include "ui/markup_tree/XmlDocument.h"

#include <algorithm>

#include "system/Strings.h"
#include "system/SystemUtils.h"
#include "ui/archive/SkinResources.h"

namespace SkinUI {
namespace {

constexpr std::size_t kMaxTextLength = 16u << 20;
constexpr std::size_t kMaxMessageLength = 99;
constexpr std::size_t kMaxPositionLength = 49;

bool IsBlank(wchar_t c) { return static_cast<unsigned>(c) <= 32; }
bool IsNameChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'_' || c == L':' || static_cast<unsigned>(c) >= 0x80;
}

struct NamedEntity {
  const wchar_t* text;
  std::size_t length;
  wchar_t value;
};
const NamedEntity kEntities[] = {
    {L"&amp;", 5, L'&'}, {L"&lt;", 4, L'<'}, {L"&gt;", 4, L'>'},
    {L"&quot;", 6, L'"'}, {L"&apos;", 6, L'\''},
};

}  // namespace

// ---- element handles ----

std::wstring CXmlElement::GetName() const {
  return IsValid() ? doc_->Text(doc_->elements_[index_].name) : std::wstring();
}
std::wstring CXmlElement::GetValue() const {
  return IsValid() ? doc_->Text(doc_->elements_[index_].text) : std::wstring();
}
CXmlElement CXmlElement::GetParent() const {
  return IsValid() ? CXmlElement(doc_, doc_->elements_[index_].parent) : CXmlElement();
}
CXmlElement CXmlElement::GetChild() const {
  return IsValid() ? CXmlElement(doc_, doc_->elements_[index_].child) : CXmlElement();
}
CXmlElement CXmlElement::GetSibling() const {
  return IsValid() ? CXmlElement(doc_, doc_->elements_[index_].sibling) : CXmlElement();
}
CXmlElement CXmlElement::FindChild(const std::wstring& name) const {
  for (CXmlElement child = GetChild(); child; child = child.GetSibling())
    if (child.GetName() == name) return child;
  return CXmlElement();
}
std::size_t CXmlElement::GetAttributeCount() const {
  return IsValid() ? doc_->elements_[index_].attributeCount : 0;
}
std::wstring CXmlElement::GetAttributeName(std::size_t index) const {
  if (index >= GetAttributeCount()) return std::wstring();
  return doc_->Text(doc_->attributes_[doc_->elements_[index_].firstAttribute + index].name);
}
std::wstring CXmlElement::GetAttributeValue(std::size_t index) const {
  if (index >= GetAttributeCount()) return std::wstring();
  return doc_->Text(doc_->attributes_[doc_->elements_[index_].firstAttribute + index].value);
}
bool CXmlElement::GetAttributeValue(const std::wstring& name, std::wstring& value) const {
  for (std::size_t i = 0; i < GetAttributeCount(); ++i) {
    if (GetAttributeName(i) == name) {
      value = GetAttributeValue(i);
      return true;
    }
  }
  return false;
}
std::wstring CXmlElement::GetAttribute(const std::wstring& name) const {
  std::wstring value;
  GetAttributeValue(name, value);
  return value;
}
bool CXmlElement::HasAttribute(const std::wstring& name) const {
  std::wstring value;
  return GetAttributeValue(name, value);
}

// ---- loading ----

void CXmlDocument::Reset() {
  text_.clear();
  elements_.clear();
  attributes_.clear();
  errorMessage_.clear();
  errorPosition_.clear();
}

bool CXmlDocument::LoadText(const std::wstring& text) {
  Reset();
  if (text.size() > kMaxTextLength) return Fail(L"File too large", 0);
  text_ = text;
  return Parse();
}

bool CXmlDocument::LoadBytes(const void* bytes, std::size_t length, int encoding) {
  Reset();
  const auto* p = static_cast<const unsigned char*>(bytes);
  if (!p) length = 0;
  if (length > kMaxTextLength * 2) return Fail(L"File too large", 0);
  std::wstring text;
  switch (encoding) {
    case kXmlEncoding_Utf8:
      if (length >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        length -= 3;
      }
      text = Utf8ToWide(std::string(reinterpret_cast<const char*>(p), length));
      break;
    case kXmlEncoding_Utf16: {
      if (length < 2 || !((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)))
        return Fail(L"Expected a UTF-16 byte-order mark", 0);
      std::string units(reinterpret_cast<const char*>(p + 2), length - 2);
      if (p[0] == 0xFE)
        for (std::size_t i = 0; i + 1 < units.size(); i += 2) std::swap(units[i], units[i + 1]);
      text = Utf16LeToWide(units);
      break;
    }
    case kXmlEncoding_Ansi:
      text = AnsiToUnicode(std::string(reinterpret_cast<const char*>(p), length));
      break;
    default:
      return Fail(L"Unknown encoding", 0);
  }
  return LoadText(text);
}

bool CXmlDocument::LoadFile(const std::wstring& name, int encoding) {
  Reset();
  std::string bytes;
  std::wstring error;
  if (!LoadSkinFile(name, bytes, error)) {
    errorMessage_ = error;
    errorPosition_ = name.substr(0, kMaxPositionLength);
    return false;
  }
  return LoadBytes(bytes.data(), bytes.size(), encoding);
}

CXmlElement CXmlDocument::RootElement() const {
  return IsValid() ? CXmlElement(this, 1) : CXmlElement();
}

bool CXmlDocument::Fail(const wchar_t* message, std::size_t pos) {
  errorMessage_ = std::wstring(message).substr(0, kMaxMessageLength);
  errorPosition_ = pos < text_.size() ? text_.substr(pos, kMaxPositionLength) : std::wstring();
  elements_.clear();
  attributes_.clear();
  return false;
}

// ---- parsing ----

bool CXmlDocument::Parse() {
  elements_.assign(1, Element());  // index 0: no element
  std::size_t pos = 0;
  if (!ParseLevel(pos, 0, 0)) return false;
  if (elements_.size() < 2) return Fail(L"No root element", 0);
  return true;
}

// Decodes the five named entities of [begin, end) in place; the text only
// shrinks, so the decoded form fits where the written one was.
CXmlDocument::Span CXmlDocument::DecodeInPlace(std::size_t begin, std::size_t end) {
  std::size_t out = begin;
  for (std::size_t in = begin; in < end;) {
    wchar_t c = text_[in];
    if (c == L'&') {
      bool decoded = false;
      for (const NamedEntity& entity : kEntities) {
        if (end - in >= entity.length && text_.compare(in, entity.length, entity.text) == 0) {
          text_[out++] = entity.value;
          in += entity.length;
          decoded = true;
          break;
        }
      }
      if (decoded) continue;
    }
    text_[out++] = c;
    ++in;
  }
  return Span{static_cast<uint32_t>(begin), static_cast<uint32_t>(out - begin)};
}

bool CXmlDocument::SkipMarkup(std::size_t& pos) {
  // "<!" runs to the next "->", "<?" to the next "?>".
  const wchar_t* terminator = text_[pos + 1] == L'!' ? L"->" : L"?>";
  std::size_t end = text_.find(terminator, pos + 2);
  if (end == std::wstring::npos) return Fail(L"Unterminated comment or declaration", pos);
  pos = end + 2;
  return true;
}

bool CXmlDocument::ParseAttributes(std::size_t& pos, Element& element) {
  const std::size_t size = text_.size();
  element.firstAttribute = static_cast<uint32_t>(attributes_.size());
  for (;;) {
    while (pos < size && IsBlank(text_[pos])) ++pos;
    if (pos >= size || !IsNameChar(text_[pos])) return true;
    Attribute attribute;
    const std::size_t nameStart = pos;
    while (pos < size && IsNameChar(text_[pos])) ++pos;
    attribute.name = Span{static_cast<uint32_t>(nameStart), static_cast<uint32_t>(pos - nameStart)};
    while (pos < size && IsBlank(text_[pos])) ++pos;
    if (pos >= size || text_[pos] != L'=') return Fail(L"Error while parsing attributes", pos);
    ++pos;
    while (pos < size && IsBlank(text_[pos])) ++pos;
    if (pos >= size || text_[pos] != L'"') return Fail(L"Expected attribute value", pos);
    const std::size_t valueStart = ++pos;
    const std::size_t valueEnd = text_.find(L'"', valueStart);
    if (valueEnd == std::wstring::npos)
      return Fail(L"Error while parsing attribute string", valueStart);
    attribute.value = DecodeInPlace(valueStart, valueEnd);
    pos = valueEnd + 1;
    if (element.attributeCount < kMaxAttributes) {
      attributes_.push_back(attribute);
      ++element.attributeCount;
    }
  }
}

bool CXmlDocument::ParseLevel(std::size_t& pos, uint32_t parent, int depth) {
  if (depth > kMaxDepth) return Fail(L"Nesting too deep", pos);
  const std::size_t size = text_.size();
  uint32_t previous = 0;
  for (;;) {
    while (pos < size && IsBlank(text_[pos])) ++pos;
    if (pos >= size) {
      if (parent == 0) return true;
      return Fail(L"Expected end-tag start", pos);
    }
    if (text_[pos] != L'<') return Fail(L"Expected start tag", pos);
    if (pos + 1 < size && text_[pos + 1] == L'/') {
      if (parent == 0) return Fail(L"Unmatched closing tag", pos);
      return true;  // the caller reads the closing tag
    }
    if (pos + 1 < size && (text_[pos + 1] == L'!' || text_[pos + 1] == L'?')) {
      if (!SkipMarkup(pos)) return false;
      continue;
    }

    const uint32_t index = static_cast<uint32_t>(elements_.size());
    elements_.push_back(Element());
    elements_[index].parent = parent;
    if (previous != 0)
      elements_[previous].sibling = index;
    else if (parent != 0)
      elements_[parent].child = index;
    previous = index;

    ++pos;
    const std::size_t nameStart = pos;
    while (pos < size && IsNameChar(text_[pos])) ++pos;
    if (pos == nameStart) return Fail(L"Error parsing element name", nameStart);
    const Span name{static_cast<uint32_t>(nameStart), static_cast<uint32_t>(pos - nameStart)};
    elements_[index].name = name;

    Element element = elements_[index];
    if (!ParseAttributes(pos, element)) return false;
    elements_[index].firstAttribute = element.firstAttribute;
    elements_[index].attributeCount = element.attributeCount;

    if (pos + 1 < size && text_[pos] == L'/' && text_[pos + 1] == L'>') {
      pos += 2;
      continue;
    }
    if (pos >= size || text_[pos] != L'>') return Fail(L"Expected start-tag closing", pos);
    ++pos;

    const std::size_t textStart = pos;
    const std::size_t textEnd = text_.find(L'<', pos);
    if (textEnd == std::wstring::npos) return Fail(L"Expected end-tag start", pos);
    elements_[index].text = DecodeInPlace(textStart, textEnd);
    pos = textEnd;
    if (pos + 1 >= size || text_[pos + 1] != L'/') {
      if (!ParseLevel(pos, index, depth + 1)) return false;
    }
    // At "</": the closing name must be the element's, then ">".
    pos += 2;
    if (size - pos < name.length || text_.compare(pos, name.length, text_, name.offset,
                                                  name.length) != 0)
      return Fail(L"Unmatched closing tag", pos);
    pos += name.length;
    while (pos < size && IsBlank(text_[pos])) ++pos;
    if (pos >= size || text_[pos] != L'>') return Fail(L"Unmatched closing tag", pos);
    ++pos;
  }
}

}  // namespace SkinUI
