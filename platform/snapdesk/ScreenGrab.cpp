#include "ScreenGrab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <mutex>

namespace snapdesk {
namespace {

// Xlib reports errors through process-wide handlers, and by default ends the process on them.
// Ours take the errors and the loss of the display that this thread is grabbing from, and hand
// every other display's to the handler that was there before, so a host that uses X itself
// keeps its own handling.
thread_local Display* display_in_use = nullptr;
thread_local bool error_seen = false;
thread_local bool display_lost = false;

XErrorHandler previous_error_handler = nullptr;
XIOErrorHandler previous_io_error_handler = nullptr;

int take_error(Display* display, XErrorEvent* event) {
    if (display == display_in_use) {
        error_seen = true;
        return 0;
    }
    return previous_error_handler ? previous_error_handler(display, event) : 0;
}

int take_io_error(Display* display) {
    if (display == display_in_use) {
        display_lost = true;
        return 0;
    }
    return previous_io_error_handler ? previous_io_error_handler(display) : 0;
}

// After a lost connection Xlib calls the display's exit handler, which by default ends the
// process. Ours returns: the grab fails and the next one connects anew.
void keep_process(Display*, void*) {}

// Installs our handlers on first use and, when the library is unloaded, puts the previous ones
// back (unless another handler has been installed over ours since), so that Xlib never calls
// into an unloaded library.
class ErrorHandlers {
public:
    void install() {
        std::call_once(installed_, [] {
            previous_error_handler = XSetErrorHandler(take_error);
            previous_io_error_handler = XSetIOErrorHandler(take_io_error);
        });
    }
    ~ErrorHandlers() {
        if (!previous_error_handler && !previous_io_error_handler) return;
        const XErrorHandler current = XSetErrorHandler(previous_error_handler);
        if (current != take_error) XSetErrorHandler(current);
        const XIOErrorHandler current_io = XSetIOErrorHandler(previous_io_error_handler);
        if (current_io != take_io_error) XSetIOErrorHandler(current_io);
    }

private:
    std::once_flag installed_;
};

ErrorHandlers error_handlers;

// Catches the errors of one display on this thread while it lives.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) {
        display_in_use = display;
        error_seen = false;
        display_lost = false;
    }
    ~ErrorTrap() { display_in_use = nullptr; }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool failed() const { return error_seen || display_lost; }
    bool lost() const { return display_lost; }
};

// TurboJPEG's name for the image's pixel layout, or -1 when it has none.
int turbojpeg_format(const XImage& image, const Visual& visual) {
    const bool red_high = visual.red_mask == 0xff0000 && visual.green_mask == 0xff00 &&
                          visual.blue_mask == 0xff;
    const bool red_low = visual.red_mask == 0xff && visual.green_mask == 0xff00 &&
                         visual.blue_mask == 0xff0000;
    const bool lsb = image.byte_order == LSBFirst;
    if (image.bits_per_pixel == 32) {
        if (red_high) return lsb ? TJPF_BGRX : TJPF_XRGB;
        if (red_low) return lsb ? TJPF_RGBX : TJPF_XBGR;
    }
    if (image.bits_per_pixel == 24) {
        if (red_high) return lsb ? TJPF_BGR : TJPF_RGB;
        if (red_low) return lsb ? TJPF_RGB : TJPF_BGR;
    }
    return -1;
}

// One colour of a pixel, scaled to 8 bits.
unsigned char channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    const int shift = __builtin_ctzl(mask);
    const unsigned long maximum = mask >> shift;
    return static_cast<unsigned char>(((pixel & mask) >> shift) * 255 / maximum);
}

}  // namespace

struct ScreenGrabber::Connection {
    Display* display = nullptr;
    bool lost = false;
    bool shared_memory_refused = false;
    bool last_shared = false;
    XShmSegmentInfo segment{};
    XImage* shared_image = nullptr;
    XImage* requested_image = nullptr;
    std::vector<unsigned char> converted;  // pixels of a layout TurboJPEG does not read

    static std::unique_ptr<Connection> open(const char* name);
    ~Connection();
    std::optional<ScreenPixels> grab(Transfer transfer);

private:
    XImage* grab_shared(unsigned width, unsigned height, const ErrorTrap& trap);
    XImage* grab_requested(unsigned width, unsigned height, const ErrorTrap& trap);
    bool attach_shared(unsigned width, unsigned height, const ErrorTrap& trap);
    void release_shared();
    void release_requested();
    std::optional<ScreenPixels> pixels_of(const XImage& image);
};

std::unique_ptr<ScreenGrabber::Connection> ScreenGrabber::Connection::open(const char* name) {
    error_handlers.install();
    Display* display = XOpenDisplay(name);
    if (!display) return nullptr;
    XSetIOErrorExitHandler(display, keep_process, nullptr);
    auto connection = std::make_unique<Connection>();
    connection->display = display;
    return connection;
}

ScreenGrabber::Connection::~Connection() {
    release_shared();
    release_requested();
    // A lost display holds no server state any more; closing it frees the client's side.
    ErrorTrap trap(display);
    XCloseDisplay(display);
}

