// One running installer per build: a named mutex, named after the build's
// file description (or the executable's base name when it has none).
#pragma once

#include <string>

// The instance name for an executable path.
std::wstring InstanceName(const std::wstring& exePath);
// Creates the named mutex; false when it already existed or cannot be made.
// The handle stays open for the life of the process.
bool AcquireInstanceMutex(const std::wstring& name);
// Restores and fronts the top-level window of this class and title, if there
// is one.
void BringRunningInstanceToFront(const std::wstring& windowClass, const std::wstring& title);
