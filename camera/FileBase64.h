// A regular file as Base64 text (standard alphabet, "=" padding, no line breaks).
#pragma once

#include <cstddef>

namespace docscope {

enum class FileEncoding { Encoded, Missing, TooLarge };

// Writes the Base64 text of the file at `path` and a terminator into `out` of `capacity` bytes.
// Missing: no such regular file, or it cannot be read (a FIFO or device is never waited on).
// TooLarge: the text would not fit; `out` is untouched.
FileEncoding EncodeFileBase64(const char* path, char* out, std::size_t capacity);

}  // namespace docscope
