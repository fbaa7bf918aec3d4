// Starting the installed product, with the installer's rights or as the
// interactive (non-elevated) user.
#pragma once

#include <string>

void RunProduct(const std::wstring& path, bool runAsAdmin);
