// countermate-call: sends one request to a running CounterMate service and prints the reply,
// with an exit status that scripts can rely on (see kUsage).
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "ws_client_connection.h"

namespace {

using countermate::WsClientConnection;

constexpr const char* kUsage =
    "usage: countermate-call [--url URL] [--timeout SECONDS] METHOD [ARGS_JSON]\n"
    "\n"
    "Sends one request to a running CounterMate service and prints the reply as one line.\n"
    "\n"
    "  --url URL          the service: ws://HOST[:PORT][/PATH] (default ws://127.0.0.1:9600/)\n"
    "  --timeout SECONDS  how long to wait for the reply (default: the request's outTimes\n"
    "                     plus 10 s when ARGS_JSON gives a positive one, else 30 s)\n"
    "  METHOD             the request, for example GetDevID\n"
    "  ARGS_JSON          its arguments, a JSON object (default {}), e.g. '{\"outTimes\":20}'\n"
    "  -h, --help         print this text\n"
    "\n"
    "A request that starts a stream (CamGetVideoStream, VideoStart, SignNameScreen_Start)\n"
    "prints every further frame as a line until Ctrl-C, unless its reply reports a failure.\n"
    "\n"
    "Exit status:\n"
    "  0    the reply's retVal is 0\n"
    "  1    the reply's retVal is another value, or the reply carries none\n"
    "  2    wrong usage\n"
    "  3    the service cannot be reached, or does not answer within the wait\n"
    "  130  interrupted (Ctrl-C) before the reply came\n";

enum ExitStatus {
    kSuccess = 0,
    kRequestFailed = 1,
    kUsageError = 2,
    kUnreachable = 3,
    kInterrupted = 130,
};

constexpr double kDefaultWaitSeconds = 30;
constexpr double kMarginOverOutTimes = 10;
// Connecting and the handshake take at most this long, however long the reply may take.
constexpr int kLongestConnectMs = 10000;

struct Options {
    std::string url = "ws://127.0.0.1:9600/";
    std::string host = "127.0.0.1";
    int port = 9600;
    std::string path = "/";
    double timeout_seconds = 0;  // 0: chosen from the request
    std::string method;
    std::string args = "{}";
};

std::atomic<bool> interrupted{false};

void on_interrupt(int) { interrupted = true; }

// Reports wrong usage; the caller returns kUsageError.
int usage_error(const std::string& message) {
    std::fprintf(stderr, "countermate-call: %s\nTry 'countermate-call --help'.\n", message.c_str());
    return kUsageError;
}

// Reads ws://HOST[:PORT][/PATH].
bool parse_url(const std::string& url, Options& options) {
    const std::string scheme = "ws://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    std::string rest = url.substr(scheme.size());
    const size_t slash = rest.find('/');
    options.path = slash == std::string::npos ? "/" : rest.substr(slash);
    rest = rest.substr(0, slash);
    const size_t colon = rest.find(':');
    options.host = rest.substr(0, colon);
    options.port = 80;
    if (colon != std::string::npos) {
        const std::string digits = rest.substr(colon + 1);
        char* end = nullptr;
        const long port = std::strtol(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || port < 1 || port > 65535) return false;
        options.port = int(port);
    }
    options.url = url;
    return !options.host.empty();
}

bool parse_seconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    errno = 0;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && std::isfinite(seconds) && seconds > 0 &&
           seconds <= 24 * 3600 * 365;
}

enum class Parsed { Run, Help, Error };

// Fills `options`, or reports what is wrong (Error) and leaves the exit status to the caller.
Parsed parse_options(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    bool options_ended = false;
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        if (options_ended || argument.empty() || argument[0] != '-' || argument == "-") {
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") return Parsed::Help;
        std::string value;
        bool has_value = false;
        const size_t equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.erase(equals);
            has_value = true;
        }
        if (argument != "--url" && argument != "--timeout") {
            usage_error("unknown option " + argument);
            return Parsed::Error;
        }
        if (!has_value) {
            if (index + 1 >= argc) {
                usage_error("option " + argument + " needs a value");
                return Parsed::Error;
            }
            value = argv[++index];
        }
        if (argument == "--url" && !parse_url(value, options)) {
            usage_error("--url expects ws://HOST[:PORT][/PATH], not '" + value + "'");
            return Parsed::Error;
        }
        if (argument == "--timeout" && !parse_seconds(value, options.timeout_seconds)) {
            usage_error("--timeout expects a positive number of seconds, not '" + value + "'");
            return Parsed::Error;
        }
    }
    if (positional.empty()) {
        usage_error("no METHOD given");
        return Parsed::Error;
    }
    if (positional.size() > 2) {
        usage_error("unexpected argument '" + positional[2] + "' after ARGS_JSON");
        return Parsed::Error;
    }
    options.method = positional[0];
    if (positional.size() == 2) options.args = positional[1];
    return Parsed::Run;
}

// Whether `text` is a JSON object (and not an array, a number or a string).
bool parse_object(const std::string& text, CJsonObject& object) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '{' && object.Parse(text) &&
           !object.IsArray();
}