std::optional<ScreenPixels> ScreenGrabber::Connection::grab(Transfer transfer) {
    ErrorTrap trap(display);
    Window root_return = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    const Status geometry = XGetGeometry(display, DefaultRootWindow(display), &root_return, &x, &y,
                                         &width, &height, &border, &depth);
    XImage* image = nullptr;
    if (geometry && !trap.failed()) {
        if (transfer == Transfer::SharedMemoryWhereOffered && !shared_memory_refused) {
            image = grab_shared(width, height, trap);
        }
        last_shared = image != nullptr;
        if (!image && !trap.lost()) image = grab_requested(width, height, trap);
    }
    lost = trap.lost();
    if (!image || lost) return std::nullopt;
    return pixels_of(*image);
}

XImage* ScreenGrabber::Connection::grab_shared(unsigned width, unsigned height,
                                               const ErrorTrap& trap) {
    const bool same_size = shared_image && static_cast<unsigned>(shared_image->width) == width &&
                           static_cast<unsigned>(shared_image->height) == height;
    if (!same_size) {
        release_shared();
        if (!attach_shared(width, height, trap)) {
            // A server on another machine offers the extension but cannot reach our memory.
            shared_memory_refused = !trap.lost();
            return nullptr;
        }
    }
    const Bool taken =
        XShmGetImage(display, DefaultRootWindow(display), shared_image, 0, 0, AllPlanes);
    return taken && !trap.failed() ? shared_image : nullptr;
}

bool ScreenGrabber::Connection::attach_shared(unsigned width, unsigned height,
                                              const ErrorTrap& trap) {
    if (!XShmQueryExtension(display)) return false;
    const int screen = DefaultScreen(display);
    XImage* image = XShmCreateImage(display, DefaultVisual(display, screen),
                                    static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap,
                                    nullptr, &segment, width, height);
    if (!image) return false;
    segment.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height,
                           IPC_CREAT | 0600);
    void* address = segment.shmid < 0 ? reinterpret_cast<void*>(-1)
                                      : shmat(segment.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        if (segment.shmid >= 0) shmctl(segment.shmid, IPC_RMID, nullptr);
        XDestroyImage(image);
        return false;
    }
    segment.shmaddr = image->data = static_cast<char*>(address);
    segment.readOnly = False;
    const Bool attached = XShmAttach(display, &segment);
    XSync(display, False);
    // Marked for removal at once: the segment goes when both sides have detached, also when
    // this process ends without detaching.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (!attached || trap.failed()) {
        image->data = nullptr;
        XDestroyImage(image);
        shmdt(segment.shmaddr);
        return false;
    }
    shared_image = image;
    return true;
}

void ScreenGrabber::Connection::release_shared() {
    if (!shared_image) return;
    if (!lost) {
        ErrorTrap trap(display);
        XShmDetach(display, &segment);
    }
    shared_image->data = nullptr;
    XDestroyImage(shared_image);
    shared_image = nullptr;
    shmdt(segment.shmaddr);
}

XImage* ScreenGrabber::Connection::grab_requested(unsigned width, unsigned height,
                                                  const ErrorTrap& trap) {
    release_requested();
    requested_image =
        XGetImage(display, DefaultRootWindow(display), 0, 0, width, height, AllPlanes, ZPixmap);
    return trap.failed() ? nullptr : requested_image;
}

void ScreenGrabber::Connection::release_requested() {
    if (requested_image) XDestroyImage(requested_image);
    requested_image = nullptr;
}

std::optional<ScreenPixels> ScreenGrabber::Connection::pixels_of(const XImage& image) {
    const Visual& visual = *DefaultVisual(display, DefaultScreen(display));
    ScreenPixels pixels;
    pixels.width = image.width;
    pixels.height = image.height;
    pixels.pixel_format = turbojpeg_format(image, visual);
    if (pixels.pixel_format >= 0) {
        pixels.data = reinterpret_cast<const unsigned char*>(image.data);
        pixels.stride = image.bytes_per_line;
        return pixels;
    }
    if (visual.c_class != TrueColor && visual.c_class != DirectColor) return std::nullopt;
    // Any other true-colour layout (16-bit screens, say), one pixel at a time.
    converted.resize(static_cast<size_t>(image.width) * image.height * 3);
    XImage& readable = const_cast<XImage&>(image);
    unsigned char* out = converted.data();
    for (int row = 0; row < image.height; ++row) {
        for (int column = 0; column < image.width; ++column) {
            const unsigned long pixel = XGetPixel(&readable, column, row);
            *out++ = channel(pixel, visual.red_mask);
            *out++ = channel(pixel, visual.green_mask);
            *out++ = channel(pixel, visual.blue_mask);
        }
    }
    pixels.data = converted.data();
    pixels.stride = image.width * 3;
    pixels.pixel_format = TJPF_RGB;
    return pixels;
}

ScreenGrabber::ScreenGrabber(Transfer transfer) : transfer_(transfer) {}

ScreenGrabber::~ScreenGrabber() = default;

std::optional<ScreenPixels> ScreenGrabber::grab() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        connection_.reset();
        return std::nullopt;
    }
    if (connection_ && (connection_->lost || display_name_ != name)) connection_.reset();
    if (!connection_) {
        connection_ = Connection::open(name);
        if (!connection_) return std::nullopt;
        display_name_ = name;
    }
    return connection_->grab(transfer_);
}

bool ScreenGrabber::used_shared_memory() const { return connection_ && connection_->last_shared; }

}  // namespace snapdesk
