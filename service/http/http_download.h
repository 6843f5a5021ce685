// A small HTTP/1.1 downloader exported by libCounterMateServer: fetches one http:// URL into a
// local file. Plain HTTP over IPv4 only (no TLS, no proxies, no IPv6 literals).
//
// http_download is the whole operation; the helpers below are its steps, exported so that a
// caller can run them one by one over its own record. Every helper takes a record the caller
// owns and borrows it for the call only. Results are 0 for success and -1 for failure unless a
// declaration says otherwise; a null record or argument is a failure, never a crash.
//
// Thread-safety: no helper keeps global state; calls over different records may run on any
// threads at once. One record is used by one thread at a time.
#pragma once

#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#define HTTP_EXPORT __attribute__((visibility("default")))

// Sizes of the record's text fields, terminator included.
#define HTTP_HOST_SIZE 256
#define HTTP_PATH_SIZE 2048
#define HTTP_BUFFER_SIZE 8192
#define HTTP_LOCATION_SIZE 2048

// Redirects (status 302) that http_download follows before it gives up.
#define HTTP_MAX_REDIRECTS 5
// Longest that one read or one send may wait for the server, in seconds.
#define HTTP_IO_TIMEOUT_SECONDS 10
// Longest that one http_download call may take from start to end, redirects included, in
// seconds: a server that trickles bytes just inside the per-read time-out is cut off here.
#define HTTP_TOTAL_TIMEOUT_SECONDS 120
// Most header bytes accepted in one answer (status line and header lines, line ends excluded).
#define HTTP_MAX_HEADER_BYTES 65536

// One download in progress. Zero-initialise it and set socket_fd to -1 before the first helper.
typedef struct http_t {
    int socket_fd;                      // connected TCP socket, -1 when none
    FILE* stream;                       // read stream over socket_fd (connect_server), or null
    char host[HTTP_HOST_SIZE];          // host name or dotted address of the URL
    int port;                           // TCP port, 1..65534
    char path[HTTP_PATH_SIZE];          // request path, starting with "/"
    char buffer[HTTP_BUFFER_SIZE];      // work buffer: request text, header lines, body pieces
    int status;                         // status code of the answer
    int chunked;                        // 1 when the body comes in chunks
    int content_length;                 // body length in bytes; -1 when the answer gives none
    char location[HTTP_LOCATION_SIZE];  // Location header value, "" when absent
    const char* output_path;            // file the body goes to; borrowed from the caller
    FILE* output_file;                  // open output file, or null before the first piece
    int bytes_written;                  // body bytes written to output_file so far
    time_t start_time;                  // wall-clock second the body started (http_download)
    time_t end_time;                    // wall-clock second the body ended (http_download)
    // Point on the CLOCK_MONOTONIC clock, in milliseconds, after which every connect, read and
    // send of this record fails; 0 means no limit beyond the per-call time-outs.
    int64_t deadline_ms;
} http_t;

