// countermate-call: sends one request to a running CounterMate service and prints the reply.
//
//   countermate-call [--url URL] [--timeout SECONDS] METHOD [ARGS_JSON]
//
// URL defaults to ws://127.0.0.1:9600/ and ARGS_JSON to {}. The reply is printed as one line.
// For a request that starts a stream (camera preview, signing-screen mirror), every frame is
// printed as a line until Ctrl-C. Exit status: 0 after a reply, 1 when the service cannot be
// reached or no reply came within the time-out, 2 on wrong usage.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "CJsonObject.h"
#include "ws_client_connection.h"

namespace {

struct Options {
    std::string host = "127.0.0.1";
    int port = 9600;
    std::string path = "/";
    int timeout_seconds = 120;
    std::string method;
    std::string args = "{}";
};

std::atomic<bool> interrupted{false};

void on_interrupt(int) { interrupted = true; }

void print_usage() {
    std::fprintf(stderr,
                 "usage: countermate-call [--url ws://HOST:PORT/PATH] [--timeout SECONDS] METHOD "
                 "[ARGS_JSON]\n");
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
    if (colon != std::string::npos) options.port = std::atoi(rest.c_str() + colon + 1);
    return !options.host.empty() && options.port > 0 && options.port < 65536;
}

bool parse_options(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--url" && index + 1 < argc) {
            if (!parse_url(argv[++index], options)) return false;
        } else if (argument == "--timeout" && index + 1 < argc) {
            options.timeout_seconds = std::atoi(argv[++index]);
            if (options.timeout_seconds <= 0) return false;
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.empty() || positional.size() > 2) return false;
    options.method = positional[0];
    if (positional.size() == 2) options.args = positional[1];
    return true;
}

bool starts_stream(const std::string& method) {
    static const std::set<std::string> stream_methods = {"CamGetVideoStream", "VideoStart",
                                                         "SignNameScreen_Start"};
    return stream_methods.count(method) != 0;
}

std::string build_request(const Options& options, bool& valid_args) {
    CJsonObject args;
    valid_args = args.Parse(options.args);
    CJsonObject request;
    request.Add("method", options.method);
    request.Add("args", args);
    return request.ToString();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        print_usage();
        return 2;
    }
    bool valid_args = false;
    const std::string request = build_request(options, valid_args);
    if (!valid_args) {
        std::fprintf(stderr, "countermate-call: ARGS_JSON is not JSON: %s\n", options.args.c_str());
        return 2;
    }
    signal(SIGINT, on_interrupt);
    signal(SIGTERM, on_interrupt);

    countermate::WsClientConnection connection;
    if (!connection.open(options.host, options.port, options.path, 2000)) {
        std::fprintf(stderr,
                     "countermate-call: cannot connect to ws://%s:%d%s: is countermate-host running?\n",
                     options.host.c_str(), options.port, options.path.c_str());
        return 1;
    }
    if (!connection.send_text(request)) {
        std::fprintf(stderr, "countermate-call: the request could not be sent\n");
        return 1;
    }

    std::string message;
    int status = 0;
    if (!connection.receive(message, options.timeout_seconds * 1000, &interrupted)) {
        std::fprintf(stderr, "countermate-call: no reply to %s within %d s\n", options.method.c_str(),
                     options.timeout_seconds);
        status = 1;
    } else {
        std::printf("%s\n", message.c_str());
        std::fflush(stdout);
        while (starts_stream(options.method) &&
               connection.receive(message, 24 * 3600 * 1000, &interrupted)) {
            std::printf("%s\n", message.c_str());
            std::fflush(stdout);
        }
    }
    return status;
}
