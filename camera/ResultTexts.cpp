#include "ResultTexts.h"

#include <cstring>

#include "DRV_DOCSCOPE.h"

namespace docscope {

void CopyText(char* out, std::size_t capacity, const char* text) {
  if (out == nullptr || capacity == 0) return;
  const std::size_t length = text == nullptr ? 0 : strnlen(text, capacity - 1);
  if (length > 0) std::memcpy(out, text, length);
  out[length] = '\0';
}

void Answer(char* retVal, char* errMsg, const char* code, const char* message) {
  CopyText(retVal, kCamTextCapacity, code);
  CopyText(errMsg, kCamTextCapacity, message);
}

}  // namespace docscope