#ifdef __cplusplus
extern "C" {
#endif

// Downloads `url` into the file `path`.
//
// `url` is "http://host[:port]/path" (the scheme may be left out; it is matched without regard
// to case). The port is 1..65534 (80 when absent); a URL without a "/" after the host, with an
// empty host, a host longer than 255 or a path longer than 2047 characters, or with a space or
// control character in host or path is refused before anything is sent.
//
// Outcome by the server's answer:
//  - 200 with a Content-length: exactly that many bytes are written to `path`;
//  - 200 with "Transfer-Encoding: chunked": the joined chunks are written;
//  - 200 with neither: the bytes up to the server's close are written (the request asks for
//    "Connection: Close", so the close marks the end);
//  - a 200 body of no bytes returns 0 and creates no file (an existing file stays untouched);
//  - 302: the Location, which must be an absolute http:// URL (https:// and relative targets
//    fail), is downloaded to the same path instead, at most HTTP_MAX_REDIRECTS times;
//  - any other status, a Transfer-Encoding other than "chunked", a header line longer than the
//    work buffer, more than HTTP_MAX_HEADER_BYTES of header, a malformed or negative length, a
//    body above 2^31-1 bytes, a body cut short, a failed write, a read or send that waits
//    HTTP_IO_TIMEOUT_SECONDS, or a download that lasts HTTP_TOTAL_TIMEOUT_SECONDS fail.
//
// `path` is opened only once the first body byte is there, and only as a regular file: it is
// created when absent and emptied when it is a regular file; a FIFO, device, socket or
// directory there is never waited on, replaced or written, and fails the download. On failure
// nothing written stays behind: a file this call wrote to is removed (when `path` is a symbolic
// link, the file it points to is emptied instead, and the link stays).
//
// Returns 0 on success, -1 on any failure (including a null argument). Name resolution is bound
// by the system resolver's own time-outs rather than the total limit. Blocks the calling thread
// for the whole download.
HTTP_EXPORT int http_download(const char* url, const char* path);

// Splits `url` (as described at http_download) into info->host, info->port and info->path.
// Nothing is written to `info` on failure.
HTTP_EXPORT int parser_URL(const char* url, http_t* info);

// Resolves `host` (a name or a dotted IPv4 address) to its first IPv4 address, in network
// order, into *address.
HTTP_EXPORT int dns(const char* host, struct in_addr* address);

// Gives `socket_fd` send and receive time-outs of HTTP_IO_TIMEOUT_SECONDS.
HTTP_EXPORT int set_socket_option(int socket_fd);

// Resolves info->host, opens a TCP socket with set_socket_option, connects it to info->port
// within HTTP_IO_TIMEOUT_SECONDS (and info->deadline_ms), and opens info->stream over it.
// On success the record owns the socket and the stream (clean_up closes them); on failure
// nothing is left open and info->socket_fd is -1.
HTTP_EXPORT int connect_server(http_t* info);

// Sends the GET request for info->path and info->host, built in info->buffer:
// "GET <path> HTTP/1.1\r\nAccept: */*\r\nUser-Agent: Mozilla/5.0 (compatible; MSIE 5.01;
// Windows NT 5.0)\r\nHost: <host>\r\nConnection: Close\r\n\r\n". Fails when not every byte
// could be sent within the time-outs.
HTTP_EXPORT int send_request(http_t* info);

// Reads the status line and the header lines from info->stream, up to the empty line, and sets
// info->status, info->chunked, info->content_length (-1 when absent) and info->location.
// Header names are matched whole and without regard to case; lines may end in "\r\n" or "\n".
// Fails on: an end of stream before the empty line; a status line without "HTTP", a blank and
// a three-digit status; a line that does not fit info->buffer or holds a NUL; more than
// HTTP_MAX_HEADER_BYTES of header; a Content-length that is not a decimal number up to
// 2^31-1, or two that differ; a Transfer-Encoding other than "chunked"; a Location of more
// than HTTP_LOCATION_SIZE-1 characters.
HTTP_EXPORT int parse_http_header(http_t* info);

// Reads a body that is not chunked and hands it to save_data in pieces of up to
// HTTP_BUFFER_SIZE bytes: exactly info->content_length bytes, or, when that is -1, everything
// up to the end of the stream. A stream that ends before the length is a failure.
HTTP_EXPORT int recv_response(http_t* info);

// Reads a chunked body (hexadecimal size line, optionally with ";extensions"; the chunk; its
// line end; until a size of 0) and hands it to save_data. A size line that does not fit the
// work buffer or is not hexadecimal, a total above 2^31-1 bytes, bytes between a chunk and its
// line end, or a stream that ends before the last chunk fail.
HTTP_EXPORT int recv_chunked_response(http_t* info);

// Reads up to `length` bytes (0..HTTP_BUFFER_SIZE) from info->stream into info->buffer.
// Returns the bytes read: `length`, or fewer only when the stream ended first; -1 on a read
// error, a time-out or a `length` out of range.
HTTP_EXPORT int read_data(http_t* info, int length);

// Appends `length` bytes of `data` to the output file, first opening info->output_path (as
// described at http_download) when info->output_file is null. A caller may instead put a
// stream of its own into info->output_file beforehand. Adds to info->bytes_written. Fails when
// the file cannot be opened as a regular file, when not every byte is written, or when
// info->bytes_written would pass 2^31-1.
HTTP_EXPORT int save_data(http_t* info, const char* data, int length);

// Bytes written per second: info->bytes_written divided by end_time - start_time, where an
// elapsed time of 0 (or less, should the wall clock have stepped back) counts as 1 second.
// Returns 0 for a null record.
HTTP_EXPORT float calc_download_speed(http_t* info);

// Closes the stream, the socket and the output file of `info` and frees it. `info` must come
// from malloc or calloc; null is ignored. The output file is closed as it is, not removed.
HTTP_EXPORT void clean_up(http_t* info);

// Finds `pattern` in the first `length` characters of `text` (fewer when `text` ends sooner),
// comparing ASCII letters without regard to case. Returns the first match, `text` for an empty
// pattern, or null when there is none or an argument is null.
HTTP_EXPORT char* strncasestr(const char* text, const char* pattern, size_t length);

#ifdef __cplusplus
}  // extern "C"
#endif
