// Loading resources of the executable by type and numeric id, behind a small
// interface: on Windows the module's resources (FindResource/LoadResource),
// elsewhere files named "<folder>/<type>/<id>" (type without a leading "#").
// Numeric resource types are written as "#<number>", e.g. "#10" for
// RT_RCDATA, which is the form FindResourceW accepts for them.
#pragma once

#include <string>

namespace SkinUI {

constexpr const wchar_t* kResourceTypeRcData = L"#10";
constexpr const wchar_t* kResourceTypeSkinZip = L"ZIPRES";

class IResourceLoader {
 public:
  virtual ~IResourceLoader() = default;
  // The resource's bytes; false when there is no such resource.
  virtual bool LoadResource(const std::wstring& type, unsigned id, std::string& bytes) = 0;
};

// Reads "<folder>/<type>/<id>" from disk.
class CFileResourceLoader : public IResourceLoader {
 public:
  explicit CFileResourceLoader(std::wstring folder) : folder_(std::move(folder)) {}
  bool LoadResource(const std::wstring& type, unsigned id, std::string& bytes) override;

 private:
  std::wstring folder_;
};

// The platform's loader: module resources of the resource module on Windows;
// elsewhere a file loader over the resource folder.
IResourceLoader& GetPlatformResourceLoader();

// The loader used by skin lookups and the layout builder; the platform's
// unless replaced (tests replace it). Passing null restores the platform's.
void SetResourceLoader(IResourceLoader* loader);
IResourceLoader& GetResourceLoader();

#if defined(_WIN32)
// Module whose resources are searched; the executable unless set.
void SetResourceModule(void* module);
void* GetResourceModule();
#endif

}  // namespace SkinUI
