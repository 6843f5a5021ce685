// URL splitting and the case-insensitive search.
#include <strings.h>

#include <cctype>
#include <cstring>

#include "http_download.h"

namespace {

// Bytes that may stand in a host or a path: a space or a control character there would end
// the request line or start a header of the request.
bool isPrintable(const char* text, size_t length) {
    for (size_t index = 0; index < length; ++index) {
        const unsigned char character = static_cast<unsigned char>(text[index]);
        if (character <= 0x20 || character == 0x7f) return false;
    }
    return true;
}

// A decimal port between `text` and `end`: 1 to 5 digits, value 1..65534.
bool parsePort(const char* text, const char* end, int* port) {
    const size_t length = size_t(end - text);
    if (length == 0 || length > 5) return false;
    int value = 0;
    for (const char* digit = text; digit < end; ++digit) {
        if (*digit < '0' || *digit > '9') return false;
        value = value * 10 + (*digit - '0');
    }
    if (value < 1 || value > 65534) return false;
    *port = value;
    return true;
}

}  // namespace

extern "C" {

// The scheme is skipped only as a prefix: "http://" further on (say in a query) belongs to the
// path. Any other scheme ends its host part in "scheme:" with an empty port and is refused.
int parser_URL(const char* url, http_t* info) {
    if (url == nullptr || info == nullptr) return -1;
    const char* text = url;
    if (strncasecmp(text, "http://", 7) == 0) text += 7;
    const char* slash = strchr(text, '/');
    if (slash == nullptr) return -1;
    const char* colon = static_cast<const char*>(memchr(text, ':', size_t(slash - text)));
    const char* hostEnd = colon != nullptr ? colon : slash;
    const size_t hostLength = size_t(hostEnd - text);
    if (hostLength == 0 || hostLength >= HTTP_HOST_SIZE || !isPrintable(text, hostLength)) {
        return -1;
    }
    int port = 80;
    if (colon != nullptr && !parsePort(colon + 1, slash, &port)) return -1;
    const size_t pathLength = strlen(slash);
    if (pathLength >= HTTP_PATH_SIZE || !isPrintable(slash, pathLength)) return -1;

    memcpy(info->host, text, hostLength);
    info->host[hostLength] = '\0';
    info->port = port;
    memcpy(info->path, slash, pathLength + 1);
    return 0;
}

char* strncasestr(const char* text, const char* pattern, size_t length) {
    if (text == nullptr || pattern == nullptr) return nullptr;
    const size_t patternLength = strlen(pattern);
    const size_t textLength = strnlen(text, length);
    if (patternLength > textLength) return nullptr;
    for (size_t start = 0; start + patternLength <= textLength; ++start) {
        if (strncasecmp(text + start, pattern, patternLength) == 0) {
            return const_cast<char*>(text + start);
        }
    }
    return nullptr;
}

}  // extern "C"
