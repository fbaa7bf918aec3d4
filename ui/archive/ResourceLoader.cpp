#include "ui/archive/ResourceLoader.h"

#include "system/Strings.h"
#include "ui/archive/NativePath.h"

namespace SkinUI {
namespace {
IResourceLoader* g_loader = nullptr;
constexpr std::size_t kMaxResourceSize = 64u << 20;
}  // namespace

bool CFileResourceLoader::LoadResource(const std::wstring& type, unsigned id,
                                       std::string& bytes) {
  std::wstring folderName = (!type.empty() && type[0] == L'#') ? type.substr(1) : type;
  std::wstring path = folder_;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  path += folderName + L"\\" + std::to_wstring(id);
  return ReadWholeFile(path, bytes, kMaxResourceSize);
}

void SetResourceLoader(IResourceLoader* loader) { g_loader = loader; }

IResourceLoader& GetResourceLoader() { return g_loader ? *g_loader : GetPlatformResourceLoader(); }

}  // namespace SkinUI
