// The pixels of an X display's root window, through MIT-SHM where the server offers it and
// through XGetImage otherwise.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace snapdesk {

// A grabbed screen: rows of `stride` bytes in the TurboJPEG pixel format `pixel_format`
// (a TJPF_* value). Borrowed from the grabber; valid until its next grab or its end.
struct ScreenPixels {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    int pixel_format = 0;
};

// How the pixels come from the server.
enum class Transfer {
    SharedMemoryWhereOffered,  // MIT-SHM when the server offers it and can attach our segment
    ImageRequest,              // XGetImage: the pixels travel through the socket
};

// One connection to the display that DISPLAY names, kept between grabs. Not thread-safe: the
// caller serialises its use. X errors on this connection are caught and end the grab in
// progress; the server's loss ends it too, and the next grab connects anew.
class ScreenGrabber {
public:
    explicit ScreenGrabber(Transfer transfer);
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    // The whole root window now; nullopt without DISPLAY, without a server, or on an X error.
    std::optional<ScreenPixels> grab();

    // Whether the last grab came through shared memory.
    bool used_shared_memory() const;

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
    Transfer transfer_;
    std::string display_name_;
};

}  // namespace snapdesk
