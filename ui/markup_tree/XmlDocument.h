// The layout files' small XML reader. A document is parsed into an array of
// element records (index 0 is no element, index 1 the root) that refer into
// the document's own UTF-16 text. It reads elements, attributes in double
// quotes and text; it skips comments, declarations and processing
// instructions; it decodes &amp; &lt; &gt; &quot; &apos; and leaves any other
// "&" as written. Input of any shape ends in success or in a stored error
// message with the text at the error position, never in a crash: nesting is
// bounded and an element left open at the end of the text is an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace SkinUI {

class CXmlDocument;

// A light handle to one element of a document; invalid when default made.
class CXmlElement {
 public:
  CXmlElement() = default;
  bool IsValid() const { return doc_ != nullptr && index_ != 0; }
  explicit operator bool() const { return IsValid(); }

  std::wstring GetName() const;
  std::wstring GetValue() const;  // the element's text, entities decoded
  CXmlElement GetParent() const;
  CXmlElement GetChild() const;    // first child
  CXmlElement GetSibling() const;  // next sibling
  CXmlElement FindChild(const std::wstring& name) const;

  // At most kMaxAttributes attributes are visible, in document order.
  std::size_t GetAttributeCount() const;
  std::wstring GetAttributeName(std::size_t index) const;
  std::wstring GetAttributeValue(std::size_t index) const;
  // Case-sensitive lookup by name; false when the element has no such attribute.
  bool GetAttributeValue(const std::wstring& name, std::wstring& value) const;
  std::wstring GetAttribute(const std::wstring& name) const;
  bool HasAttribute(const std::wstring& name) const;

 private:
  friend class CXmlDocument;
  CXmlElement(const CXmlDocument* doc, uint32_t index) : doc_(doc), index_(index) {}
  const CXmlDocument* doc_ = nullptr;
  uint32_t index_ = 0;
};

enum XmlEncoding {
  kXmlEncoding_Utf8 = 0,   // an optional byte-order mark EF BB BF is skipped
  kXmlEncoding_Utf16 = 1,  // requires a byte-order mark, FF FE or FE FF
  kXmlEncoding_Ansi = 2,
};

class CXmlDocument {
 public:
  static constexpr std::size_t kMaxAttributes = 64;
  static constexpr int kMaxDepth = 256;

  bool LoadText(const std::wstring& text);
  bool LoadBytes(const void* bytes, std::size_t length, int encoding = kXmlEncoding_Utf8);
  // A skin file by name (see SkinResources.h).
  bool LoadFile(const std::wstring& name, int encoding = kXmlEncoding_Utf8);

  CXmlElement RootElement() const;
  bool IsValid() const { return elements_.size() > 1; }

  const std::wstring& ErrorMessage() const { return errorMessage_; }
  const std::wstring& ErrorPosition() const { return errorPosition_; }

 private:
  friend class CXmlElement;
  struct Span {
    uint32_t offset = 0;
    uint32_t length = 0;
  };
  struct Attribute {
    Span name;
    Span value;
  };
  struct Element {
    Span name;
    Span text;
    uint32_t parent = 0;
    uint32_t child = 0;
    uint32_t sibling = 0;
    uint32_t firstAttribute = 0;
    uint32_t attributeCount = 0;
  };

  void Reset();
  bool Parse();
  bool ParseLevel(std::size_t& pos, uint32_t parent, int depth);
  bool ParseAttributes(std::size_t& pos, Element& element);
  bool SkipMarkup(std::size_t& pos);
  Span DecodeInPlace(std::size_t begin, std::size_t end);
  bool Fail(const wchar_t* message, std::size_t pos);
  std::wstring Text(Span span) const { return text_.substr(span.offset, span.length); }

  std::wstring text_;
  std::vector<Element> elements_;
  std::vector<Attribute> attributes_;
  std::wstring errorMessage_;
  std::wstring errorPosition_;
};

}  // namespace SkinUI
