#include "FileBase64.h"

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "Base64.h"
#include "LocalFile.h"

namespace docscope {

FileEncoding EncodeFileBase64(const char* path, char* out, std::size_t capacity) {
  const countermate::terminal::LocalFile file = countermate::terminal::OpenRegularFileToRead(path);
  struct stat status {};
  if (!file || fstat(fileno(file.get()), &status) != 0) return FileEncoding::Missing;
  const std::size_t size = static_cast<std::size_t>(status.st_size);
  if (out == nullptr || countermate::base64_encoded_length(size) + 1 > capacity) {
    return FileEncoding::TooLarge;
  }
  // Whole groups of three bytes per block, so blocks encode without padding between them. The
  // size read at the start bounds the text, even if the file grows meanwhile.
  std::vector<std::uint8_t> block(3 * 16384);
  std::size_t remaining = size;
  std::size_t written = 0;
  while (remaining > 0) {
    const std::size_t count =
        std::fread(block.data(), 1, std::min(block.size(), remaining), file.get());
    if (count == 0) break;
    written += countermate::base64_encode(block.data(), count, out + written);
    remaining -= count;
    if (count % 3 != 0) break;
  }
  out[written] = '\0';
  return FileEncoding::Encoded;
}

}  // namespace docscope
