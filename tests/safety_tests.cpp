// The service tried as a hostile or careless client would: pages that leave mid-request, clients
// that stop reading or hold half a message, bytes that are no frame, foreign origins, the
// network, and too many connections. Each case checks that the other pages are still served.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "CJsonObject.h"
#include "raw_ws_socket.h"
#include "service_fixture.h"

namespace countermate::testing {
namespace {

using Clock = std::chrono::steady_clock;
using ServerKeys = std::vector<std::pair<std::string, std::string>>;

const char kGetDevId[] = R"({"method":"GetDevID","args":{}})";

// The sanitizers' allocators keep freed memory (in quarantine, in their own caches), so the
// host's size says nothing there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

// A service on a simulated terminal, run from a deploy folder with its own [SERVER] keys.
class Service {
public:
    explicit Service(const ServerKeys& keys, const std::vector<std::string>& removed = {})
        : deploy_(keys, removed) {
        sim::TerminalSimulator::Options options;
        options.socket_path = folder_.path() + "/terminal.sock";
        options.storage_dir = folder_.path() + "/storage";
        options.record_reports = false;
        std::filesystem::create_directories(options.storage_dir);
        terminal_ = std::make_unique<sim::TerminalSimulator>(options);
        sim::AddStandardVocabulary(*terminal_);
        port_ = free_port();
        started_ = terminal_->Start() &&
                   host_.start(port_, options.socket_path, log_path(), deploy_.path());
    }
    ~Service() {
        host_.stop(SIGTERM);
        terminal_->Stop();
    }

    bool started() const { return started_; }
    int port() const { return port_; }
    sim::TerminalSimulator& terminal() { return *terminal_; }
    std::string log_path() const { return folder_.path() + "/host.log"; }
    std::string log() const {
        std::ifstream file(log_path());
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    // The host's resident memory in KiB.
    long resident_kib() const {
        std::ifstream status("/proc/" + std::to_string(host_.pid()) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        }
        return -1;
    }
    std::unique_ptr<WsClientConnection> connect() {
        auto client = std::make_unique<WsClientConnection>();
        client->open("127.0.0.1", port_, "/", 2000);
        return client;
    }

private:
    TemporaryFolder folder_;
    DeployCopy deploy_;
    std::unique_ptr<sim::TerminalSimulator> terminal_;
    HostProcess host_;
    int port_ = 0;
    bool started_ = false;
};

int ret_val(const std::string& reply) {
    CJsonObject parsed;
    int value = 99;
    if (!parsed.Parse(reply) || !parsed.Get("retVal", value)) return 99;
    return value;
}

// Calls GetDevID until it is served rather than refused as busy; its last retVal.
int served_get_dev_id(WsClientConnection& client, std::chrono::seconds within) {
    const auto deadline = Clock::now() + within;
    int value = 99;
    do {
        value = ret_val(call_service(client, kGetDevId, 2000));
        if (value != -17) return value;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < deadline);
    return value;
}

// The socket numbers of the "onLogin: fd/N" lines of the host's output, in order.
std::vector<int> login_sockets(const std::string& log) {
    std::vector<int> sockets;
    const std::regex line("onLogin: fd/([0-9]+)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it) {
        sockets.push_back(std::stoi((*it)[1]));
    }
    return sockets;
}

int occurrences(const std::string& log, const std::string& text) {
    int found = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
    return found;
}

// Waits until the host's output holds `text` at least `count` times.
bool wait_for_log(Service& service, const std::string& text, int count) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (occurrences(service.log(), text) >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// One service with the shipped settings for the suites that need no settings of their own.
class SafetyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!service_) service_ = new Service(ServerKeys{});
    }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(service_->started()) << service_->log();
        // Every test starts with the service free: the last one's request has ended.
        auto probe = service_->connect();
        ASSERT_EQ(served_get_dev_id(*probe, std::chrono::seconds(10)), 0);
    }
    void TearDown() override {
        for (const char* command : {"idcard", "InputNumber"}) terminal().Script(command, {});
    }
    sim::TerminalSimulator& terminal() { return service_->terminal(); }
    size_t commands() { return terminal().Commands().size(); }
    // A raw client whose onLogin line the host has printed (its socket number is the last one).
    std::unique_ptr<RawWsSocket> logged_in_client() {
        const int logins = occurrences(service_->log(), "onLogin:");
        auto client = raw_client();
        EXPECT_TRUE(wait_for_log(*service_, "onLogin:", logins + 1));
        return client;
    }
    // A raw client that completed its handshake.
    std::unique_ptr<RawWsSocket> raw_client(int receive_buffer = 0) {
        auto client = std::make_unique<RawWsSocket>();
        EXPECT_TRUE(client->connect(service_->port(), "127.0.0.1", nullptr, receive_buffer));
        EXPECT_EQ(client->handshake(), "HTTP/1.1 101 Switching Protocols");
        return client;
    }

