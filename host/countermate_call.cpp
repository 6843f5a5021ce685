// countermate-call: sends one request to a running CounterMate service and prints the reply.
//
//   countermate-call [--url URL] [--timeout SECONDS] METHOD [ARGS_JSON]
//
// URL defaults to ws://127.0.0.1:9600/ and ARGS_JSON to {}. The reply is printed as one line.
// For a request that starts a stream (camera preview, signing-screen mirror), every frame is
// printed as a line until Ctrl-C. Exit status: 0 after a reply, 1 when the service cannot be
// reached or no reply came within the time-out, 2 on wrong usage.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "ws_api.h"

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

// Waits for the next text message; false on time-out, interruption or a closed connection.
bool receive_message(int socket, int timeout_ms, std::vector<char>& buffer, std::string& message) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!interrupted) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd readable{socket, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
        if (ready <= 0) continue;
        if (readable.revents & (POLLHUP | POLLERR)) return false;
        Ws_DataType type = WsData_None;
        const int length = ws_recv(socket, buffer.data(), static_cast<int>(buffer.size()), &type);
        if (type == WsData_Close) return false;
        if (length > 0 && (type == WsData_Text || type == WsData_Binary)) {
            message.assign(buffer.data(), static_cast<size_t>(length));
            return true;
        }
        if (length == 0 && type == WsData_None) {
            char probe = 0;   // readable with nothing to read: the service closed the connection
            if (recv(socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return false;
        }
    }
    return false;
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

    const int socket = ws_connectToServer(options.host.c_str(), options.port, options.path.c_str(), 2000);
    if (socket <= 0) {
        std::fprintf(stderr,
                     "countermate-call: cannot connect to ws://%s:%d%s: is countermate-host running?\n",
                     options.host.c_str(), options.port, options.path.c_str());
        return 1;
    }
    if (ws_send(socket, request.data(), static_cast<int>(request.size()), true, WsData_Text) <= 0) {
        std::fprintf(stderr, "countermate-call: the request could not be sent\n");
        close(socket);
        return 1;
    }

    std::vector<char> buffer(WS_MAX_MESSAGE + 16);
    std::string message;
    int status = 0;
    if (!receive_message(socket, options.timeout_seconds * 1000, buffer, message)) {
        std::fprintf(stderr, "countermate-call: no reply to %s within %d s\n", options.method.c_str(),
                     options.timeout_seconds);
        status = 1;
    } else {
        std::printf("%s\n", message.c_str());
        std::fflush(stdout);
        while (starts_stream(options.method) && receive_message(socket, 24 * 3600 * 1000, buffer, message)) {
            std::printf("%s\n", message.c_str());
            std::fflush(stdout);
        }
    }
    ws_send(socket, "", 0, true, WsData_Close);
    close(socket);
    return status;
}
