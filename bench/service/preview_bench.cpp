// The camera preview through the whole stack, as a page sees it: frames per second arriving at a
// WebSocket client, and the host process's CPU time per frame (all its threads: the preview
// thread, the camera driver's capture thread, the WebSocket sends).
//
// Camera-driver configuration: a file-backed document camera (1600x1200 synthetic photograph),
// preview scale 0.3, with document detection (CamSetCutType 1) off and on. The service paces
// this preview at one frame per 100 ms at most.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

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
        if (index == 15) { system = std::stol(field); break; }
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
bool call(countermate::WsClientConnection& client, const std::string& request, const std::string& method) {
    if (!client.send_text(request)) return false;
    std::string message;
    while (client.receive(message, 10000)) {
        if (method_of(message) == method) return true;
    }
    return false;
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
    call(*client, std::string(R"({"method":"CamSetCutType","args":{"cutType":)") + (detection ? "1" : "0") + "}}",
         "CamSetCutType");
    client->send_text(R"({"method":"CamGetVideoStream","args":{}})");
    std::string frame;
    for (int warm = 0; warm < 3; ++warm) client->receive(frame, 10000);

    const pid_t host = camera.service().host_pid();
    long frames = 0;
    double cpu = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double cpu_before = host_cpu_ms(host);
        const auto started = Clock::now();
        for (int index = 0; index < 20; ++index) {
            if (!client->receive(frame, 10000)) {
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
    call(*client, R"({"method":"VideoStop","args":{}})", "VideoStop");
}
BENCHMARK(BM_DriverCameraPreview)->ArgName("detection")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
