#include "JpegFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <turbojpeg.h>

#include "WriteAll.h"

namespace snapdesk {
namespace {

// A path that may be replaced: absent, or a regular file.
bool replaceable(const char* path) {
    struct stat status {};
    if (lstat(path, &status) != 0) return errno == ENOENT;
    return S_ISREG(status.st_mode);
}

}  // namespace

JpegFileWriter::JpegFileWriter() : compressor_(tjInitCompress()) {}

JpegFileWriter::~JpegFileWriter() {
    if (buffer_) tjFree(buffer_);
    if (compressor_) tjDestroy(compressor_);
}

bool JpegFileWriter::encode(const ScreenPixels& pixels, unsigned long& size) {
    if (!compressor_ || !pixels.data || pixels.width <= 0 || pixels.height <= 0) return false;
    // The worst case of the picture's size, allocated once for pictures of that size, so
    // TurboJPEG never reallocates it.
    const unsigned long needed = tjBufSize(pixels.width, pixels.height, TJSAMP_420);
    if (needed == static_cast<unsigned long>(-1)) return false;
    if (needed > capacity_) {
        if (buffer_) tjFree(buffer_);
        buffer_ = tjAlloc(static_cast<int>(needed));
        capacity_ = buffer_ ? needed : 0;
        if (!buffer_) return false;
    }
    size = capacity_;
    return tjCompress2(compressor_, pixels.data, pixels.width, pixels.stride, pixels.height,
                       pixels.pixel_format, &buffer_, &size, TJSAMP_420, kQuality,
                       TJFLAG_NOREALLOC | TJFLAG_FASTDCT) == 0;
}

bool JpegFileWriter::write(const ScreenPixels& pixels, const char* path) {
    unsigned long size = 0;
    if (!path || !*path || !replaceable(path) || !encode(pixels, size)) return false;
    std::string temporary = std::string(path) + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) return false;
    bool written = fchmod(fd, 0644) == 0 && countermate::WriteAll(fd, buffer_, size);
    written = close(fd) == 0 && written;
    written = written && std::rename(temporary.c_str(), path) == 0;
    if (!written) unlink(temporary.c_str());
    return written;
}

}  // namespace snapdesk
