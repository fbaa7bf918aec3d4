// Without module resources, resources are files under the skin resource folder.
#include "ui/archive/ResourceLoader.h"
#include "ui/archive/SkinResources.h"

namespace SkinUI {
namespace {

class CFolderResourceLoader : public IResourceLoader {
 public:
  bool LoadResource(const std::wstring& type, unsigned id, std::string& bytes) override {
    return CFileResourceLoader(GetResourceFolder()).LoadResource(type, id, bytes);
  }
};

}  // namespace

IResourceLoader& GetPlatformResourceLoader() {
  static CFolderResourceLoader loader;
  return loader;
}

}  // namespace SkinUI
