#include "terminal_call.h"

#include "CCounterMate.h"
#include "service_metrics.h"

namespace countermate {

std::string terminal_error_text(CCounterMate& terminal, int code) {
    char text[200] = {};
    terminal.GetErrMsg(code, text);
    text[sizeof text - 1] = '\0';
    return text;
}

TerminalResult call_terminal(CCounterMate& terminal, PortClosing closing,
                             const std::function<bool()>& cancelling,
                             const std::function<int()>& operation,
                             const std::function<TerminalResult()>& prepare) {
    TerminalResult result;
    if (prepare) result = prepare();
    bool operation_ran = false;
    if (result.code == 0) {
        if (closing != PortClosing::Never) result.code = terminal.HIDOpenPort();
        operation_ran = result.code == 0;
        if (operation_ran) result.code = operation();
        if (closing != PortClosing::Never) record_terminal_result(result.code);
        result.error_text.clear();
    }
    if (result.error_text.empty()) result.error_text = terminal_error_text(terminal, result.code);

    bool close_port = false;
    switch (closing) {
        case PortClosing::Unconditionally: close_port = true; break;
        case PortClosing::UnlessCancelling: close_port = !cancelling(); break;
        case PortClosing::AfterOperation: close_port = operation_ran && !cancelling(); break;
        case PortClosing::Never:
        case PortClosing::LeftOpen: break;
    }
    if (close_port) terminal.HIDClosePort();
    return result;
}

}  // namespace countermate
