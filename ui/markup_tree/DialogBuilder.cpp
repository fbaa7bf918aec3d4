#include "ui/markup_tree/DialogBuilder.h"

#include <algorithm>

#include "log/Log.h"
#include "ui/archive/ResourceLoader.h"

namespace SkinUI {
namespace {

constexpr std::size_t kMaxIncludeSourceLength = 499;
constexpr std::size_t kMaxFaceNameLength = 31;

MarkupAttributes AttributesOf(CXmlElement element) {
  MarkupAttributes attributes;
  attributes.reserve(element.GetAttributeCount());
  for (std::size_t i = 0; i < element.GetAttributeCount(); ++i)
    attributes.push_back({element.GetAttributeName(i), element.GetAttributeValue(i)});
  return attributes;
}

bool IsNumber(const std::wstring& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

}  // namespace

bool IsManagerElement(const std::wstring& name) {
  return EqualsNoCase(name, L"Font") || EqualsNoCase(name, L"Image") ||
         EqualsNoCase(name, L"Default") || EqualsNoCase(name, L"MultiLanguage");
}

const std::wstring* MarkupNode::FindAttribute(const std::wstring& name) const {
  for (const MarkupAttribute& a : attributes)
    if (a.name == name) return &a.value;
  return nullptr;
}

std::wstring MarkupNode::Attribute(const std::wstring& name) const {
  const std::wstring* value = FindAttribute(name);
  return value ? *value : std::wstring();
}

const MarkupAttributes* DescribedLayout::DefaultsFor(const std::wstring& className) const {
  for (auto it = defaults.rbegin(); it != defaults.rend(); ++it)
    if (EqualsNoCase(it->className, className)) return &it->attributes;
  return nullptr;
}

const CXmlDocument* CDialogBuilder::LoadLayout(const std::wstring& source,
                                               const std::wstring& resourceType) {
  const std::wstring key = resourceType + L"|" + source;
  auto found = documents_.find(key);
  if (found != documents_.end()) return found->second.get();
  auto document = std::make_unique<CXmlDocument>();
  bool loaded = false;
  if (!resourceType.empty()) {
    std::string bytes;
    if (!IsNumber(source)) {
      error_ = L"Resource id is not a number";
    } else if (!GetResourceLoader().LoadResource(resourceType, std::stoul(source), bytes)) {
      error_ = L"Could not load resource";
    } else {
      loaded = document->LoadBytes(bytes.data(), bytes.size(), kXmlEncoding_Utf8);
      if (!loaded) error_ = document->ErrorMessage();
    }
  } else if (!source.empty() && source[0] == L'<') {
    loaded = document->LoadText(source);
    if (!loaded) error_ = document->ErrorMessage();
  } else {
    loaded = document->LoadFile(source, kXmlEncoding_Utf8);
    if (!loaded) error_ = document->ErrorMessage();
  }
  if (!loaded) {
    LOGW(kLog_Info, L"layout %ls not loaded: %ls at \"%ls\"", source.substr(0, 100).c_str(),
         error_.c_str(), document->ErrorPosition().c_str());
    return nullptr;
  }
  return (documents_[key] = std::move(document)).get();
}

bool CDialogBuilder::Describe(const std::wstring& source, const std::wstring& resourceType,
                              DescribedLayout& layout) {
  layout = DescribedLayout();
  error_.clear();
  documents_.clear();
  includeStack_.clear();
  nodeCount_ = 0;
  resourceType_ = resourceType;
  const CXmlDocument* document = LoadLayout(source, resourceType);
  if (!document) return false;
  CXmlElement root = document->RootElement();
  layout.rootName = root.GetName();
  if (layout.rootName == L"Window") layout.windowAttributes = AttributesOf(root);
  CollectManagerElements(root, layout);
  includeStack_.push_back(source);
  DescribeChildren(root, layout.controls, layout, 0);
  includeStack_.clear();
  return true;
}

void CDialogBuilder::CollectManagerElements(CXmlElement root, DescribedLayout& layout) {
  for (CXmlElement node = root.GetChild(); node; node = node.GetSibling()) {
    const std::wstring name = node.GetName();
    if (EqualsNoCase(name, L"Font")) {
      std::wstring id, face;
      if (!node.GetAttributeValue(L"id", id) || ParseInt(id) < 0 ||
          !node.GetAttributeValue(L"name", face) || face.empty()) {
        LOGA(kLog_Info, "layout: Font without a usable id and name skipped");
        continue;
      }
      FontDescription font;
      font.id = ParseInt(id);
      font.name = face.substr(0, kMaxFaceNameLength);
      std::wstring value;
      if (node.GetAttributeValue(L"size", value)) font.size = ParseInt(value);
      font.bold = ParseBool(node.GetAttribute(L"bold"), true);
      font.underline = ParseBool(node.GetAttribute(L"underline"), true);
      font.italic = ParseBool(node.GetAttribute(L"italic"), true);
      font.isDefault = ParseBool(node.GetAttribute(L"default"), true);
      font.shared = ParseBool(node.GetAttribute(L"shared"), true);
      layout.fonts.push_back(font);
    } else if (EqualsNoCase(name, L"Image")) {
      ImageDeclaration image;
      image.name = node.GetAttribute(L"name");
      if (image.name.empty()) continue;
      image.resType = node.GetAttribute(L"restype");
      std::wstring mask;
      if (node.GetAttributeValue(L"mask", mask) && !mask.empty()) {
        image.hasMask = true;
        image.mask = ParseColor(mask);
      }
      image.shared = ParseBool(node.GetAttribute(L"shared"), true);
      layout.images.push_back(image);
    } else if (EqualsNoCase(name, L"Default")) {
      DefaultAttributes defaults;
      defaults.className = node.GetAttribute(L"name");
      if (defaults.className.empty()) continue;
      defaults.attributes = ParseAttributeList(node.GetAttribute(L"value"));
      defaults.shared = ParseBool(node.GetAttribute(L"shared"), true);
      layout.defaults.push_back(defaults);
    } else if (EqualsNoCase(name, L"MultiLanguage")) {
      std::wstring id;
      if (!node.GetAttributeValue(L"id", id) || ParseInt(id) < 0) continue;
      layout.languageTexts[ParseInt(id)] = node.GetAttribute(L"value");
    }
  }
}

void CDialogBuilder::DescribeChildren(CXmlElement parent, std::vector<MarkupNode>& out,
                                      DescribedLayout& layout, int includeDepth) {
  for (CXmlElement node = parent.GetChild(); node; node = node.GetSibling()) {
    const std::wstring name = node.GetName();
    if (IsManagerElement(name)) continue;
    if (EqualsNoCase(name, L"Include")) {
      DescribeInclude(node, out, layout, includeDepth);
      continue;
    }
    if (nodeCount_ >= kMaxNodes) {
      LOGA(kLog_Info, "layout: more than %u controls, the rest skipped",
           static_cast<unsigned>(kMaxNodes));
      return;
    }
    ++nodeCount_;
    MarkupNode control;
    control.className = name;
    control.attributes = AttributesOf(node);
    DescribeChildren(node, control.children, layout, includeDepth);
    out.push_back(std::move(control));
  }
}

void CDialogBuilder::DescribeInclude(CXmlElement include, std::vector<MarkupNode>& out,
                                     DescribedLayout& layout, int includeDepth) {
  std::wstring source = include.GetAttribute(L"source");
  int count = 1;
  std::wstring countText;
  if (include.GetAttributeValue(L"count", countText)) count = ParseInt(countText);
  if (source.empty() || source.size() > kMaxIncludeSourceLength) {
    LOGA(kLog_Info, "layout: Include without a usable source skipped");
    return;
  }
  if (count <= 0) return;
  if (count > kMaxIncludeCount) {
    LOGA(kLog_Info, "layout: Include count %d cut to %d", count, kMaxIncludeCount);
    count = kMaxIncludeCount;
  }
  if (includeDepth >= kMaxIncludeDepth ||
      std::find(includeStack_.begin(), includeStack_.end(), source) != includeStack_.end()) {
    LOGW(kLog_Info, L"layout: Include of %ls skipped: includes itself or nests too deep",
         source.c_str());
    return;
  }
  const CXmlDocument* document = LoadLayout(source, resourceType_);
  if (!document) {
    LOGW(kLog_Info, L"layout: included file %ls not found or not valid; nothing created",
         source.c_str());
    error_.clear();
    return;
  }
  CXmlElement root = document->RootElement();
  includeStack_.push_back(source);
  for (int i = 0; i < count; ++i) {
    // Window attributes and manager elements of the included file take effect
    // every time it is created.
    if (root.GetName() == L"Window") {
      MarkupAttributes attributes = AttributesOf(root);
      layout.windowAttributes.insert(layout.windowAttributes.end(), attributes.begin(),
                                     attributes.end());
    }
    CollectManagerElements(root, layout);
    DescribeChildren(root, out, layout, includeDepth + 1);
  }
  includeStack_.pop_back();
}

}  // namespace SkinUI
