// Diagnostics, sleeps and the time-of-day text of the WebSocket layer.
#include <sys/select.h>

#include <cstdarg>
#include <ctime>

#include "ws_api.h"
#include "ws_log.h"

void ws_print(const char* tag, const char* function, int line, const char* format, ...) {
    char text[1024];
    const int head = snprintf(text, sizeof text, "[%s] %s(%d): ", tag, function, line);
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text + head, sizeof text - size_t(head), format, arguments);
    va_end(arguments);
    fputs(text, stdout);
    fflush(stdout);
}

extern "C" {

void ws_delayus(unsigned int us) {
    timeval wait{time_t(us / 1000000), suseconds_t(us % 1000000)};
    select(0, nullptr, nullptr, nullptr, &wait);
}

void ws_delayms(unsigned int ms) {
    timeval wait{time_t(ms / 1000), suseconds_t(ms % 1000 * 1000)};
    select(0, nullptr, nullptr, nullptr, &wait);
}

char* ws_time(void) {
    static thread_local char text[16];
    const long secondOfDay = long(time(nullptr) % 86400);
    const long hour = (secondOfDay / 3600 + 8) % 24;
    snprintf(text, sizeof text, "%02ld:%02ld:%02ld", hour, secondOfDay % 3600 / 60,
             secondOfDay % 60);
    return text;
}

}  // extern "C"
