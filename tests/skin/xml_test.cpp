// The layout XML reader: the shapes the shipped skin uses, and malformed input.
#include <doctest/doctest.h>

#include <string>

#include "ui/markup_tree/XmlDocument.h"

using namespace SkinUI;

TEST_CASE("elements, attributes without blanks between them, text and comments") {
  CXmlDocument doc;
  REQUIRE(doc.LoadText(
      L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      L"<!-- \u6a2a\u5e45\u533a\u57df: a comment in Chinese -->\n"
      L"<Window size=\"650,360\">\n"
      L"  <Button textcolor=\"#00FFFFFF\"align=\"center\" borderround =\"2,2\" text=\"Install &gt;&gt;\"/>\n"
      L"  <Label>  a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos; &copy; &#65; &  </Label>\n"
      L"  <Empty></Empty >\n"
      L"</Window>"));
  CXmlElement root = doc.RootElement();
  REQUIRE(root);
  CHECK(root.GetName() == L"Window");
  CHECK(root.GetAttribute(L"size") == L"650,360");
  CXmlElement button = root.GetChild();
  REQUIRE(button);
  CHECK(button.GetName() == L"Button");
  REQUIRE(button.GetAttributeCount() == 4);
  CHECK(button.GetAttributeName(0) == L"textcolor");
  CHECK(button.GetAttributeValue(0) == L"#00FFFFFF");
  CHECK(button.GetAttributeName(1) == L"align");
  CHECK(button.GetAttributeName(2) == L"borderround");
  CHECK(button.GetAttributeValue(3) == L"Install >>");
  CHECK(button.GetParent().GetName() == L"Window");
  CXmlElement label = button.GetSibling();
  CHECK(label.GetValue() == L"  a & b <c> \"d\" 'e' &copy; &#65; &  ");
  CHECK(label.GetSibling().GetName() == L"Empty");
  CHECK_FALSE(label.GetSibling().GetSibling());
  CHECK(root.FindChild(L"Empty"));
  CHECK_FALSE(root.FindChild(L"empty"));
  CHECK_FALSE(button.HasAttribute(L"Align"));
}

TEST_CASE("malformed documents fail with their message and never crash") {
  struct Case {
    const wchar_t* text;
    const wchar_t* message;
  } cases[] = {
      {L"text before <a/>", L"Expected start tag"},
      {L"<>", L"Error parsing element name"},
      {L"< a/>", L"Error parsing element name"},
      {L"<a b=\"1\"", L"Expected start-tag closing"},
      {L"<a b=\"1\"?>", L"Expected start-tag closing"},
      {L"<a>text", L"Expected end-tag start"},
      {L"<a><b></b>", L"Expected end-tag start"},
      {L"<a><b>", L"Expected end-tag start"},
      {L"<a></b>", L"Unmatched closing tag"},
      {L"<a></a", L"Unmatched closing tag"},
      {L"</a>", L"Unmatched closing tag"},
      {L"<a b></a>", L"Error while parsing attributes"},
      {L"<a b='1'></a>", L"Expected attribute value"},
      {L"<a b=1></a>", L"Expected attribute value"},
      {L"<a b=\"1></a>", L"Error while parsing attribute string"},
      {L"<a><!-- never closed </a>", L"Unterminated comment or declaration"},
      {L"<?xml version=\"1.0\"", L"Unterminated comment or declaration"},
      {L"", L"No root element"},
      {L"  <!-- only a comment -->  ", L"No root element"},
      {L"<a>text<b/>more</a>", L"Expected start tag"},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.text, c.text + std::wcslen(c.text)));
    CXmlDocument doc;
    CHECK_FALSE(doc.LoadText(c.text));
    CHECK(doc.ErrorMessage() == c.message);
    CHECK_FALSE(doc.RootElement());
    CHECK(doc.ErrorPosition().size() <= 49);
  }
}

TEST_CASE("every prefix of a valid document either parses or fails cleanly") {
  const std::wstring text =
      L"<?xml version=\"1.0\"?><Window a=\"1\"><B c=\"&amp;\"><C/></B><!-- x --><D>t</D></Window>";
  for (std::size_t length = 0; length <= text.size(); ++length) {
    CXmlDocument doc;
    const bool ok = doc.LoadText(text.substr(0, length));
    CHECK(ok == (length == text.size()));
  }
}

TEST_CASE("nesting is bounded") {
  auto nested = [](int depth) {
    std::wstring text;
    for (int i = 0; i < depth; ++i) text += L"<a>";
    for (int i = 0; i < depth; ++i) text += L"</a>";
    return text;
  };
  CXmlDocument doc;
  CHECK(doc.LoadText(nested(200)));
  CHECK_FALSE(doc.LoadText(nested(100000)));
  CHECK(doc.ErrorMessage() == L"Nesting too deep");
  // Unclosed deep nesting ends the same way, without exhausting the stack.
  CHECK_FALSE(doc.LoadText(std::wstring(50000, L'<').replace(0, 0, L"<a>")));
}

TEST_CASE("at most 64 attributes are visible") {
  std::wstring text = L"<a";
  for (int i = 0; i < 70; ++i) text += L" n" + std::to_wstring(i) + L"=\"" + std::to_wstring(i) + L"\"";
  text += L"/>";
  CXmlDocument doc;
  REQUIRE(doc.LoadText(text));
  CHECK(doc.RootElement().GetAttributeCount() == 64);
  CHECK(doc.RootElement().GetAttribute(L"n63") == L"63");
  CHECK_FALSE(doc.RootElement().HasAttribute(L"n64"));
}

TEST_CASE("byte encodings: UTF-8 with and without mark, UTF-16 both orders") {
  const std::string utf8 = "<a t=\"\xC3\xA9\xE2\x82\xAC\"/>";
  CXmlDocument plain, marked, le, be;
  REQUIRE(plain.LoadBytes(utf8.data(), utf8.size(), kXmlEncoding_Utf8));
  const std::string withMark = "\xEF\xBB\xBF" + utf8;
  REQUIRE(marked.LoadBytes(withMark.data(), withMark.size(), kXmlEncoding_Utf8));
  CHECK(plain.RootElement().GetAttribute(L"t") == L"\u00e9\u20ac");
  CHECK(marked.RootElement().GetAttribute(L"t") == L"\u00e9\u20ac");

  std::string utf16le = "\xFF\xFE", utf16be = "\xFE\xFF";
  for (char16_t unit : std::u16string(u"<a t=\"\u00e9\"/>")) {
    utf16le.push_back(static_cast<char>(unit & 0xFF));
    utf16le.push_back(static_cast<char>(unit >> 8));
    utf16be.push_back(static_cast<char>(unit >> 8));
    utf16be.push_back(static_cast<char>(unit & 0xFF));
  }
  REQUIRE(le.LoadBytes(utf16le.data(), utf16le.size(), kXmlEncoding_Utf16));
  REQUIRE(be.LoadBytes(utf16be.data(), utf16be.size(), kXmlEncoding_Utf16));
  CHECK(le.RootElement().GetAttribute(L"t") == L"\u00e9");
  CHECK(be.RootElement().GetAttribute(L"t") == L"\u00e9");
  CHECK_FALSE(le.LoadBytes(utf8.data(), utf8.size(), kXmlEncoding_Utf16));
  // Invalid UTF-8 is replaced, not fatal.
  const std::string broken = "<a t=\"\xFF\xC3\"/>";
  CHECK(plain.LoadBytes(broken.data(), broken.size(), kXmlEncoding_Utf8));
}
