// Frame encoding and decoding against memcpy of the same size, and the round trip of small text
// messages through the server on loopback.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "loopback_port.h"
#include "ws_codec.h"

namespace {

void sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(100)->Arg(64 << 10)->Arg(4 << 20);
}

void BM_Memcpy(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    std::vector<uint8_t> source(size, 1), target(size + kWsMaxHeader);
    for (auto _ : state) {
        memcpy(target.data(), source.data(), size);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_Memcpy)->Apply(sizes);

// A server frame (unmasked: the payload copied after the header) or a client frame (masked: a
// fresh key and the payload masked while copied).
void BM_Encode(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    const bool masked = state.range(1) != 0;
    std::vector<uint8_t> payload(size, 1), frame(size + kWsMaxHeader);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ws_enPackage(payload.data(), unsigned(size), frame.data(),
                                              unsigned(frame.size()), masked, WsData_Text));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_Encode)->ArgsProduct({{100, 64 << 10, 4 << 20}, {0, 1}})->ArgNames({"", "masked"});

// Decoding a masked client frame: the payload is unmasked onto the start of the buffer. Only the
// header is written back before each round (the cost does not depend on the payload bytes).
void BM_DecodeMasked(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    std::vector<uint8_t> payload(size, 1), frame(size + kWsMaxHeader + 1);
    const int frameLength = ws_enPackage(payload.data(), unsigned(size), frame.data(),
                                         unsigned(frame.size()), true, WsData_Text);
    const size_t headerLength = size_t(frameLength) - size;
    const std::vector<uint8_t> header(frame.begin(), frame.begin() + long(headerLength));
    for (auto _ : state) {
        memcpy(frame.data(), header.data(), headerLength);
        unsigned payloadLength, headerOut;
        Ws_DataType type;
        benchmark::DoNotOptimize(
            ws_dePackage(frame.data(), unsigned(frameLength), &payloadLength, &headerOut, &type));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_DecodeMasked)->Apply(sizes);

void echo(WsClient* client, char* data, int length, Ws_DataType type) {
    if (length >= 1 && type == WsData_Text) ws_send(client->fd, data, length, false, type);
}

// One logged-in client of an echoing server on loopback.
class LoopbackClient {
public:
    LoopbackClient() {
        const int port = countermate::testing::free_loopback_port();
        server_ = ws_server_create(port, "/", nullptr, nullptr, echo, nullptr);
        for (int attempt = 0; attempt < 100 && fd_ <= 0; ++attempt) {
            fd_ = ws_connectToServer("127.0.0.1", port, "/", 100);
        }
        // Blocking reads for the measurement.
        const int flags = fcntl(fd_, F_GETFL);
        fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
        const int noDelay = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    }
    ~LoopbackClient() {
        close(fd_);
        ws_server_release(&server_);
    }
    bool ready() const { return fd_ > 0; }
    void send(const std::string& frame) { ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL); }
    // Reads exactly `count` bytes.
    void receive(char* buffer, size_t count) {
        for (size_t got = 0; got < count;) {
            const ssize_t part = recv(fd_, buffer + got, count - got, 0);
            if (part <= 0) return;
            got += size_t(part);
        }
    }

private:
    WsServer* server_ = nullptr;
    int fd_ = -1;
};

std::string maskedText(size_t size) {
    const std::string payload(size, 't');
    std::vector<uint8_t> frame(size + kWsMaxHeader);
    const int length = ws_enPackage(reinterpret_cast<const uint8_t*>(payload.data()),
                                    unsigned(size), frame.data(), unsigned(frame.size()), true,
                                    WsData_Text);
    return std::string(reinterpret_cast<char*>(frame.data()), size_t(length));
}

// One 100-byte text message out and its echo back: the round-trip latency.
void BM_LoopbackRoundTrip(benchmark::State& state) {
    LoopbackClient client;
    if (!client.ready()) {
        state.SkipWithError("no connection");
        return;
    }
    const std::string frame = maskedText(100);
    char reply[102];
    for (auto _ : state) {
        client.send(frame);
        client.receive(reply, sizeof reply);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_LoopbackRoundTrip)->UseRealTime();

// 100 messages written back to back, then their 100 echoes: messages per second.
void BM_LoopbackMessagesPerSecond(benchmark::State& state) {
    LoopbackClient client;
    if (!client.ready()) {
        state.SkipWithError("no connection");
        return;
    }
    constexpr int kBatch = 100;
    std::string batch;
    for (int index = 0; index < kBatch; ++index) batch += maskedText(100);
    std::vector<char> replies(102 * kBatch);
    for (auto _ : state) {
        client.send(batch);
        client.receive(replies.data(), replies.size());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
}
BENCHMARK(BM_LoopbackMessagesPerSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
