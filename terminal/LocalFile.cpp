#include "LocalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace countermate::terminal {
namespace {

// Opens without waiting (O_NONBLOCK: a FIFO without a peer or a device never blocks the open),
// keeps the descriptor only for a regular file, and hands it over as a blocking stream.
LocalFile OpenRegular(const char* path, int access, const char* mode, bool truncate) {
    if (path == nullptr) return nullptr;
    const int descriptor = open(path, access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    struct stat status {};
    const int flags = fcntl(descriptor, F_GETFL);
    const bool usable = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && flags >= 0 &&
                        fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
                        (!truncate || ftruncate(descriptor, 0) == 0);
    FILE* file = usable ? fdopen(descriptor, mode) : nullptr;
    if (file == nullptr) close(descriptor);
    return LocalFile(file);
}

}  // namespace

LocalFile OpenRegularFileToRead(const char* path) {
    return OpenRegular(path, O_RDONLY, "rb", false);
}

// Without O_TRUNC: nothing is emptied before fstat has shown the file to be a regular one.
LocalFile OpenRegularFileToWrite(const char* path) {
    return OpenRegular(path, O_WRONLY | O_CREAT, "wb", true);
}

}  // namespace countermate::terminal
