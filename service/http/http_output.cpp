// The output file: opened only as a regular file, and removed again when the download fails.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "http_internal.h"

namespace countermate::http {
namespace {

// Opens without waiting (O_NONBLOCK: a FIFO without a reader or a device never holds the open),
// keeps the descriptor only for a regular file, and empties it only once it is known to be one
// (no O_TRUNC), so nothing else at the path is ever changed.
FILE* openRegularOutput(const char* path) {
    if (path == nullptr) return nullptr;
    const int descriptor = open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    struct stat status {};
    const int flags = fcntl(descriptor, F_GETFL);
    const bool usable = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && flags >= 0 &&
                        fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
                        ftruncate(descriptor, 0) == 0;
    FILE* file = usable ? fdopen(descriptor, "w") : nullptr;
    if (file == nullptr) {
        close(descriptor);
        return nullptr;
    }
    // Unbuffered: each body piece goes to the file in one write instead of block-sized parts.
    setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

// Removes `path` only while it still names the file described by `opened`: a path that
// meanwhile names something else is left alone.
void removeIfStillNamed(const char* path, const struct stat& opened) {
    struct stat named {};
    if (path != nullptr && lstat(path, &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino) {
        unlink(path);
    }
}

}  // namespace

int finishOutput(http_t* info) {
    if (info->output_file == nullptr) return 0;
    struct stat opened {};
    if (fflush(info->output_file) != 0 || fstat(fileno(info->output_file), &opened) != 0) {
        discardOutput(info);
        return -1;
    }
    const int closed = fclose(info->output_file);
    info->output_file = nullptr;
    if (closed == 0) return 0;
    removeIfStillNamed(info->output_path, opened);
    return -1;
}

void discardOutput(http_t* info) {
    if (info->output_file == nullptr) return;
    fflush(info->output_file);
    const int descriptor = fileno(info->output_file);
    struct stat opened {
    }, named{};
    if (fstat(descriptor, &opened) == 0 && info->output_path != nullptr &&
        lstat(info->output_path, &named) == 0 && S_ISLNK(named.st_mode)) {
        // The link stays the caller's; the file behind it keeps no partial body.
        const int emptied = ftruncate(descriptor, 0);
        static_cast<void>(emptied);
    }
    fclose(info->output_file);
    info->output_file = nullptr;
    removeIfStillNamed(info->output_path, opened);
}

}  // namespace countermate::http

extern "C" {

int save_data(http_t* info, const char* data, int length) {
    if (info == nullptr || data == nullptr || length < 0) return -1;
    if (length > INT_MAX - info->bytes_written) return -1;
    if (info->output_file == nullptr) {
        info->output_file = countermate::http::openRegularOutput(info->output_path);
        if (info->output_file == nullptr) return -1;
    }
    if (fwrite(data, 1, size_t(length), info->output_file) != size_t(length)) return -1;
    info->bytes_written += length;
    return 0;
}

float calc_download_speed(http_t* info) {
    if (info == nullptr) return 0.0f;
    const double elapsed = difftime(info->end_time, info->start_time);
    return float(double(info->bytes_written) / (elapsed > 0 ? elapsed : 1.0));
}

}  // extern "C"