    static Service* service_;
};

Service* SafetyTest::service_ = nullptr;

// ---- replies only to the asking page ----

TEST_F(SafetyTest, DepartedPagesReplyNeverReachesThePageThatGetsItsSocketNumber) {
    sim::CommandScript late;
    late.delay_ms = 1500;  // the card is read after its page has gone
    terminal().Script("idcard", late);
    const size_t before = commands();
    auto departing = logged_in_client();
    const int socket_number = login_sockets(service_->log()).back();
    ASSERT_TRUE(departing->write(RawWsSocket::frame(1, R"({"method":"ReadIDCard","args":{}})")));
    ASSERT_TRUE(terminal().WaitForCommands(before + 1, 5000));
    departing->close();

    // The next page to connect once the departed page's socket is closed gets its number.
    std::unique_ptr<RawWsSocket> next;
    for (int attempt = 0; attempt < 50; ++attempt) {
        next = logged_in_client();
        if (login_sockets(service_->log()).back() == socket_number) break;
        next.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(next) << "no new page was given the departed page's socket number";
    // The card answer arrives meanwhile; its reply must go nowhere.
    const RawWsSocket::Frame stray = next->read_frame(3000);
    EXPECT_EQ(stray.opcode, -1) << stray.payload;
    ASSERT_TRUE(next->write(RawWsSocket::frame(1, kGetDevId)));
    const RawWsSocket::Frame reply = next->read_frame(5000);
    EXPECT_EQ(ret_val(reply.payload), 0) << reply.payload;
}

TEST_F(SafetyTest, PageLeavingMidWaitCancelsItAndTheNextPageIsServed) {
    sim::CommandScript never;
    never.fault = sim::Fault::kNeverAnswer;
    terminal().Script("idcard", never);
    const size_t before = commands();
    auto departing = raw_client();
    ASSERT_TRUE(departing->write(
        RawWsSocket::frame(1, R"({"method":"ReadIDCard","args":{"outTimes":60}})")));
    ASSERT_TRUE(terminal().WaitForCommands(before + 1, 5000));
    departing->close();

    auto next = service_->connect();
    // Served within seconds rather than refused as busy for the minute of the wait.
    EXPECT_EQ(served_get_dev_id(*next, std::chrono::seconds(10)), 0);
    const std::vector<std::string> received = terminal().Commands();
    EXPECT_EQ(received.at(before + 1), R"({"command":"Cancel"})");
}

// ---- no client stalls another ----

struct SlowReader {
    const char* name;
    // What the client that never reads sends; it may wait on the terminal in between.
    std::function<void(sim::TerminalSimulator&, RawWsSocket&)> send;
};

class SafetySlowReaders : public SafetyTest, public ::testing::WithParamInterface<SlowReader> {};

TEST_P(SafetySlowReaders, OthersAreServedAndTheStalledClientIsDisconnected) {
    auto stalled = raw_client(4096);
    GetParam().send(terminal(), *stalled);
    auto other = service_->connect();
    const auto asked = Clock::now();
    const std::string reply = call_service(*other, kGetDevId, 1000);
    // Answered (served, or refused as busy while the stalled client's own request runs), and
    // at once: nothing waits behind the client that does not read.
    EXPECT_TRUE(ret_val(reply) == 0 || ret_val(reply) == -17) << reply;
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(1));
    EXPECT_TRUE(stalled->wait_hung_up(15000)) << "the client that never reads is still connected";
    EXPECT_EQ(served_get_dev_id(*other, std::chrono::seconds(10)), 0);
}

