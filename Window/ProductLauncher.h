// Starting the installed product, with the installer's rights or as the
// interactive (non-elevated) user.
#pragma once

#include <string>

// The ways a product can be started; each says whether it started it and,
// when not, why.
struct ProductStartWays {
  // With the installer's own (administrator) rights.
  bool (*withOwnRights)(const std::wstring& path, std::string& why);
  // As the interactive user: the system's task runner, then the desktop
  // shell's token.
  bool (*asInteractiveUser)(const std::wstring& path, std::string& why);
  bool (*withShellToken)(const std::wstring& path, std::string& why);
};

// The ways of this system.
const ProductStartWays& SystemProductStartWays();

// Starts the product. As the normal user (runAsAdmin false) it never falls
// back to the installer's own rights: when neither user start works the
// product is not started. False then, with the reasons in `why`.
bool StartProduct(const std::wstring& path, bool runAsAdmin, const ProductStartWays& ways, std::string& why);

// StartProduct with the system's ways; a product that is not started is logged.
void RunProduct(const std::wstring& path, bool runAsAdmin);
