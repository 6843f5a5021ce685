// The library's one entry: a screen grabber and a JPEG writer shared by every caller.
#include "snapdesk.h"

#include <mutex>

#include "JpegFile.h"
#include "ScreenGrab.h"

namespace {

struct Snapshots {
    snapdesk::ScreenGrabber grabber{snapdesk::Transfer::SharedMemoryWhereOffered};
    snapdesk::JpegFileWriter writer;
};

// Guards the one grabber and writer: callers on several threads take their turns.
std::mutex snapshot_lock;

// Made on first use and destroyed when the library is unloaded, which releases the display
// connection and the shared memory segment.
Snapshots& snapshots() {
    static Snapshots instance;
    return instance;
}

}  // namespace

extern "C" bool SnapDesk(const char* path) {
    if (!path || !*path) return false;
    try {
        std::lock_guard<std::mutex> guard(snapshot_lock);
        Snapshots& shared = snapshots();
        const auto pixels = shared.grabber.grab();
        return pixels && shared.writer.write(*pixels, path);
    } catch (...) {
        return false;  // out of memory: no picture this time
    }
}
