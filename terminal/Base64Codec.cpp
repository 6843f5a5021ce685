// The driver's Base64 codec (standard alphabet, "=" padding) and the file helpers the service
// uses to move pictures and documents as text.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Base64.h"
#include "DEV_CounterMate.h"
#include "LocalFile.h"
#include "ResultCodes.h"

using namespace countermate::terminal;

namespace {

bool IsSkipped(unsigned char character) {
    return character == '\n' || character == '\r' || character == ' ';
}

// Decodes `text` up to its terminator into `data`. Line feeds, carriage returns and spaces are
// skipped; each "=" shortens its group by one byte; a last group of fewer than 4 characters is
// dropped. Returns the byte count, or -1 for a character outside the alphabet.
int DecodeText(const char* text, unsigned char* data) {
    int written = 0;
    int group[4];
    int filled = 0;
    int padding = 0;
    for (const unsigned char* cursor = reinterpret_cast<const unsigned char*>(text); *cursor;
         ++cursor) {
        if (IsSkipped(*cursor)) continue;
        int value = 0;
        if (*cursor == '=') {
            ++padding;
        } else {
            value = countermate::base64_value(*cursor);
            if (value < 0) return -1;
        }
        group[filled++] = value;
        if (filled < 4) continue;
        const unsigned char bytes[3] = {
            static_cast<unsigned char>(group[0] << 2 | group[1] >> 4),
            static_cast<unsigned char>((group[1] & 0x0F) << 4 | group[2] >> 2),
            static_cast<unsigned char>((group[2] & 0x03) << 6 | group[3]),
        };
        for (int i = 0; i < 3 - padding; ++i) data[written++] = bytes[i];
        filled = 0;
        padding = 0;
    }
    return written;
}

}  // namespace

int CDEV_CounterMate::Base64Encode(unsigned char* data, int length, char* text) {
    const size_t count = countermate::base64_encode(data, length > 0 ? length : 0, text);
    text[count] = '\0';
    return static_cast<int>(count);
}

int CDEV_CounterMate::Base64Decode(char* text, int* length, unsigned char* data) {
    const int count = DecodeText(text, data);
    if (count >= 0) *length = count;
    return count;
}

int CDEV_CounterMate::FileBase64Encode_GetLength(char* local_path) {
    struct stat status {};
    if (local_path == nullptr || stat(local_path, &status) != 0 || !S_ISREG(status.st_mode)) {
        return 0;
    }
    return static_cast<int>(status.st_size);
}

// The file is encoded as it is read, a block at a time, so a large file is held only as its
// Base64 text.
int CDEV_CounterMate::FileBase64Encode(char* local_path, char** base64) {
    const int size = FileBase64Encode_GetLength(local_path);
    if (size < 1) return kFileOperationFailed;
    LocalFile file = OpenRegularFileToRead(local_path);
    if (!file) return kFileOperationFailed;
    std::unique_ptr<char, decltype(&std::free)> text(
        static_cast<char*>(std::malloc((static_cast<size_t>(size) / 3 + 25) * 4)), &std::free);
    if (!text) return kFileOperationFailed;
    constexpr size_t kBlockBytes = 3 * 64 * 1024;  // whole groups of 3, so blocks join seamlessly
    std::vector<unsigned char> block(kBlockBytes);
    size_t read = 0;
    size_t written = 0;
    while (read < static_cast<size_t>(size)) {
        const size_t want = std::min(kBlockBytes, static_cast<size_t>(size) - read);
        if (std::fread(block.data(), 1, want, file.get()) != want) return kFileOperationFailed;
        written += countermate::base64_encode(block.data(), want, text.get() + written);
        read += want;
    }
    text.get()[written] = '\0';
    *base64 = text.release();
    return kSuccess;
}

int CDEV_CounterMate::FileBase64Decode(char* base64, char* local_path) {
    std::vector<unsigned char> data((std::strlen(base64) / 3 + 16) * 4);
    const int count = DecodeText(base64, data.data());
    if (count < 1) return kFileOperationFailed;
    LocalFile file = OpenRegularFileToWrite(local_path);
    if (!file) return kFileOperationFailed;
    if (std::fwrite(data.data(), 1, count, file.get()) != static_cast<size_t>(count)) {
        return kFileOperationFailed;
    }
    return kSuccess;
}
