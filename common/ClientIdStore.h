// The client id in the registry (Windows): HKEY_LOCAL_MACHINE, 64-bit view.
#pragma once

#include <string>

// The product's key; its parent is created first when missing.
extern const wchar_t kClientIdKey[];

// Reads the "GUID" value (REG_SZ) of `keyPath`; when the key is new, the
// value is missing, of another type, longer than 2048 bytes or not a valid
// id, a new GUID id replaces it (written with its terminator). Empty when the
// key can be neither created nor opened.
std::wstring ReadOrCreateClientId(const std::wstring& keyPath = kClientIdKey);
