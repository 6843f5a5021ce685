// The image libraries the driver binds at run time from the working directory.
#pragma once

#include <atomic>

#include "DocumentImaging.h"

namespace docscope {

using FramepackEntry = decltype(&framepack);
using ScenewatchEntry = double (*)(cv::Mat reference, cv::Mat current);

// Entries bound by LoadImageLibraries; null until then. Libraries are never unloaded.
struct ImageLibraries {
  std::atomic<FramepackEntry> framepack{nullptr};
  std::atomic<CropalignToFile> cropalign{nullptr};
  std::atomic<ScenewatchEntry> scenewatch{nullptr};
};

// Loads "./libframepack.so", "./libcropalign.so" and "./libscenewatch.so" in that order and binds
// their entries, logging each load; stops at the first that fails and returns false.
// Not thread-safe: the caller serialises loads.
bool LoadImageLibraries(ImageLibraries& libraries);

}  // namespace docscope
