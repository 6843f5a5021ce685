// A local file that closes itself, and the only two ways the driver opens a file a caller names.
#pragma once

#include <cstdio>
#include <memory>

namespace countermate::terminal {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using LocalFile = std::unique_ptr<FILE, FileCloser>;

// Opens `path` for reading only when it names a regular file (symbolic links followed). A FIFO,
// device, socket or directory is refused at once: the open never waits for a writer or a device,
// so a worker is never held by a path it was handed. Null when the path is null, missing,
// unreadable or not a regular file.
LocalFile OpenRegularFileToRead(const char* path);

// Opens `path` for writing from its start, creating it when absent. An existing FIFO, device,
// socket or directory is never waited on, replaced, truncated or written; an existing regular
// file is truncated only once it is known to be one. Null when the path is null, cannot be
// created or opened, or names anything but a regular file.
LocalFile OpenRegularFileToWrite(const char* path);

}  // namespace countermate::terminal
