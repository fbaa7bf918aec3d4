// The layout builder: loads a layout (skin file, markup text or numeric
// resource), resolves its "Include" elements and hands back a described
// control tree: each element's class name, its attributes in document order
// and its children. The toolkit's control factory turns the tree into
// controls (and skips class names it does not know, with their subtrees);
// the manager-level elements ("Font", "Image", "Default", "MultiLanguage")
// and the root window's attributes are collected beside the tree.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/markup_tree/MarkupValues.h"
#include "ui/markup_tree/XmlDocument.h"

namespace SkinUI {

struct MarkupNode {
  std::wstring className;       // element name, e.g. "Button"
  MarkupAttributes attributes;  // document order, at most 64
  std::vector<MarkupNode> children;

  // First attribute of that name (case-sensitive), or null.
  const std::wstring* FindAttribute(const std::wstring& name) const;
  std::wstring Attribute(const std::wstring& name) const;
};

struct FontDescription {
  int id = 0;
  std::wstring name;  // face name, at most 31 characters
  int size = 12;
  bool bold = false;
  bool underline = false;
  bool italic = false;
  bool isDefault = false;
  bool shared = false;
};

struct ImageDeclaration {
  std::wstring name;
  std::wstring resType;
  bool hasMask = false;
  uint32_t mask = 0;
  bool shared = false;
};

struct DefaultAttributes {
  std::wstring className;       // the element name the defaults apply to
  MarkupAttributes attributes;  // parsed from the "value" list
  bool shared = false;
};

struct DescribedLayout {
  std::wstring rootName;            // "Window" for a window layout
  MarkupAttributes windowAttributes;  // the root's and every included root's, in order
  std::vector<FontDescription> fonts;
  std::vector<ImageDeclaration> images;
  std::vector<DefaultAttributes> defaults;
  std::map<int, std::wstring> languageTexts;  // %{N} tokens
  std::vector<MarkupNode> controls;           // the top-level controls

  // Default attributes registered for a class name (last registration wins), or null.
  const MarkupAttributes* DefaultsFor(const std::wstring& className) const;
};

class CDialogBuilder {
 public:
  static constexpr int kMaxIncludeDepth = 8;
  static constexpr int kMaxIncludeCount = 100;
  static constexpr std::size_t kMaxNodes = 20000;

  // `source`: a skin file name; markup text when it begins with "<"; with a
  // non-empty `resourceType`, a numeric resource id of that type. False when
  // the layout cannot be loaded or parsed (ErrorMessage says why); then
  // `layout` is empty. Faults inside (missing include files, unusable fonts)
  // are logged and skipped.
  bool Describe(const std::wstring& source, const std::wstring& resourceType,
                DescribedLayout& layout);

  const std::wstring& ErrorMessage() const { return error_; }

 private:
  struct LoadedFile;
  const CXmlDocument* LoadLayout(const std::wstring& source, const std::wstring& resourceType);
  void CollectManagerElements(CXmlElement root, DescribedLayout& layout);
  void DescribeChildren(CXmlElement parent, std::vector<MarkupNode>& out, DescribedLayout& layout,
                        int includeDepth);
  void DescribeInclude(CXmlElement include, std::vector<MarkupNode>& out,
                       DescribedLayout& layout, int includeDepth);

  std::wstring resourceType_;
  std::map<std::wstring, std::unique_ptr<CXmlDocument>> documents_;
  std::vector<std::wstring> includeStack_;
  std::size_t nodeCount_ = 0;
  std::wstring error_;
};

// Names of the manager-level elements, which never become controls.
bool IsManagerElement(const std::wstring& name);

}  // namespace SkinUI
