// The download: one request and answer per URL, following redirects within the limits.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "http_internal.h"

namespace countermate::http {
namespace {

enum class Outcome { Saved, Redirect, Failed };

// Only a plain-HTTP absolute target can be fetched; "https://" or a relative reference cannot.
bool isFollowable(const char* location) { return strncasecmp(location, "http://", 7) == 0; }

// Requests `url` over a fresh connection and reads the answer into the output file.
Outcome fetch(http_t* info, const char* url) {
    if (parser_URL(url, info) != 0 || connect_server(info) != 0 || send_request(info) != 0 ||
        parse_http_header(info) != 0) {
        return Outcome::Failed;
    }
    if (info->status == 302)
        return isFollowable(info->location) ? Outcome::Redirect : Outcome::Failed;
    if (info->status != 200) return Outcome::Failed;
    info->start_time = time(nullptr);
    const int received = info->chunked ? recv_chunked_response(info) : recv_response(info);
    info->end_time = time(nullptr);
    return received == 0 ? Outcome::Saved : Outcome::Failed;
}

// Follows redirects until an answer is saved, one fails, or the redirect bound is passed.
int follow(http_t* info, const char* url, int redirects) {
    // The next URL lives outside the record, whose location the next answer overwrites.
    char target[HTTP_LOCATION_SIZE + HTTP_HOST_SIZE + HTTP_PATH_SIZE];
    const size_t length = strlen(url);
    if (length >= sizeof target) return -1;
    memcpy(target, url, length + 1);
    for (int followed = 0;; ++followed) {
        const Outcome outcome = fetch(info, target);
        if (outcome == Outcome::Saved) return finishOutput(info);
        if (outcome == Outcome::Failed || followed == redirects) return -1;
        memcpy(target, info->location, strlen(info->location) + 1);
        closeConnection(info);
    }
}

}  // namespace

int download(const char* url, const char* path, const DownloadLimits& limits) {
    if (url == nullptr || path == nullptr) return -1;
    http_t* info = static_cast<http_t*>(calloc(1, sizeof(http_t)));
    if (info == nullptr) return -1;
    info->socket_fd = -1;
    info->output_path = path;
    info->deadline_ms = monotonicMs() + limits.totalMs;
    const int result = follow(info, url, limits.redirects);
    if (result != 0) discardOutput(info);
    clean_up(info);
    return result;
}

}  // namespace countermate::http

extern "C" int http_download(const char* url, const char* path) {
    return countermate::http::download(url, path, countermate::http::DownloadLimits{});
}
