#include "service_metrics.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>

#include "DEV_HUB.h"
#include "ws_connection.h"

#include <dlfcn.h>

namespace countermate {

namespace {

using Clock = std::chrono::steady_clock;

const Clock::time_point started_at = Clock::now();

// Upper bounds of the request-duration buckets, in seconds: quick commands, then waits on the
// customer, who may take a minute.
constexpr std::array<double, 10> kDurationBounds = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                    0.25,  1,    5,     30,   120};

struct MethodFigures {
    std::map<int, uint64_t> results;  // retVal -> requests
    std::array<uint64_t, kDurationBounds.size()> buckets{};
    uint64_t count = 0;
    double seconds = 0;
};

std::mutex figures_lock;  // guards everything below
std::map<std::string, MethodFigures> methods;
std::deque<RecordedError> errors;
TerminalState terminal = TerminalState::Unknown;

std::string local_time_text() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// A label value as Prometheus text needs it: backslash, quote and line feed escaped.
std::string label(const std::string& value) {
    std::string escaped;
    for (const char character : value) {
        if (character == '\\' || character == '"') escaped += '\\';
        if (character == '\n') {
            escaped += "\\n";
            continue;
        }
        escaped += character;
    }
    return escaped;
}

void write_requests(std::ostringstream& out) {
    out << "# HELP countermate_requests_total Requests answered, by method and retVal.\n"
           "# TYPE countermate_requests_total counter\n";
    for (const auto& [method, figures] : methods) {
        for (const auto& [result, count] : figures.results) {
            out << "countermate_requests_total{method=\"" << label(method) << "\",retval=\""
                << result << "\"} " << count << "\n";
        }
    }
    out << "# HELP countermate_request_duration_seconds Time from a request's arrival to its reply.\n"
           "# TYPE countermate_request_duration_seconds histogram\n";
    for (const auto& [method, figures] : methods) {
        const std::string name = label(method);
        uint64_t cumulative = 0;
        for (size_t index = 0; index < kDurationBounds.size(); ++index) {
            cumulative += figures.buckets[index];
            out << "countermate_request_duration_seconds_bucket{method=\"" << name << "\",le=\""
                << kDurationBounds[index] << "\"} " << cumulative << "\n";
        }
        out << "countermate_request_duration_seconds_bucket{method=\"" << name << "\",le=\"+Inf\"} "
            << figures.count << "\n"
            << "countermate_request_duration_seconds_sum{method=\"" << name << "\"} "
            << figures.seconds << "\n"
            << "countermate_request_duration_seconds_count{method=\"" << name << "\"} "
            << figures.count << "\n";
    }
}

void write_gauge(std::ostringstream& out, const char* name, const char* help, double value) {
    out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n"
        << name << " " << value << "\n";
}

// The terminal driver's count of file bytes moved, when the loaded driver keeps one.
void write_transfers(std::ostringstream& out) {
    using Counts = void (*)(uint64_t*, uint64_t*);
    const auto counts =
        handle ? reinterpret_cast<Counts>(dlsym(handle, "CounterMateTransferredBytes")) : nullptr;
    if (!counts) return;
    uint64_t pushed = 0, pulled = 0;
    counts(&pushed, &pulled);
    out << "# HELP countermate_terminal_file_bytes_total File bytes moved to (pushed) and from (pulled) the terminal.\n"
           "# TYPE countermate_terminal_file_bytes_total counter\n"
        << "countermate_terminal_file_bytes_total{direction=\"pushed\"} " << pushed << "\n"
        << "countermate_terminal_file_bytes_total{direction=\"pulled\"} " << pulled << "\n";
}

void write_server(std::ostringstream& out, WsServer* server) {
    if (!server) return;
    const WsServerFigures figures = ws_server_figures(server);
    write_gauge(out, "countermate_clients_connected", "WebSocket clients connected now.",
                figures.clients);
    out << "# HELP countermate_connections_closed_total Connections the service ended, by reason.\n"
           "# TYPE countermate_connections_closed_total counter\n";
    const std::pair<const char*, uint64_t> closes[] = {
        {"protocol_error", figures.protocolErrors},
        {"message_too_big", figures.messagesTooBig},
        {"unfinished_message", figures.unfinishedMessages},
        {"not_reading", figures.stalledClients},
        {"origin_refused", figures.originsRefused},
        {"too_many_from_address", figures.addressLimitRefusals},
    };
    for (const auto& [reason, count] : closes) {
        out << "countermate_connections_closed_total{reason=\"" << reason << "\"} " << count
            << "\n";
    }
}

}  // namespace

const char* terminal_state_name(TerminalState state) {
    switch (state) {
        case TerminalState::Connected: return "connected";
        case TerminalState::Absent: return "absent";
        case TerminalState::Unknown: break;
    }
    return "unknown";
}

void record_request(const std::string& method, int result, std::chrono::duration<double> took,
                    const std::string& message) {
    std::lock_guard<std::mutex> guard(figures_lock);
    MethodFigures& figures = methods[method];
    ++figures.results[result];
    ++figures.count;
    figures.seconds += took.count();
    for (size_t index = 0; index < kDurationBounds.size(); ++index) {
        if (took.count() <= kDurationBounds[index]) {
            ++figures.buckets[index];
            break;
        }
    }
    if (result == 0) return;
    errors.push_back({local_time_text(), method, result, message});
    if (errors.size() > kKeptErrors) errors.pop_front();
}

void record_terminal_result(int code) {
    // Port not open (-3), sending (-4) or receiving (-5) failed: the link is not there.
    const bool absent = code == -3 || code == -4 || code == -5;
    std::lock_guard<std::mutex> guard(figures_lock);
    terminal = absent ? TerminalState::Absent : TerminalState::Connected;
}

TerminalState terminal_state() {
    std::lock_guard<std::mutex> guard(figures_lock);
    return terminal;
}

std::vector<RecordedError> recent_errors() {
    std::lock_guard<std::mutex> guard(figures_lock);
    return std::vector<RecordedError>(errors.begin(), errors.end());
}

double uptime_seconds() { return std::chrono::duration<double>(Clock::now() - started_at).count(); }

std::string metrics_text(WsServer* server) {
    std::ostringstream out;
    {
        std::lock_guard<std::mutex> guard(figures_lock);
        write_requests(out);
        write_gauge(out, "countermate_terminal_up",
                    "1 while the terminal's link was last seen working.",
                    terminal == TerminalState::Connected ? 1 : 0);
    }
    write_transfers(out);
    write_server(out, server);
    write_gauge(out, "countermate_uptime_seconds", "Seconds since the service started.",
                uptime_seconds());
    return out.str();
}

}  // namespace countermate
