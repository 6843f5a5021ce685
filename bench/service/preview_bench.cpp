// The camera preview through the whole stack, as a page sees it: frames per second arriving at a
// WebSocket client, and the host process's CPU time per frame (all its threads: the preview
// thread, the camera driver's capture thread, the WebSocket sends).
//
// Camera-driver configuration: a file-backed document camera (1600x1200 synthetic photograph),
// preview scale 0.3, with document detection (CamSetCutType 1) off and on. The service paces
// this preview at one frame per 100 ms at most.
//
// Terminal-camera configuration: the simulated terminal's 640x480 JPEG frames through the driver,
// libHid and the preview thread (a quarter turn and zoom, and edge marking, with the JPEG
// library when asked), sent by the simulator as fast as the driver takes them; and the latency
// from the driver holding a whole frame to its arrival at the page, at the terminal's own 25
// frames per second.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CJsonObject.h"
#include "driver_camera_service.h"

namespace {

using Clock = std::chrono::steady_clock;

// The host's user and system CPU time so far, in milliseconds.
double host_cpu_ms(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long user = 0, system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) user = std::stol(field);
        if (index == 15) {
            system = std::stol(field);
            break;
        }
    }
    return 1000.0 * double(user + system) / double(sysconf(_SC_CLK_TCK));
}

std::string method_of(const std::string& message) {
    CJsonObject parsed;
    std::string method;
    if (parsed.Parse(message)) parsed.Get("method", method);
    return method;
}

// Sends `request` and waits for the reply of its method, skipping frames.
bool call(countermate::WsClientConnection& client, const std::string& request,
          const std::string& method) {
    if (!client.send_text(request)) return false;
    std::string message;
    while (client.receive(message, 10000)) {
        if (method_of(message) == method) return true;
    }
    return false;
}

// Receives 20 frames per iteration; frames per second and the host's CPU per frame.
void measure_frames(benchmark::State& state, countermate::WsClientConnection& client, pid_t host) {
    std::string frame;
    long frames = 0;
    double cpu = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double cpu_before = host_cpu_ms(host);
        const auto started = Clock::now();
        for (int index = 0; index < 20; ++index) {
            if (!client.receive(frame, 10000)) {
                state.SkipWithError("no frame within 10 s");
                return;
            }
            benchmark::DoNotOptimize(frame.size());
        }
        seconds += std::chrono::duration<double>(Clock::now() - started).count();
        cpu += host_cpu_ms(host) - cpu_before;
        frames += 20;
    }
    state.counters["frames_per_second"] = double(frames) / seconds;
    state.counters["host_cpu_ms_per_frame"] = cpu / double(frames);
    state.counters["frame_bytes"] = double(frame.size());
}

void BM_DriverCameraPreview(benchmark::State& state) {
    countermate::testing::DriverCameraService camera("1600x1200");
    if (!camera.started()) {
        state.SkipWithError("the service did not start");
        return;
    }
    auto client = camera.service().connect();
    const bool detection = state.range(0) == 1;
    call(*client, R"({"method":"CamInit","args":{}})", "CamInit");
    call(*client, R"({"method":"CamOpen","args":{"cameraNo":1}})", "CamOpen");
    call(*client,
         std::string(R"({"method":"CamSetCutType","args":{"cutType":)") + (detection ? "1" : "0") +
             "}}",
         "CamSetCutType");
    client->send_text(R"({"method":"CamGetVideoStream","args":{}})");
    std::string frame;
    for (int warm = 0; warm < 3; ++warm) client->receive(frame, 10000);

    measure_frames(state, *client, camera.service().host_pid());
    call(*client, R"({"method":"VideoStop","args":{}})", "VideoStop");
}
BENCHMARK(BM_DriverCameraPreview)
    ->ArgName("detection")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Starts the terminal camera's preview on `client`: edge marking when `edge`, a quarter turn and
