// The frame sizes a camera offers, as the text "w*h|w*h|…".
#pragma once

#include <string>

namespace docscope {

// Asks the V4L2 device at `device` for its pixel formats and each format's frame sizes, in the
// device's order (a size offered by two formats is listed twice); a file-backed camera offers
// the size of its file's frames. Returns 0 and the list (empty when nothing was listed), or -1
// when the device cannot be opened.
int GetResolution(const std::string& device, std::string& list);

// The list cut to whole entries that fit `capacity` bytes with the terminator.
std::string FitResolutionList(const std::string& list, std::size_t capacity);

}  // namespace docscope
