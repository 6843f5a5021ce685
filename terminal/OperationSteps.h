// The one command runner every terminal operation is made of: the files pushed before the
// command, the command itself, and typed result steps that read the answer or pull files after
// it. `TerminalOperation` writes the operation's trace lines, "..." on entry and "return %d" on
// exit, so an operation reads as its steps.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "CJsonObject.h"
#include "CLogTracker.h"
#include "DEV_CounterMate.h"

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

// One command: its name, its parameters (none: no `param` member), the wait in seconds handed
// to the command helper, how its `statusCode` is judged, and the bytes its answer may take.
struct Command {
    const char* name;
    std::optional<CJsonObject> param;
    int wait;
    StatusRule rule;
    int answer_capacity;
};
Command MakeCommand(const char* name, std::optional<CJsonObject> param, int wait, StatusRule rule,
                    int answer_capacity = kAnswerBytes);

// A local file sent to a terminal path before a command.
struct FilePush {
    const char* local_path;
    std::string terminal_path;
};

// ---- result steps, applied in order after a successful answer; the first failure ends them ----

// The text member `member` of the answer's `data`, cut to `capacity` - 1 bytes; a missing
// member or a null `out` leaves `out` untouched.
struct TextMember {
    const char* member;
    char* out;
    size_t capacity;
};
// The whole answer text as received, cut to `capacity` - 1 bytes; skipped for a null `out`.
struct AnswerText {
    char* out;
    size_t capacity;
};
// A numeric member of `data`; a missing member or a null `out` leaves it untouched.
struct IntegerMember {
    const char* member;
    int* out;
};
struct NumberMember {
    const char* member;
    double* out;
};
// A terminal file fetched into a local file; skipped when the local path is empty (the caller
// asked for no copy). A failure returns `failure_code`, or the pull's own code when that is 0.
struct FilePull {
    FilePull(std::string terminal, const char* local, int failure = 0)
        : terminal_path(std::move(terminal)),
          local_path(TextOrEmpty(local)),
          failure_code(failure) {}
    FilePull(std::string terminal, std::string local, int failure = 0)
        : terminal_path(std::move(terminal)), local_path(std::move(local)), failure_code(failure) {}
    std::string terminal_path;
    std::string local_path;
    int failure_code;
};
// A terminal file fetched as Base64 text into `out`, which holds `capacity` bytes; skipped when
// `out` is null. A text that would not fit leaves `out` empty.
struct Base64Pull {
    std::string terminal_path;
    char* out;
    int capacity;
};
// A terminal file fetched as Base64 text into a buffer the driver allocates with the C allocator
// and hands over in *out (the caller releases it with free); skipped when `out` is null. An
// empty terminal path hands over an allocated empty text (nothing to pull). When the pull fails,
// the driver releases what it allocated, *out is null, and the step returns `failure_code`, or
// the pull's own code when that is 0.
struct AllocatedBase64Pull {
    std::string terminal_path;
    char** out;
    int failure_code = 0;
};

using ResultStep = std::variant<TextMember, AnswerText, IntegerMember, NumberMember, FilePull,
                                Base64Pull, AllocatedBase64Pull>;

// One operation on the terminal, from its entry to its result.
class TerminalOperation {
public:
    // Logs "..." under `name`.
    TerminalOperation(CDEV_CounterMate& driver, const char* name, int level = LOG_LEVEL_DEBUG);

    // The whole operation: the pushes, the command, then the steps; stops at the first failure.
    // Logs and returns the result.
    int Run(std::initializer_list<FilePush> pushes, const Command& command,
            const std::vector<ResultStep>& steps = {});
    int Run(const Command& command, const std::vector<ResultStep>& steps = {}) {
        return Run({}, command, steps);
    }

    // The phases of Run, for operations that judge the answer before choosing their results.
    // None of them logs.
    int Push(std::initializer_list<FilePush> pushes);
    int Send(const Command& command);
    int Apply(const std::vector<ResultStep>& steps);

    // The answer of the last command sent, and its `data` object (empty when missing).
    const CJsonObject& Answer() const { return m_answer; }
    CJsonObject Data() const;
    // A numeric member of `data`, or `fallback` when missing.
    int DataInteger(const char* member, int fallback = 0) const;
    // A numeric member of the answer's top level, or `fallback` when missing.
    int TopInteger(const char* member, int fallback = 0) const;

    // Logs "return %d" with `result` and returns it.
    int Return(int result) const;
    const char* name() const { return m_name; }

private:
    int ApplyStep(const ResultStep& step);

    CDEV_CounterMate& m_driver;
    const char* m_name;
    int m_level;
    CJsonObject m_answer;
    std::string m_answer_text;
};

}  // namespace countermate::terminal