// Pings of the largest size a control frame may have, answered by pongs it never reads.
void send_pings(sim::TerminalSimulator&, RawWsSocket& client) {
    const std::string ping = RawWsSocket::frame(9, std::string(125, 'p'));
    std::string burst;
    for (int index = 0; index < 48000; ++index) burst += ping;
    ASSERT_TRUE(client.write(burst));
}

// Its own request keeps the service busy and every request after it is refused; the client
// reads none of the refusals.
void send_requests_while_busy(sim::TerminalSimulator& terminal, RawWsSocket& client) {
    sim::CommandScript never;
    never.fault = sim::Fault::kNeverAnswer;
    terminal.Script("InputNumber", never);
    std::string burst = RawWsSocket::frame(1, R"({"method":"InputNumber","args":{"outTimes":60}})");
    // Long method names make long refusals: more than the kernel buffers for the socket.
    const std::string refused =
        RawWsSocket::frame(1, R"({"method":")" + std::string(128, 'M') + R"(","args":{}})");
    for (int index = 0; index < 32000; ++index) burst += refused;
    ASSERT_TRUE(client.write(burst));
}

// Card reads whose replies (about 2.8 MB each, three large pictures) are more than the socket
// buffers hold. A request sent while the previous one still runs is refused, so each is sent
// until the terminal has it.
void send_large_reply_requests(sim::TerminalSimulator& terminal, RawWsSocket& client) {
    sim::CommandScript card;
    card.answer = R"({"success":true,"statusCode":0,"data":{"name":"张三"}})";
    terminal.Script("idcard", card);
    const std::string picture(700 * 1024, 'P');
    for (const char* file :
         {"idcard_photo.png", "idcard_negative_photo.png", "idcard_positive_photo.png"}) {
        const std::string path =
            terminal.StoragePath(std::string("/sdcard/ZR/CounterMate/temp/") + file);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << picture;
    }
    for (int request = 0; request < 3; ++request) {
        const size_t before = terminal.Commands().size();
        bool taken = false;
        for (int attempt = 0; attempt < 20 && !taken; ++attempt) {
            ASSERT_TRUE(
                client.write(RawWsSocket::frame(1, R"({"method":"ReadIDCard_Base64","args":{}})")));
            taken = terminal.WaitForCommands(before + 1, 1000);
        }
        ASSERT_TRUE(taken);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SafetySlowReaders,
    ::testing::Values(SlowReader{"PongsNeverRead", send_pings},
                      SlowReader{"BusyRepliesNeverRead", send_requests_while_busy},
                      SlowReader{"WorkerRepliesNeverRead", send_large_reply_requests}),
    [](const ::testing::TestParamInfo<SlowReader>& info) { return info.param.name; });

// ---- bounded memory ----

TEST_F(SafetyTest, HalfSentMessagesStayWithinTheBudgetAndAreClosed) {
    const long before = service_->resident_kib();
    constexpr int kClients = 24;
    constexpr size_t kSent = 4 * 1024 * 1024;
    const std::string half = RawWsSocket::frame(1, std::string(kSent, 'h'), true, 10 * 1024 * 1024);
    std::vector<std::unique_ptr<RawWsSocket>> holders;
    for (int index = 0; index < kClients; ++index) {
        holders.push_back(raw_client());
        holders.back()->write(half);  // fails for the clients closed over the budget
    }
    const long holding = service_->resident_kib();
    if (kMemoryIsMeasurable) {
        EXPECT_LT(holding - before, (64 + 32) * 1024) << "held " << holding - before << " KiB";
    }

    auto other = service_->connect();
    EXPECT_EQ(ret_val(call_service(*other, kGetDevId)), 0);
    // Over the budget at once, or after a few seconds of silence: every holder is closed.
    for (auto& holder : holders) EXPECT_EQ(holder->close_code(15000), 1008);
    holders.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long after = service_->resident_kib();
    if (kMemoryIsMeasurable) {
        EXPECT_LT(after - before, 16 * 1024) << "kept " << after - before << " KiB after they left";
    }
}

// ---- protocol errors close ----

TEST_F(SafetyTest, BadFrameClosesAfterTheRequestBeforeIt) {
    const struct {
        const char* name;
        std::string after;
        int close_code;
    } cases[] = {
        {"bytes that are no frame", "hello", 1002},
        {"a length of 4 GiB", std::string("\x81\xFF\0\0\0\0\xFF\xFF\xFF\xFF", 10), 1009},
        {"one byte above the message limit", RawWsSocket::frame(1, "", true, 10 * 1024 * 1024 + 1),
         1009},
        {"a ping above 125 bytes", RawWsSocket::frame(9, std::string(126, 'p')), 1002},
    };
    auto other = service_->connect();
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const size_t before = commands();
        auto client = raw_client();
        ASSERT_TRUE(client->write(RawWsSocket::frame(1, kGetDevId) + test.after));
        EXPECT_EQ(client->close_code(), test.close_code);
        // The request before the bad bytes was carried out all the same.
        EXPECT_TRUE(terminal().WaitForCommands(before + 1, 5000));
        EXPECT_EQ(terminal().Commands().back(), R"({"command":"GetDeviceCode"})");
        EXPECT_EQ(served_get_dev_id(*other, std::chrono::seconds(10)), 0);
    }
}

