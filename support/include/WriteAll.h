// Writing a whole buffer to a descriptor, across short writes and interrupted calls.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace countermate {

// Writes all `length` bytes of `data` to `fd`. False when a write fails (or writes nothing).
inline bool WriteAll(int fd, const unsigned char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace countermate
