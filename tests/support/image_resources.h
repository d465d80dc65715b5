#pragma once
// Reads the resources of another executable, as the shell would, without
// running it.

#include <windows.h>

#include <string>

class ImageResources {
 public:
  explicit ImageResources(const std::wstring& path)
      : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~ImageResources() {
    if (module_) FreeLibrary(module_);
  }
  ImageResources(const ImageResources&) = delete;
  ImageResources& operator=(const ImageResources&) = delete;

  HMODULE module() const { return module_; }
  bool loaded() const { return module_ != nullptr; }

  // The bytes of a resource, or an empty string when there is none.
  std::string get(const wchar_t* name, const wchar_t* type) const {
    HRSRC found = module_ ? FindResourceW(module_, name, type) : nullptr;
    if (!found) return {};
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module_, found)));
    return bytes ? std::string(bytes, SizeofResource(module_, found)) : std::string();
  }

  // The number of chunks "<base>_1", "<base>_2", ... of `type` before the
  // first missing index.
  int chunkCount(const std::string& base, const wchar_t* type) const {
    int count = 0;
    while (!get(chunk(base, count + 1).c_str(), type).empty()) ++count;
    return count;
  }

  static std::wstring chunk(const std::string& base, int index) {
    std::string name = base + "_" + std::to_string(index);
    return std::wstring(name.begin(), name.end());
  }

 private:
  HMODULE module_;
};
