// The shape every terminal request shares: open the terminal port, run one driver operation
// when the port opened, look up the text for the result code, and close the port by the
// request's closing rule.
#pragma once

#include <functional>
#include <string>

class CCounterMate;

namespace countermate {

enum class PortClosing {
    Always,                 // simple device requests: the port is closed at the end
    UnlessCancelling,       // interactions: left open while a CancelOpt request uses it
    AfterOperation,         // card reads: closed right after a run operation, unless cancelling
    Never,                  // requests that do not touch the port
};

struct TerminalResult {
    int code = 0;
    std::string error_text;   // the driver's text for `code` ("操作成功" for 0)
};

// Runs `operation` on `terminal` within the port's open and close. `cancelling` is read when
// the operation has returned, so a cancel that arrives meanwhile keeps the port open.
TerminalResult call_terminal(CCounterMate& terminal, PortClosing closing,
                             const std::function<bool()>& cancelling,
                             const std::function<int()>& operation);

// The driver's text for `code`.
std::string terminal_error_text(CCounterMate& terminal, int code);

}  // namespace countermate
