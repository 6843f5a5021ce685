// Round trip of one request from a WebSocket client through the whole product on loopback:
// service, terminal driver, libHid and the simulated terminal (GetDevID), beside the round trip
// of a plain echo server on Node's ws package, measured with the same client in the same run.
// Reports the median and the 99th percentile in microseconds over 2000 requests.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "service_fixture.h"

namespace {

constexpr int kRequests = 2000;

using countermate::WsClientConnection;

// Sends `request` kRequests times, one at a time, and reports the latency percentiles.
void measure_round_trips(benchmark::State& state, WsClientConnection& client,
                         const std::string& request) {
    std::vector<double> latencies;
    latencies.reserve(kRequests);
    std::string reply;
    for (auto _ : state) {
        latencies.clear();
        for (int index = 0; index < kRequests; ++index) {
            const auto start = std::chrono::steady_clock::now();
            if (!client.send_text(request) || !client.receive(reply, 5000)) {
                state.SkipWithError("no reply");
                return;
            }
            latencies.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
    state.counters["requests"] = static_cast<double>(latencies.size());
}

void BM_GetDevIdThroughTheProduct(benchmark::State& state) {
    countermate::testing::ServiceOnSimulator service;
    if (!service.started()) {
        state.SkipWithError("the service did not start");
        return;
    }
    auto client = service.connect();
    measure_round_trips(state, *client, R"({"method":"GetDevID","args":{}})");
}

void BM_NodeWsEcho(benchmark::State& state) {
    const int port = countermate::testing::free_port();
    const pid_t node = fork();
    if (node == 0) {
        const std::string port_text = std::to_string(port);
        execlp("node", "node", ECHO_SERVER_SCRIPT, port_text.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    WsClientConnection client;
    for (int attempt = 0; attempt < 100 && !client.open("127.0.0.1", port, "/", 100); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (client.is_open()) {
        measure_round_trips(state, client, R"({"method":"GetDevID","args":{}})");
    } else {
        state.SkipWithError("node ws echo server did not start");
    }
    client.close();
    kill(node, SIGTERM);
    waitpid(node, nullptr, 0);
}

BENCHMARK(BM_GetDevIdThroughTheProduct)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NodeWsEcho)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
