// Pictures written as JPEG files that readers never see half-written.
#pragma once

#include "ScreenGrab.h"

namespace snapdesk {

// A TurboJPEG compressor and its output buffer, kept from one picture to the next. Not
// thread-safe: the caller serialises its use.
class JpegFileWriter {
public:
    JpegFileWriter();
    ~JpegFileWriter();
    JpegFileWriter(const JpegFileWriter&) = delete;
    JpegFileWriter& operator=(const JpegFileWriter&) = delete;

    // Encodes `pixels` (4:2:0, quality kQuality) into a temporary file beside `path` and renames
    // it over `path`. False when encoding or writing fails (the temporary is removed then) and
    // when `path` exists as something other than a regular file (which is left alone).
    bool write(const ScreenPixels& pixels, const char* path);

    static constexpr int kQuality = 80;

private:
    bool encode(const ScreenPixels& pixels, unsigned long& size);

    void* compressor_ = nullptr;
    unsigned char* buffer_ = nullptr;
    unsigned long capacity_ = 0;
};

}  // namespace snapdesk
