// Turns the layout builder's described control tree into controls: the
// control table by class name, then the builder callback for other names;
// unknown names are skipped with their subtrees (and logged). Applies the
// manager-level declarations (fonts, images, defaults, language texts) and
// the root window's attributes to the manager.
#pragma once

#include <string>

#include "ui/markup_tree/DialogBuilder.h"

namespace SkinUI {

class CControlUI;
class CUIManager;

class IDialogBuilderCallback {
 public:
  virtual ~IDialogBuilderCallback() = default;
  // A control for an element name outside the control table, or null.
  virtual CControlUI* CreateControl(const std::wstring& className) = 0;
};

// A control of the table ("Control", "Label", "Text", "Button", "Option",
// "CheckBox", "Progress", "Edit", "VerticalLayout", "HorizontalLayout",
// "TabLayout", and the aliases "Container", "VBox", "HBox"), or null.
CControlUI* CreateControlByClass(const std::wstring& className);

// Applies fonts, images, defaults, language texts and window attributes.
void ApplyManagerDeclarations(const DescribedLayout& layout, CUIManager& manager);

// Creates the described controls into `parent` (may be null) and returns the
// first control created at the top level, or null. With a manager, each
// control gets the "Default" attributes of its class, then its own.
CControlUI* CreateControls(const DescribedLayout& layout, CUIManager* manager,
                           IDialogBuilderCallback* callback, CControlUI* parent);

// Describe + apply + create, as the window base builds its skin. Null when
// the layout cannot be loaded or parsed (error says why).
CControlUI* BuildSkin(const std::wstring& source, const std::wstring& resourceType,
                      IDialogBuilderCallback* callback, CUIManager& manager, std::wstring& error);

}  // namespace SkinUI
