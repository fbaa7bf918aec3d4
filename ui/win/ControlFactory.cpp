#include "ui/win/ControlFactory.h"

#include "log/Log.h"
#include "ui/win/UIControls.h"

namespace SkinUI {

CControlUI* CreateControlByClass(const std::wstring& c) {
  if (c == L"Control") return new CControlUI;
  if (c == L"Label") return new CLabelUI;
  if (c == L"Text") return new CTextUI;
  if (c == L"Button") return new CButtonUI;
  if (c == L"Option") return new COptionUI;
  if (c == L"CheckBox") return new CCheckBoxUI;
  if (c == L"Progress") return new CProgressUI;
  if (c == L"Edit") return new CEditUI;
  if (c == L"VerticalLayout" || c == L"VBox") return new CVerticalLayoutUI;
  if (c == L"HorizontalLayout" || c == L"HBox") return new CHorizontalLayoutUI;
  if (c == L"TabLayout") return new CTabLayoutUI;
  if (c == L"Container") return new CContainerUI;
  return nullptr;
}

void ApplyManagerDeclarations(const DescribedLayout& layout, CUIManager& manager) {
  for (const auto& f : layout.fonts) {
    if (!manager.AddFont(f.id, f.name, f.size, f.bold, f.underline, f.italic, f.isDefault)) {
      LOGW(kLog_Info, L"font %d (%ls) could not be created", f.id, f.name.c_str());
    }
  }
  for (const auto& img : layout.images) {
    if (!manager.GetImageEx(img.name, img.mask, img.hasMask)) {
      LOGW(kLog_Info, L"declared image %ls not loaded", img.name.c_str());
    }
  }
  for (const auto& d : layout.defaults) {
    std::wstring list;
    for (const auto& a : d.attributes) {
      if (!list.empty()) list += L' ';
      list += a.name + L"=\"" + a.value + L"\"";
    }
    manager.AddDefaultAttributeList(d.className, list);
  }
  for (const auto& kv : layout.languageTexts) manager.AddMultiLanguageString(kv.first, kv.second);
  if (EqualsNoCase(layout.rootName, L"Window") && manager.GetPaintWindow()) {
    for (const auto& a : layout.windowAttributes) manager.SetWindowAttribute(a.name, a.value);
  }
}

namespace {

// Creates one described control with its subtree; null when nobody makes it.
CControlUI* CreateNode(const MarkupNode& node, const DescribedLayout& layout, CUIManager* manager,
                       IDialogBuilderCallback* callback) {
  CControlUI* control = CreateControlByClass(node.className);
  if (!control && callback) control = callback->CreateControl(node.className);
  if (!control) {
    LOGW(kLog_Info, L"unknown control \"%ls\" skipped with its children", node.className.c_str());
    return nullptr;
  }
  // Children first, with the new control as their parent.
  if (!node.children.empty()) {
    auto* container = static_cast<IContainerUI*>(control->GetInterface(L"IContainer"));
    for (const auto& child : node.children) {
      CControlUI* c = CreateNode(child, layout, manager, callback);
      if (!c) continue;
      if (ParseBool(child.Attribute(L"cover"))) {
        control->SetCover(c);
      } else if (!container) {
        LOGW(kLog_Info, L"\"%ls\" cannot hold child \"%ls\"", node.className.c_str(), child.className.c_str());
        delete c;
      } else if (!container->Add(c)) {
        delete c;
      }
    }
  }
  // Attributes with the manager attached temporarily: defaults first.
  if (manager) control->SetManager(manager, nullptr, false);
  if (const MarkupAttributes* defaults = layout.DefaultsFor(node.className)) {
    for (const auto& a : *defaults) control->SetAttribute(a.name, a.value);
  } else if (manager) {
    std::wstring list = manager->GetDefaultAttributeList(node.className);
    if (!list.empty()) control->ApplyAttributeList(list);
  }
  for (const auto& a : node.attributes) control->SetAttribute(a.name, a.value);
  if (manager) control->SetManager(nullptr, nullptr, false);
  return control;
}

}  // namespace

CControlUI* CreateControls(const DescribedLayout& layout, CUIManager* manager, IDialogBuilderCallback* callback,
                           CControlUI* parent) {
  IContainerUI* container = parent ? static_cast<IContainerUI*>(parent->GetInterface(L"IContainer")) : nullptr;
  if (parent && !container) {
    LOGA(kLog_Info, "the parent of a layout holds no children: nothing created");
    return nullptr;
  }
  CControlUI* first = nullptr;
  for (const auto& node : layout.controls) {
    CControlUI* c = CreateNode(node, layout, manager, callback);
    if (!c) continue;
    if (container) {
      if (!container->Add(c)) {
        delete c;
        continue;
      }
    } else if (first) {
      // Without a parent only the first top-level control can be returned.
      LOGW(kLog_Info, L"extra top-level control \"%ls\" dropped", node.className.c_str());
      delete c;
      continue;
    }
    if (!first) first = c;
  }
  return first;
}

CControlUI* BuildSkin(const std::wstring& source, const std::wstring& resourceType, IDialogBuilderCallback* callback,
                      CUIManager& manager, std::wstring& error) {
  CDialogBuilder builder;
  DescribedLayout layout;
  if (!builder.Describe(source, resourceType, layout)) {
    error = builder.ErrorMessage();
    return nullptr;
  }
  ApplyManagerDeclarations(layout, manager);
  CControlUI* root = CreateControls(layout, &manager, callback, nullptr);
  if (!root) error = L"the layout describes no control";
  return root;
}

}  // namespace SkinUI
