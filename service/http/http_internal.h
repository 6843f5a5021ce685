// Pieces of the downloader shared between its source files and its tests; hidden from the
// library's users.
#pragma once

#include <cstdint>

#include "http_download.h"

namespace countermate::http {

// Milliseconds on the CLOCK_MONOTONIC clock, the clock of http_t::deadline_ms.
int64_t monotonicMs();

// How long the next wait of `info` may last: HTTP_IO_TIMEOUT_SECONDS, cut to what is left
// before info->deadline_ms. 0 once the deadline has passed.
int waitBudgetMs(const http_t* info);

// Waits until info->socket_fd is ready for `events` (POLLIN, POLLOUT) within waitBudgetMs.
// False on a time-out (errno ETIMEDOUT) or a poll failure.
bool waitReady(const http_t* info, short events);

// Opens a read stream over info->socket_fd whose every read waits at most waitBudgetMs and
// fails once info->deadline_ms has passed. The stream never closes the socket; it reads
// through `info`, which must outlive it. Null when out of memory.
FILE* openSocketStream(http_t* info);

// Reads one line from info->stream into info->buffer without its line end ("\n" or "\r\n")
// and terminates it. Returns its length, or -1 when the stream ends or fails first, when the
// line does not fit the buffer, or when it holds a NUL byte.
int readLine(http_t* info);

// Closes info->stream and info->socket_fd (socket_fd becomes -1); leaves the output file.
void closeConnection(http_t* info);

// Flushes and closes the output file of a finished download. 0, or -1 when the last bytes
// could not be written (the file is then removed as by discardOutput).
int finishOutput(http_t* info);

// Closes the output file of a failed download and removes what it wrote: the file is unlinked
// when info->output_path still names it, and emptied when the path reaches it only through a
// symbolic link. Nothing happens when no output file is open.
void discardOutput(http_t* info);

// Limits of one download; http_download uses the defaults.
struct DownloadLimits {
    int redirects = HTTP_MAX_REDIRECTS;
    int totalMs = HTTP_TOTAL_TIMEOUT_SECONDS * 1000;
};

// http_download with other limits.
int download(const char* url, const char* path, const DownloadLimits& limits);

}  // namespace countermate::http