// three zoom steps when `turn_and_zoom`; a few frames let it settle.
bool start_terminal_preview(countermate::WsClientConnection& client, bool edge,
                            bool turn_and_zoom) {
    const std::string start =
        std::string(R"({"method":"VideoStart","args":{"cameraNo":1,"isEdgeDetection":)") +
        (edge ? "1" : "0") + "}}";
    if (!call(client, start, "VideoStart")) return false;
    if (turn_and_zoom) {
        call(client, R"({"method":"CamSetRotateRight","args":{}})", "CamSetRotateRight");
        for (int step = 0; step < 3; ++step)
            call(client, R"({"method":"CamZoomIn","args":{}})", "CamZoomIn");
    }
    std::string frame;
    for (int warm = 0; warm < 5; ++warm) {
        if (!client.receive(frame, 10000)) return false;
    }
    return true;
}

// A client of `service` on which the terminal preview of `state`'s arguments runs; null (the
// benchmark skipped) when it does not start.
std::unique_ptr<countermate::WsClientConnection> terminal_preview_client(
    benchmark::State& state, countermate::testing::ServiceOnSimulator& service) {
    auto client = service.started() ? service.connect() : nullptr;
    if (!client || !start_terminal_preview(*client, state.range(1) == 1, state.range(0) == 1)) {
        state.SkipWithError("the preview did not start");
        return nullptr;
    }
    return client;
}

void BM_TerminalCameraPreview(benchmark::State& state) {
    countermate::testing::SimulatorChoices choices;
    choices.frames_per_second = 0;
    choices.record_reports = false;
    countermate::testing::ServiceOnSimulator service(std::string(), choices);
    auto client = terminal_preview_client(state, service);
    if (!client) return;
    measure_frames(state, *client, service.host_pid());
    call(*client, R"({"method":"VideoStop","args":{}})", "VideoStop");
}
BENCHMARK(BM_TerminalCameraPreview)
    ->ArgNames({"turn_zoom", "edge"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// When the simulator last saw the driver acknowledge a frame's end: polled every 100 us on a
// thread of its own, since the simulator only counts them.
class FrameHeldClock {
public:
    explicit FrameHeldClock(countermate::sim::TerminalSimulator& terminal)
        : poller_([this, &terminal] {
              uint64_t seen = terminal.StreamCounts().frames;
              while (running_) {
                  const uint64_t now = terminal.StreamCounts().frames;
                  if (now != seen) {
                      seen = now;
                      held_at_ = Clock::now().time_since_epoch().count();
                  }
                  std::this_thread::sleep_for(std::chrono::microseconds(100));
              }
          }) {}
    ~FrameHeldClock() {
        running_ = false;
        poller_.join();
    }
    // Microseconds since the last frame was held whole by the driver.
    double microseconds_since_held() const {
        const Clock::duration since = Clock::now().time_since_epoch() -
                                      Clock::duration(held_at_.load());
        return std::chrono::duration<double, std::micro>(since).count();
    }

private:
    std::atomic<bool> running_{true};
    std::atomic<Clock::rep> held_at_{Clock::now().time_since_epoch().count()};
    std::thread poller_;
};

void BM_TerminalCameraFrameLatency(benchmark::State& state) {
    countermate::testing::SimulatorChoices choices;
    choices.record_reports = false;
    countermate::testing::ServiceOnSimulator service(std::string(), choices);
    auto client = terminal_preview_client(state, service);
    if (!client) return;
    std::vector<double> latencies;
    {
        FrameHeldClock clock(service.simulator());
        std::string frame;
        for (auto _ : state) {
            for (int index = 0; index < 50; ++index) {
                if (!client->receive(frame, 10000)) {
                    state.SkipWithError("no frame within 10 s");
                    return;
                }
                latencies.push_back(clock.microseconds_since_held());
            }
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
    call(*client, R"({"method":"VideoStop","args":{}})", "VideoStop");
}
BENCHMARK(BM_TerminalCameraFrameLatency)
    ->ArgNames({"turn_zoom", "edge"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
