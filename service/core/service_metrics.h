// What the service has done since it started, for the status request, the status page and the
// Prometheus text at /metrics. Thread-safe: requests are recorded by the worker and the
// receiving threads, read by whichever thread answers a status query. Nothing recorded here
// names a customer or a file: only request names, result codes and the driver's error texts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct WsServer;

namespace countermate {

// What the service last learnt of the terminal's link.
enum class TerminalState { Unknown, Connected, Absent };
const char* terminal_state_name(TerminalState state);

struct RecordedError {
    std::string when;  // local time, "YYYY-MM-DD HH:MM:SS"
    std::string method;
    int result;
    std::string message;  // the reply's errMsg
};

// One request answered: its name, its retVal and how long it ran.
void record_request(const std::string& method, int result, std::chrono::duration<double> took,
                    const std::string& message);

// The outcome of a terminal operation: a port that opened or a link that worked is there, a
// port that would not open or a link that was lost is absent.
void record_terminal_result(int code);
TerminalState terminal_state();

// The last errors (retVal other than 0), newest last, at most kKeptErrors.
constexpr size_t kKeptErrors = 10;
std::vector<RecordedError> recent_errors();

// Seconds since the service started.
double uptime_seconds();

// The Prometheus text exposition of everything above, plus the server's connection figures.
std::string metrics_text(WsServer* server);

}  // namespace countermate