// The request's own wait in seconds (its outTimes, as a number or numeric text), or 0.
double requested_wait(const CJsonObject& args) {
    double seconds = 0;
    if (args.Get("outTimes", seconds)) return seconds;
    std::string text;
    if (args.Get("outTimes", text)) {
        char* end = nullptr;
        seconds = std::strtod(text.c_str(), &end);
        if (!text.empty() && *end == '\0' && std::isfinite(seconds)) return seconds;
    }
    return 0;
}

double default_wait_seconds(const CJsonObject& args) {
    const double out_times = requested_wait(args);
    return out_times > 0 ? out_times + kMarginOverOutTimes : kDefaultWaitSeconds;
}

bool starts_stream(const std::string& method) {
    static const std::set<std::string> stream_methods = {"CamGetVideoStream", "VideoStart",
                                                         "SignNameScreen_Start"};
    return stream_methods.count(method) != 0;
}

// The reply's retVal, if it carries one.
bool ret_val_of(const std::string& reply, int& ret_val) {
    CJsonObject parsed;
    return parsed.Parse(reply) && !parsed.IsArray() && parsed.Get("retVal", ret_val);
}

int report_open_failure(const WsClientConnection& connection, const Options& options,
                        double handshake_seconds) {
    const char* url = options.url.c_str();
    const char* detail = connection.open_failure_detail().c_str();
    switch (connection.open_failure()) {
        case WsClientConnection::OpenFailure::Refused:
            std::fprintf(stderr,
                         "countermate-call: connection refused: nothing listens at %s "
                         "(is countermate-host running on that port?)\n",
                         url);
            break;
        case WsClientConnection::OpenFailure::Unresolved:
            std::fprintf(stderr, "countermate-call: cannot reach %s: %s\n", url, detail);
            break;
        case WsClientConnection::OpenFailure::NoHandshake:
            std::fprintf(stderr,
                         "countermate-call: %s accepted the connection but gave no WebSocket "
                         "handshake within %g s (%s)\n",
                         url, handshake_seconds, detail);
            break;
        case WsClientConnection::OpenFailure::Rejected:
            std::fprintf(stderr, "countermate-call: %s refused the WebSocket handshake: %s\n", url,
                         detail);
            break;
        default:
            std::fprintf(stderr, "countermate-call: cannot connect to %s: %s\n", url, detail);
            break;
    }
    return kUnreachable;
}

void print_line(const std::string& message) {
    std::printf("%s\n", message.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        std::fputs(kUsage, stderr);
        return kUsageError;
    }
    Options options;
    switch (parse_options(argc, argv, options)) {
        case Parsed::Help: std::fputs(kUsage, stdout); return kSuccess;
        case Parsed::Error: return kUsageError;
        case Parsed::Run: break;
    }
    CJsonObject args;
    if (!parse_object(options.args, args)) {
        return usage_error("ARGS_JSON must be a JSON object, such as '{\"outTimes\":20}', not '" +
                           options.args + "'");
    }
    CJsonObject request;
    request.Add("method", options.method);
    request.Add("args", args);
    const double wait_seconds = options.timeout_seconds > 0 ? options.timeout_seconds
                                                            : default_wait_seconds(args);
    const int wait_ms = int(std::min(wait_seconds * 1000, 2e9));

    signal(SIGINT, on_interrupt);
    signal(SIGTERM, on_interrupt);
    signal(SIGPIPE, SIG_IGN);

    // The handshake may take twice the connection's time (see WsClientConnection::open).
    const int connect_ms = std::max(1, std::min(wait_ms, kLongestConnectMs) / 2);
    WsClientConnection connection;
    if (!connection.open(options.host, options.port, options.path, connect_ms,
                         WsClientConnection::WhenRefused::GiveUp)) {
        return report_open_failure(connection, options, 2 * connect_ms / 1000.0);
    }
    if (!connection.send_text(request.ToString())) {
        std::fprintf(stderr, "countermate-call: the request could not be sent to %s\n",
                     options.url.c_str());
        return kUnreachable;
    }

    std::string reply;
    if (!connection.receive(reply, wait_ms, &interrupted)) {
        if (interrupted) {
            std::fprintf(stderr, "countermate-call: interrupted before %s was answered\n",
                         options.method.c_str());
            return kInterrupted;
        }
        if (connection.closed_by_peer()) {
            std::fprintf(stderr,
                         "countermate-call: %s closed the connection without answering %s\n",
                         options.url.c_str(), options.method.c_str());
        } else {
            std::fprintf(stderr, "countermate-call: no answer to %s from %s within %g s\n",
                         options.method.c_str(), options.url.c_str(), wait_seconds);
        }
        return kUnreachable;
    }
    print_line(reply);
    int ret_val = 0;
    const bool has_ret_val = ret_val_of(reply, ret_val);
    // A stream goes on unless its start reported a failure, after which no frame follows.
    if (starts_stream(options.method) && !(has_ret_val && ret_val != 0)) {
        std::string frame;
        while (connection.receive(frame, 24 * 3600 * 1000, &interrupted)) print_line(frame);
    }
    return has_ret_val && ret_val == 0 ? kSuccess : kRequestFailed;
}