TEST_F(SafetyTest, BusyReplyEchoesTheMethodAsValidUtf8OfASaneLength) {
    sim::CommandScript never;
    never.fault = sim::Fault::kNeverAnswer;
    terminal().Script("InputNumber", never);
    const size_t before = commands();
    auto busy = service_->connect();
    ASSERT_TRUE(busy->send_text(R"({"method":"InputNumber","args":{"outTimes":60}})"));
    ASSERT_TRUE(terminal().WaitForCommands(before + 1, 5000));

    auto client = raw_client();
    const struct {
        std::string method;
        std::string echoed;
    } cases[] = {
        {"Get\xFF\xFE"
         "Dev",
         "Get\xEF\xBF\xBD\xEF\xBF\xBD"
         "Dev"},
        {std::string(5000, 'M'), std::string(128, 'M')},
        {std::string(127, 'M') + "设", std::string(127, 'M')},  // never half a character
    };
    for (const auto& test : cases) {
        ASSERT_TRUE(client->write(
            RawWsSocket::frame(1, R"({"method":")" + test.method + R"(","args":{}})")));
        EXPECT_EQ(client->read_frame().payload,
                  R"({"method":")" + test.echoed + R"(","retVal":-17,"errMsg":"设备繁忙"})");
    }
    std::string cancelled;
    ASSERT_TRUE(busy->send_text(R"({"method":"CancelOpt","args":{}})"));
    ASSERT_TRUE(busy->receive(cancelled, 10000));
}

// ---- who may connect ----

