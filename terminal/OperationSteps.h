// The steps every terminal operation is made of, around the one command helper (RunCommand):
// the command's parameters, the files pushed before it and the files pulled after it.
#pragma once

#include <initializer_list>
#include <utility>
#include <variant>

#include "CJsonObject.h"

class CDEV_CounterMate;

namespace countermate::terminal {

// The wait in seconds the answer is given beyond the terminal's own time-out.
constexpr int kAnswerMargin = 2;

// `timeout`, or `fallback` when it is below 1: the time the terminal gives the customer.
inline int TimeoutOr(int timeout, int fallback) { return timeout < 1 ? fallback : timeout; }

// A caller's text argument; null counts as empty.
inline const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }
inline bool IsEmpty(const char* text) { return text == nullptr || *text == '\0'; }

// A command's parameter object, members in the order given.
using ParamValue = std::variant<int, const char*, bool>;
CJsonObject Params(std::initializer_list<std::pair<const char*, ParamValue>> members);

// A local file sent to a terminal path before a command.
struct FilePush {
    const char* local_path;
    const char* terminal_path;
};
// Pushes each file in order; returns the first failure's code, or 0.
int PushAll(CDEV_CounterMate& driver, std::initializer_list<FilePush> pushes);

// A terminal file fetched into a local file after a command; skipped when the local path is
// null or empty (the caller asked for no copy).
struct FilePull {
    const char* terminal_path;
    const char* local_path;
};
// Pulls each file in order; returns the first failure's code, or 0.
int PullAll(CDEV_CounterMate& driver, std::initializer_list<FilePull> pulls);

// A terminal file fetched as Base64 text into `out`, which holds `capacity` bytes; skipped when
// `out` is null. A text that would not fit leaves `out` empty.
struct Base64Pull {
    const char* terminal_path;
    char* out;
    int capacity;
};
// Pulls each file in order; returns the first failure's code, or 0.
int PullAllAsBase64(CDEV_CounterMate& driver, std::initializer_list<Base64Pull> pulls);

}  // namespace countermate::terminal
