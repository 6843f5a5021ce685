#include "terminal_call.h"

#include "CCounterMate.h"

namespace countermate {

std::string terminal_error_text(CCounterMate& terminal, int code) {
    char text[200] = {};
    terminal.GetErrMsg(code, text);
    text[sizeof text - 1] = '\0';
    return text;
}

TerminalResult call_terminal(CCounterMate& terminal, PortClosing closing,
                             const std::function<bool()>& cancelling,
                             const std::function<int()>& operation) {
    TerminalResult result;
    bool port_opened = true;
    if (closing != PortClosing::Never) {
        result.code = terminal.HIDOpenPort();
        port_opened = result.code == 0;
    }
    if (port_opened) result.code = operation();
    result.error_text = terminal_error_text(terminal, result.code);

    bool close_port = false;
    switch (closing) {
    case PortClosing::Always: close_port = true; break;
    case PortClosing::UnlessCancelling: close_port = !cancelling(); break;
    case PortClosing::AfterOperation: close_port = port_opened && !cancelling(); break;
    case PortClosing::Never: break;
    }
    if (close_port) terminal.HIDClosePort();
    return result;
}

}  // namespace countermate
