// countermate-call as scripts see it: the built program runs as a child process against small
// in-test servers, and each case checks its exit status and what it printed where.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CJsonObject.h"
#include "ws_server_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
    int status = -1;  // exit status, or -1 when the program did not exit by itself
    std::string out;
    std::string err;
};

// Runs countermate-call with `arguments`; a run beyond `limit` is killed (status -1).
Outcome run_call(const std::vector<std::string>& arguments,
                 std::chrono::seconds limit = std::chrono::seconds(30)) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return {};
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(COUNTERMATE_CALL_PROGRAM));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    Outcome outcome;
    pollfd streams[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* texts[2] = {&outcome.out, &outcome.err};
    const auto deadline = Clock::now() + limit;
    bool killed = false;
    while (streams[0].fd >= 0 || streams[1].fd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (poll(streams, 2, left > 0 ? int(left) : 1000) < 0) break;
        for (int index = 0; index < 2; ++index) {
            if (streams[index].fd < 0 || streams[index].revents == 0) continue;
            char chunk[4096];
            const ssize_t got = read(streams[index].fd, chunk, sizeof chunk);
            if (got > 0) {
                texts[index]->append(chunk, size_t(got));
            } else {
                close(streams[index].fd);
                streams[index].fd = -1;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// What an in-test service does with each request.
enum class Behaviour { Reply, Silence, Close };

// A WebSocket server on the service's own layer: completes handshakes, records each request
// and then answers it with a canned reply, says nothing, or closes the connection.
class CannedService {
public:
    CannedService(Behaviour behaviour, std::string reply)
        : behaviour_(behaviour), reply_(std::move(reply)) {
        port_ = freePort();
        server_ = ws_server_create(port_, nullptr, this, nullptr, on_message, nullptr);
    }
    ~CannedService() { ws_server_release(&server_); }

    // Whether the port accepts connections within a generous bound.
    bool listening() const {
        for (int attempt = 0; attempt < 500 && server_ && !server_->isExit; ++attempt) {
            const int probe = connectTcp(port_);
            if (probe >= 0) {
                close(probe);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> hold(lock_);
        return requests_;
    }

private:
    static void on_message(WsClient* client, char* data, int length, Ws_DataType type) {
        auto* self = static_cast<CannedService*>(client->priv);
        if (length < 1 || type != WsData_Text) return;
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            self->requests_.emplace_back(data, size_t(length));
        }
        if (self->behaviour_ == Behaviour::Reply) {
            ws_send(client->fd, self->reply_.data(), int(self->reply_.size()), false, WsData_Text);
        } else if (self->behaviour_ == Behaviour::Close) {
            ws_send(client->fd, "", 0, false, WsData_Close);
        }
    }

    Behaviour behaviour_;
    std::string reply_;
    int port_ = 0;
    WsServer* server_ = nullptr;
    std::mutex lock_;
    std::vector<std::string> requests_;
};

// A TCP listener that never accepts: connections complete in the kernel's backlog, but no
// handshake is ever answered.
class MuteListener {
public:
    MuteListener() {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 listen(socket_, 8) == 0;
        socklen_t length = sizeof address;
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~MuteListener() { close(socket_); }
    bool bound() const { return bound_; }
    int port() const { return port_; }

private:
    int socket_ = -1;
    bool bound_ = false;
    int port_ = 0;
};

std::string url_of(int port) { return "ws://127.0.0.1:" + std::to_string(port) + "/"; }

// ---- Usage: no service is involved ----

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const char* on_stdout;  // text that stdout must hold ("" : stdout must be empty)
    const char* on_stderr;  // text that stderr must hold ("" : stderr must be empty)
};

class UsageTest : public testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, ExitStatusAndMessage) {
    const UsageCase& expected = GetParam();
    const Outcome outcome = run_call(expected.arguments);
    EXPECT_EQ(outcome.status, expected.status) << outcome.err;
    if (*expected.on_stdout) {
        EXPECT_NE(outcome.out.find(expected.on_stdout), std::string::npos) << outcome.out;
    } else {
        EXPECT_EQ(outcome.out, "");
    }
    if (*expected.on_stderr) {
        EXPECT_NE(outcome.err.find(expected.on_stderr), std::string::npos) << outcome.err;
    } else {
        EXPECT_EQ(outcome.err, "");
    }
}

// The usage text documents every exit status a script may see.
constexpr const char* kExitStatusTable =
    "  0    the reply's retVal is 0\n"
    "  1    the reply's retVal is another value, or the reply carries none\n"
    "  2    wrong usage\n"
    "  3    the service cannot be reached, or does not answer within the wait\n";

INSTANTIATE_TEST_SUITE_P(
    CountermateCall, UsageTest,
    testing::Values(
        UsageCase{"Help", {"--help"}, 0, kExitStatusTable, ""},
        UsageCase{"ShortHelp", {"-h"}, 0, "usage: countermate-call [--url URL]", ""},
        UsageCase{"HelpAfterMethod", {"GetDevID", "--help"}, 0, "usage: countermate-call", ""},
        UsageCase{"NoArguments", {}, 2, "", "usage: countermate-call [--url URL]"},
        UsageCase{"OptionsWithoutMethod", {"--url", "ws://127.0.0.1:1/"}, 2, "", "no METHOD given"},
        UsageCase{"UnknownOption", {"--bogus", "GetDevID"}, 2, "", "unknown option --bogus"},
        UsageCase{"OptionWithoutValue",
                  {"GetDevID", "--timeout"},
                  2,
                  "",
                  "option --timeout needs a value"},
        UsageCase{"TimeoutNotANumber",
                  {"--timeout", "soon", "GetDevID"},
                  2,
                  "",
                  "--timeout expects a positive number of seconds, not 'soon'"},
        UsageCase{"TimeoutZero",
                  {"--timeout=0", "GetDevID"},
                  2,
                  "",
                  "--timeout expects a positive number"},
        UsageCase{"UrlNotWebSocket",
                  {"--url", "http://127.0.0.1:9600/", "GetDevID"},
                  2,
                  "",
                  "--url expects ws://HOST[:PORT][/PATH], not 'http://127.0.0.1:9600/'"},
        UsageCase{"UrlPortNotANumber",
                  {"--url", "ws://127.0.0.1:96x0/", "GetDevID"},
                  2,
                  "",
                  "--url expects ws://HOST[:PORT][/PATH]"},
        UsageCase{
            "ArgsNotJson",
            {"GetDevID", "{outTimes:20"},
            2,
            "",
            "ARGS_JSON must be a JSON object, such as '{\"outTimes\":20}', not '{outTimes:20'"},
        UsageCase{"ArgsAnArray", {"GetDevID", "[1,2]"}, 2, "", "ARGS_JSON must be a JSON object"},
        UsageCase{"ArgsANumber", {"GetDevID", "20"}, 2, "", "ARGS_JSON must be a JSON object"},
        UsageCase{"ArgsAString", {"GetDevID", "\"x\""}, 2, "", "ARGS_JSON must be a JSON object"},
        UsageCase{"ArgumentAfterArgs",
                  {"GetDevID", "{}", "more"},
                  2,
                  "",
                  "unexpected argument 'more'"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

// ---- Against a service ----

struct ServiceCase {
    const char* name;
    Behaviour behaviour;
    const char* reply;                 // for Behaviour::Reply
    std::vector<std::string> options;  // after --url
    const char* method;
    const char* args;  // null: none given
    int status;
    const char* on_stdout;  // the whole of stdout
    std::vector<std::string>
        on_stderr;  // texts that stderr must hold besides the URL (none: empty)
};

class ServiceTest : public testing::TestWithParam<ServiceCase> {};

TEST_P(ServiceTest, ExitStatusAndMessage) {
    const ServiceCase& expected = GetParam();
    CannedService service(expected.behaviour, expected.reply);
    ASSERT_TRUE(service.listening());
    std::vector<std::string> arguments = {"--url", url_of(service.port())};
    arguments.insert(arguments.end(), expected.options.begin(), expected.options.end());
    arguments.push_back(expected.method);
    if (expected.args) arguments.push_back(expected.args);

    const Outcome outcome = run_call(arguments);

    EXPECT_EQ(outcome.status, expected.status) << outcome.err;
    EXPECT_EQ(outcome.out, expected.on_stdout);
    if (expected.on_stderr.empty()) {
        EXPECT_EQ(outcome.err, "");
    } else {
        EXPECT_NE(outcome.err.find(url_of(service.port())), std::string::npos) << outcome.err;
    }
    for (const std::string& text : expected.on_stderr) {
        EXPECT_NE(outcome.err.find(text), std::string::npos) << outcome.err;
    }
    // Whatever the answer, the request went out as the service reads it.
    const std::vector<std::string> requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    CJsonObject request;
    ASSERT_TRUE(request.Parse(requests[0])) << requests[0];
    std::string method;
    CJsonObject args;
    EXPECT_TRUE(request.Get("method", method));
    EXPECT_EQ(method, expected.method);
    ASSERT_TRUE(request.Get("args", args)) << requests[0];
    EXPECT_EQ(args.ToString(), CJsonObject(expected.args ? expected.args : "{}").ToString());
}

INSTANTIATE_TEST_SUITE_P(
    CountermateCall, ServiceTest,
    testing::Values(
        ServiceCase{"Success",
                    Behaviour::Reply,
                    R"({"retVal":0,"devID":"T-1"})",
                    {},
                    "GetDevID",
                    nullptr,
                    0,
                    "{\"retVal\":0,\"devID\":\"T-1\"}\n",
                    {}},
        ServiceCase{"Failure",
                    Behaviour::Reply,
                    R"({"retVal":-3,"errMsg":"busy"})",
                    {},
                    "PlayVoice",
                    R"({"voiceNo":3})",
                    1,
                    "{\"retVal\":-3,\"errMsg\":\"busy\"}\n",
                    {}},
        ServiceCase{"ReplyWithoutRetVal",
                    Behaviour::Reply,
                    R"({"devID":"T-1"})",
                    {},
                    "GetDevID",
                    nullptr,
                    1,
                    "{\"devID\":\"T-1\"}\n",
                    {}},
        ServiceCase{"ReplyNotJson", Behaviour::Reply, "ok", {}, "GetDevID", nullptr, 1, "ok\n", {}},
        // --timeout wins over the request's own outTimes, and may be a fraction.
        ServiceCase{"NoAnswer",
                    Behaviour::Silence,
                    "",
                    {"--timeout", "1.5"},
                    "InputNumber",
                    R"({"outTimes":600})",
                    3,
                    "",
                    {"no answer to InputNumber from ", "within 1.5 s"}},
        ServiceCase{"ClosedWithoutAnswer",
                    Behaviour::Close,
                    "",
                    {},
                    "GetDevID",
                    nullptr,
                    3,
                    "",
                    {"closed the connection without answering GetDevID"}}),
    [](const testing::TestParamInfo<ServiceCase>& info) { return std::string(info.param.name); });

// ---- Nothing that answers ----

TEST(CountermateCall, RefusedConnectionIsToldApartFromSilence) {
    const int port = countermate::testing::free_loopback_port();
    const auto start = Clock::now();
    const Outcome outcome = run_call({"--url", url_of(port), "GetDevID"});
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("connection refused"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find(url_of(port)), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("within"), std::string::npos) << outcome.err;
    // Refusal is known at once: it is not waited out like silence (30 s by default).
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST(CountermateCall, ListenerThatNeverHandshakesIsNotAnswering) {
    MuteListener listener;
    ASSERT_TRUE(listener.bound());
    const Outcome outcome =
        run_call({"--url", url_of(listener.port()), "--timeout", "1", "GetDevID"});
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("accepted the connection but gave no WebSocket handshake"),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(outcome.err.find("refused"), std::string::npos) << outcome.err;
}

}  // namespace
