// The opening handshake: keys, the accept value and the 101 answer.
#include <strings.h>

#include <cstring>
#include <ctime>

#include "ws_codec.h"
#include "ws_log.h"

namespace {

constexpr char kGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr char kKeyHeader[] = "Sec-WebSocket-Key";
constexpr size_t kMaxKeyLength = 511;
constexpr size_t kAcceptLength = 28;
constexpr size_t kAnswerCapacity = 512;

bool isBlank(char character) {
    return character == ' ' || character == '\t' || character == '\r' || character == '\n' ||
           character == 0;
}

// Position of `needle` in `text`, compared without regard to letter case; npos when absent.
size_t findNoCase(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) return std::string_view::npos;
    for (size_t position = 0; position + needle.size() <= text.size(); ++position) {
        if (strncasecmp(text.data() + position, needle.data(), needle.size()) == 0) return position;
    }
    return std::string_view::npos;
}

// The value of "Sec-WebSocket-Key:" (the run of non-blank characters after it, at most 511),
// or npos when the header is absent.
size_t findKey(std::string_view request, std::string_view* key) {
    const std::string_view name = kKeyHeader;
    size_t position = 0;
    while (true) {
        const size_t found = findNoCase(request.substr(position), name);
        if (found == std::string_view::npos) return std::string_view::npos;
        position += found + name.size();
        if (position < request.size() && request[position] == ':') break;
    }
    ++position;
    while (position < request.size() && (request[position] == ' ' || request[position] == '\t')) {
        ++position;
    }
    size_t end = position;
    while (end < request.size() && end - position < kMaxKeyLength && !isBlank(request[end])) ++end;
    *key = request.substr(position, end - position);
    return position;
}

}  // namespace

bool ws_hasKeyHeader(std::string_view text) {
    return findNoCase(text, kKeyHeader) != std::string_view::npos;
}

extern "C" {

int ws_buildShakeKey(char* key) {
    uint8_t random[16];
    ws_getRandomString(random, sizeof random);
    return ws_base64_encode(random, key, sizeof random);
}

int ws_buildRespondShakeKey(const char* key, unsigned int keyLength, char* accept) {
    std::string text(key, keyLength);
    text += kGuid;
    uint8_t digest[20];
    if (!sha1_hash(text.data(), text.size(), digest)) return -1;
    return ws_base64_encode(digest, accept, sizeof digest);
}

int ws_matchShakeKey(const char* key, unsigned int keyLength, const char* accept,
                     unsigned int acceptLength) {
    char expected[kAcceptLength + 1];
    const int expectedLength = ws_buildRespondShakeKey(key, keyLength, expected);
    if (expectedLength < 0) return -1;
    if (unsigned(expectedLength) != acceptLength) {
        WS_ERR("len err, clientKey[%d] != acceptKey[%d]\r\n", expectedLength, int(acceptLength));
        return -1;
    }
    if (memcmp(expected, accept, acceptLength) != 0) {
        WS_ERR("strcmp err, clientKey[%.*s -> %s] != acceptKey[%.*s]\r\n", int(keyLength), key,
               expected, int(acceptLength), accept);
        return -1;
    }
    return 0;
}

void ws_buildHttpRespond(const char* key, unsigned int keyLength, char* out) {
    out[0] = 0;
    char accept[kAcceptLength + 1];
    if (ws_buildRespondShakeKey(key, keyLength, accept) < 0) return;
    char date[128];
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(date, sizeof date, "Date: %a, %d %b %Y %T %Z", &local);
    snprintf(out, kAnswerCapacity,
             "HTTP/1.1 101 Switching Protocols\r\n"
             "Upgrade: websocket\r\n"
             "Server: Microsoft-HTTPAPI/2.0\r\n"
             "Connection: Upgrade\r\n"
             "Sec-WebSocket-Accept: %s\r\n"
             "%s\r\n\r\n",
             accept, date);
}

int ws_responseClient(int fd, const char* request, int length, const char* path) {
    if (!request || length <= 0) return -1;
    const std::string answer = ws_handshakeAnswer(std::string_view(request, size_t(length)), path);
    if (answer.empty()) return -1;
    const int sent = ws_send(fd, answer.data(), int(answer.size()), false, WsData_None);
    return sent > 0 ? sent : -1;
}

}  // extern "C"

std::string ws_handshakeAnswer(std::string_view request, const char* path) {
    if (path && path[0] && request.find(path) == std::string_view::npos) {
        WS_ERR("path not matched\r\n");
        return {};
    }
    std::string_view key;
    if (findKey(request, &key) == std::string_view::npos) {
        WS_ERR("Sec-WebSocket-Key not found\r\n");
        return {};
    }
    if (key.empty()) {
        WS_ERR("Sec-WebSocket-Key not matched\r\n");
        return {};
    }
    char answer[kAnswerCapacity];
    ws_buildHttpRespond(key.data(), unsigned(key.size()), answer);
    return answer;
}

bool ws_findHeader(std::string_view request, std::string_view name, std::string_view* value) {
    size_t lineStart = request.find("\r\n");
    while (lineStart != std::string_view::npos) {
        lineStart += 2;
        const size_t lineEnd = request.find("\r\n", lineStart);
        const std::string_view line = request.substr(lineStart, lineEnd == std::string_view::npos
                                                                    ? std::string_view::npos
                                                                    : lineEnd - lineStart);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.data(), name.data(), name.size()) == 0) {
            std::string_view found = line.substr(name.size() + 1);
            while (!found.empty() && (found.front() == ' ' || found.front() == '\t'))
                found.remove_prefix(1);
            while (!found.empty() && (found.back() == ' ' || found.back() == '\t'))
                found.remove_suffix(1);
            *value = found;
            return true;
        }
        lineStart = lineEnd;
    }
    return false;
}

bool ws_originAllowed(const std::vector<std::string>& allowed, std::string_view origin) {
    for (const std::string& candidate : allowed) {
        if (candidate.size() == origin.size() &&
            strncasecmp(candidate.data(), origin.data(), origin.size()) == 0) {
            return true;
        }
    }
    return false;
}
