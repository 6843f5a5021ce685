// The shape every terminal request shares: open the terminal port, run one driver operation
// when the port opened, look up the text for the result code, and close the port by the
// request's closing rule.
#pragma once

#include <functional>
#include <string>

class CCounterMate;

namespace countermate {

// While a CancelOpt request runs, no other request closes the port: the cancel is still reading
// its answer there, and it closes the port itself when done. (A request that closed it then
// would lose the cancel's answer, and the cancel would report a time-out after the interaction
// had in fact been cancelled.)
// The handlers' kit (terminal_replies.h) keeps it open in the same way while a screen stream
// reads or pushes through it.
enum class PortClosing {
    UnlessCancelling,  // closed at the end, or by the cancel when one is running
    AfterOperation,    // card reads: closed right after a run operation, unless cancelling
    Never,             // requests that do not touch the port
    LeftOpen,          // opened when needed and left open for the next request
    Unconditionally,   // the CancelOpt request itself
};

struct TerminalResult {
    int code = 0;
    std::string error_text;  // the driver's text for `code` ("操作成功" for 0), or the text of a
                             // preparation that refused the request
};

// Runs `operation` on `terminal` within the port's open and close. `cancelling` is read when
// the operation has returned, so a cancel that arrives meanwhile keeps the port open.
// `prepare`, when given, runs first: a non-zero code is the request's result, with the text it
// carries (a refused argument says why) or, when that is empty, the driver's text for the code;
// the port is then neither opened nor used (it is still closed by the closing rule).
TerminalResult call_terminal(CCounterMate& terminal, PortClosing closing,
                             const std::function<bool()>& cancelling,
                             const std::function<int()>& operation,
                             const std::function<TerminalResult()>& prepare = nullptr);

// The driver's text for `code`.
std::string terminal_error_text(CCounterMate& terminal, int code);

}  // namespace countermate
