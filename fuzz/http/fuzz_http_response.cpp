// Arbitrary bytes as a server's answer. The first byte chooses what reads them: the whole
// answer (status line, headers, then the body the headers announce) or a chunked body alone.
// Whatever the bytes, every field stays terminated within its size and no more body is
// written than was given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "http_download.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

FILE* discardStream() {
    static FILE* sink = fopen("/dev/null", "w");
    return sink;
}

void checkHeaderFields(const http_t& info) {
    check(info.status >= 0 && info.status <= 999);
    check(info.chunked == 0 || info.chunked == 1);
    check(info.content_length >= -1);
    check(strnlen(info.location, sizeof info.location) < sizeof info.location);
}

// Reads the answer as the downloader would.
void readAnswer(http_t* info, bool wholeAnswer) {
    if (!wholeAnswer) {
        recv_chunked_response(info);
        return;
    }
    if (parse_http_header(info) != 0) return;
    checkHeaderFields(*info);
    if (info->chunked) {
        recv_chunked_response(info);
    } else if (recv_response(info) == 0 && info->content_length >= 0) {
        check(info->bytes_written == info->content_length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || discardStream() == nullptr) return 0;
    const bool wholeAnswer = (data[0] & 1) == 0;
    // A copy: the memory stream must not be handed the fuzzer's read-only input.
    char* copy = static_cast<char*>(malloc(size - 1));
    memcpy(copy, data + 1, size - 1);
    http_t* info = static_cast<http_t*>(calloc(1, sizeof(http_t)));
    info->socket_fd = -1;
    info->stream = fmemopen(copy, size - 1, "r");
    info->output_file = discardStream();
    if (info->stream != nullptr) {
        readAnswer(info, wholeAnswer);
        check(info->bytes_written >= 0 && size_t(info->bytes_written) <= size - 1);
        fclose(info->stream);
    }
    free(info);
    free(copy);
    return 0;
}
