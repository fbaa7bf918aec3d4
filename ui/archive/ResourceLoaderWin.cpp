// Module resources through FindResource/LoadResource.
#include <windows.h>

#include "ui/archive/ResourceLoader.h"

namespace SkinUI {
namespace {

HMODULE g_module = nullptr;

class CModuleResourceLoader : public IResourceLoader {
 public:
  bool LoadResource(const std::wstring& type, unsigned id, std::string& bytes) override {
    bytes.clear();
    HMODULE module = g_module ? g_module : GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type.c_str());
    if (!info) return false;
    const DWORD size = SizeofResource(module, info);
    HGLOBAL handle = ::LoadResource(module, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data || size == 0) return false;
    bytes.assign(static_cast<const char*>(data), size);
    return true;
  }
};

}  // namespace

void SetResourceModule(void* module) { g_module = static_cast<HMODULE>(module); }
void* GetResourceModule() { return g_module ? g_module : GetModuleHandleW(nullptr); }

IResourceLoader& GetPlatformResourceLoader() {
  static CModuleResourceLoader loader;
  return loader;
}

}  // namespace SkinUI
