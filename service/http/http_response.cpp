// The answer: status line, header lines, and the body with or without chunks.
#include <strings.h>

#include <climits>
#include <cstring>

#include "http_internal.h"

namespace countermate::http {
namespace {

bool isBlank(char character) { return character == ' ' || character == '\t'; }

// "HTTP/1.1 200 OK": "HTTP" somewhere, then three digits right after the first blank.
bool parseStatusLine(const char* line, size_t length, int* status) {
    if (strncasestr(line, "HTTP", length) == nullptr) return false;
    const char* blank = static_cast<const char*>(memchr(line, ' ', length));
    if (blank == nullptr) return false;
    const char* digits = blank + 1;
    int value = 0;
    for (int index = 0; index < 3; ++index) {
        if (digits[index] < '0' || digits[index] > '9') return false;
        value = value * 10 + (digits[index] - '0');
    }
    if (digits[3] != '\0' && digits[3] != ' ') return false;
    *status = value;
    return true;
}

// Decimal digits only, at least one, up to INT_MAX: a sign, a fraction or an overflow is not a
// length this downloader can count to.
bool parseDecimal(const char* text, int* value) {
    if (*text == '\0') return false;
    long long total = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        total = total * 10 + (*text - '0');
        if (total > INT_MAX) return false;
    }
    *value = int(total);
    return true;
}

// Hexadecimal digits, at least one, up to INT_MAX, then optional blanks and ";extensions".
bool parseChunkSize(const char* text, int* value) {
    long long total = 0;
    const char* digit = text;
    for (;; ++digit) {
        int nibble;
        if (*digit >= '0' && *digit <= '9') nibble = *digit - '0';
        else if (*digit >= 'a' && *digit <= 'f') nibble = *digit - 'a' + 10;
        else if (*digit >= 'A' && *digit <= 'F') nibble = *digit - 'A' + 10;
        else break;
        total = total * 16 + nibble;
        if (total > INT_MAX) return false;
    }
    if (digit == text) return false;
    while (isBlank(*digit)) ++digit;
    if (*digit != '\0' && *digit != ';') return false;
    *value = int(total);
    return true;
}

bool nameIs(const char* name, size_t length, const char* expected) {
    return length == strlen(expected) && strncasecmp(name, expected, length) == 0;
}

bool setContentLength(http_t* info, const char* value) {
    int length = 0;
    if (!parseDecimal(value, &length)) return false;
    // Two different lengths leave no way to know where the body ends.
    if (info->content_length >= 0 && info->content_length != length) return false;
    info->content_length = length;
    return true;
}

bool setLocation(http_t* info, const char* value, size_t length) {
    // A cut Location would send the next request somewhere the server never named.
    if (length >= sizeof info->location) return false;
    memcpy(info->location, value, length + 1);
    return true;
}

// One "Name: value" line of `length` characters in `line`; lines without a colon are ignored.
bool applyHeaderLine(http_t* info, char* line, size_t length) {
    char* colon = static_cast<char*>(memchr(line, ':', length));
    if (colon == nullptr) return true;
    const size_t nameLength = size_t(colon - line);
    char* value = colon + 1;
    char* end = line + length;
    while (value < end && isBlank(*value)) ++value;
    while (end > value && isBlank(end[-1])) --end;
    *end = '\0';
    if (nameIs(line, nameLength, "Content-length")) return setContentLength(info, value);
    if (nameIs(line, nameLength, "Transfer-Encoding")) {
        // Any other coding would leave bytes in the file that are not the resource.
        if (strcasecmp(value, "chunked") != 0) return false;
        info->chunked = 1;
        return true;
    }
    if (nameIs(line, nameLength, "Location")) return setLocation(info, value, size_t(end - value));
    return true;
}

// Reads `length` bytes and saves them, piece by piece. False when the stream ends early.
bool receiveExactly(http_t* info, int length) {
    while (length > 0) {
        const int piece = length < HTTP_BUFFER_SIZE ? length : HTTP_BUFFER_SIZE;
        if (read_data(info, piece) != piece || save_data(info, info->buffer, piece) != 0) {
            return false;
        }
        length -= piece;
    }
    return true;
}

int receiveUntilEnd(http_t* info) {
    for (;;) {
        const int count = read_data(info, HTTP_BUFFER_SIZE);
        if (count < 0) return -1;
        if (count > 0 && save_data(info, info->buffer, count) != 0) return -1;
        if (count < HTTP_BUFFER_SIZE) return 0;
    }
}

}  // namespace

int readLine(http_t* info) {
    size_t length = 0;
    for (;;) {
        const int character = getc(info->stream);
        if (character == EOF) return -1;
        if (character == '\n') break;
        if (character == '\0' || length + 1 >= sizeof info->buffer) return -1;
        info->buffer[length++] = char(character);
    }
    if (length > 0 && info->buffer[length - 1] == '\r') --length;
    info->buffer[length] = '\0';
    return int(length);
}

}  // namespace countermate::http

using namespace countermate::http;

extern "C" {

int parse_http_header(http_t* info) {
    if (info == nullptr || info->stream == nullptr) return -1;
    info->status = 0;
    info->chunked = 0;
    info->content_length = -1;
    info->location[0] = '\0';
    int length = readLine(info);
    if (length < 0 || !parseStatusLine(info->buffer, size_t(length), &info->status)) return -1;
    for (size_t total = size_t(length);;) {
        length = readLine(info);
        if (length < 0) return -1;
        if (length == 0) return 0;
        total += size_t(length);
        if (total > HTTP_MAX_HEADER_BYTES) return -1;
        if (!applyHeaderLine(info, info->buffer, size_t(length))) return -1;
    }
}

int recv_response(http_t* info) {
    if (info == nullptr || info->stream == nullptr) return -1;
    if (info->content_length < 0) return receiveUntilEnd(info);
    return receiveExactly(info, info->content_length) ? 0 : -1;
}

int recv_chunked_response(http_t* info) {
    if (info == nullptr || info->stream == nullptr) return -1;
    for (;;) {
        int size = 0;
        if (readLine(info) < 0 || !parseChunkSize(info->buffer, &size)) return -1;
        if (size == 0) return 0;
        if (size > INT_MAX - info->bytes_written || !receiveExactly(info, size)) return -1;
        // The line end must follow the chunk at once: anything else means the sizes lie.
        if (readLine(info) != 0) return -1;
    }
}

int read_data(http_t* info, int length) {
    if (info == nullptr || info->stream == nullptr || length < 0 || length > HTTP_BUFFER_SIZE) {
        return -1;
    }
    const size_t count = fread(info->buffer, 1, size_t(length), info->stream);
    if (count < size_t(length) && ferror(info->stream)) return -1;
    return int(count);
}

}  // extern "C"
