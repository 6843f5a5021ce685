#include "ImageLibraries.h"

#include <dlfcn.h>

#include "CameraLog.h"

namespace docscope {
namespace {

struct LibraryEntry {
  const char* path;
  const char* entry;
  const char* loaded;
  const char* failed;
};

constexpr LibraryEntry kFramepack{"./libframepack.so", "framepack", "加载libframepack动态库成功",
                                  "加载libframepack动态库失败"};
constexpr LibraryEntry kCropalign{"./libcropalign.so", "cropalign", "加载libcropalign动态库成功",
                                  "加载libcropalign动态库失败"};
constexpr LibraryEntry kScenewatch{"./libscenewatch.so", "scenewatch",
                                   "加载libscenewatch动态库成功", "加载libscenewatch动态库失败"};

// The entry's address, or null (logging the failure) when the library or entry is missing.
void* Bind(const LibraryEntry& library) {
  void* handle = dlopen(library.path, RTLD_LAZY);
  void* address = handle != nullptr ? dlsym(handle, library.entry) : nullptr;
  CAM_TRACE("CamInit", "%s", address != nullptr ? library.loaded : library.failed);
  if (address == nullptr && handle != nullptr) dlclose(handle);
  return address;
}

template <typename Entry>
bool BindInto(const LibraryEntry& library, std::atomic<Entry>& slot) {
  void* address = Bind(library);
  if (address == nullptr) return false;
  slot = reinterpret_cast<Entry>(address);
  return true;
}

}  // namespace

bool LoadImageLibraries(ImageLibraries& libraries) {
  return BindInto(kFramepack, libraries.framepack) && BindInto(kCropalign, libraries.cropalign) &&
         BindInto(kScenewatch, libraries.scenewatch);
}

}  // namespace docscope