TEST(SafetyOrigins, OnlyListedOriginsAreServed) {
    Service service(
        ServerKeys{{"AllowedOrigins", "http://127.0.0.1:8080,https://counter.bank.example"}});
    ASSERT_TRUE(service.started()) << service.log();
    const struct {
        const char* origin;  // nullptr: no Origin header
        const char* status;
    } cases[] = {
        {nullptr, "HTTP/1.1 101 Switching Protocols"},  // a program, not a page
        {"http://127.0.0.1:8080", "HTTP/1.1 101 Switching Protocols"},
        {"HTTPS://Counter.Bank.Example", "HTTP/1.1 101 Switching Protocols"},
        {"null", "HTTP/1.1 403 Forbidden"},  // file:// pages and sandboxed frames: not listed
        {"http://127.0.0.1:8081", "HTTP/1.1 403 Forbidden"},
        {"http://127.0.0.1", "HTTP/1.1 403 Forbidden"},
        {"http://127.0.0.1:8080.example.test", "HTTP/1.1 403 Forbidden"},
        {"https://counter.bank.example.evil.test", "HTTP/1.1 403 Forbidden"},
        {"", "HTTP/1.1 403 Forbidden"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.origin ? test.origin : "(none)");
        RawWsSocket client;
        ASSERT_TRUE(client.connect(service.port()));
        EXPECT_EQ(
            client.handshake(test.origin ? std::string("Origin: ") + test.origin + "\r\n" : ""),
            test.status);
    }
    EXPECT_NE(service.log().find("origin refused: http://127.0.0.1:8081"), std::string::npos);
}

TEST(SafetyOrigins, WithoutTheKeyEveryOriginIsServedAndTheServiceWarns) {
    Service service(ServerKeys{}, {"AllowedOrigins"});
    ASSERT_TRUE(service.started()) << service.log();
    RawWsSocket client;
    ASSERT_TRUE(client.connect(service.port()));
    EXPECT_EQ(client.handshake("Origin: http://anything.example\r\n"),
              "HTTP/1.1 101 Switching Protocols");
    EXPECT_NE(service.log().find("warning: AllowedOrigins is not set"), std::string::npos);
}

TEST(SafetyFileRoots, WithoutTheKeyTheServiceWarnsThatPagesMayWriteAnyFile) {
    Service service(ServerKeys{}, {"FileRoots"});
    ASSERT_TRUE(service.started()) << service.log();
    EXPECT_NE(service.log().find("warning: FileRoots is not set in CONFIG.ini [SERVER]: pages may "
                                 "read and write any file the service can"),
              std::string::npos)
        << service.log();
}

TEST_F(SafetyTest, ShippedSettingsListenOnTheLoopbackOnly) {
    RawWsSocket client;
    EXPECT_FALSE(client.connect(service_->port(), "127.0.0.2"));
    EXPECT_TRUE(client.connect(service_->port(), "127.0.0.1"));
}

TEST(SafetyBinding, EveryAddressWhenConfiguredAndALimitPerPeerAddress) {
    Service service(ServerKeys{{"BindAddress", "0.0.0.0"}, {"MaxConnectionsPerAddress", "3"}});
    ASSERT_TRUE(service.started()) << service.log();
    std::vector<std::unique_ptr<RawWsSocket>> held;
    for (int index = 0; index < 3; ++index) {
        held.push_back(std::make_unique<RawWsSocket>());
        ASSERT_TRUE(held.back()->connect(service.port(), "127.0.0.2", "127.0.0.3"));
        EXPECT_EQ(held.back()->handshake(), "HTTP/1.1 101 Switching Protocols");
    }
    RawWsSocket fourth;
    ASSERT_TRUE(fourth.connect(service.port(), "127.0.0.2", "127.0.0.3"));
    EXPECT_EQ(fourth.handshake(), "") << "a fourth connection from one address is refused";
    RawWsSocket elsewhere;
    ASSERT_TRUE(elsewhere.connect(service.port(), "127.0.0.2", "127.0.0.4"));
    EXPECT_EQ(elsewhere.handshake(), "HTTP/1.1 101 Switching Protocols");
    // A place freed is a place to take, once its departure is complete.
    const int departed = occurrences(service.log(), "onExit:");
    held.front()->close();
    ASSERT_TRUE(wait_for_log(service, "onExit:", departed + 1));
    std::string status;
    for (int attempt = 0; attempt < 10 && status.empty(); ++attempt) {
        RawWsSocket again;
        ASSERT_TRUE(again.connect(service.port(), "127.0.0.2", "127.0.0.3"));
        status = again.handshake();
        if (status.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(status, "HTTP/1.1 101 Switching Protocols");
}

}  // namespace
}  // namespace countermate::testing
