// The terminal camera's video through the driver, libHid's simulator transport and the terminal
// simulator, with P = 512:
//  - GetVideoData and GetVideoData_Base64 with the simulator unpaced (frames per second 0):
//    frames and bytes per second, and the CPU per frame of the driver's thread and of the rest of
//    the process (the simulator's serving thread);
//  - GetVideoData with the simulator at its default 25 frames per second: the rate it keeps and
//    the CPU that costs, in percent of one core.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "OutputCapacities.h"
#include "SimulatedLink.h"

namespace {

using namespace countermate::bench;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// What one run of frames cost.
struct Costs {
    double wall = 0;
    double driver_cpu = 0;
    double process_cpu = 0;
    double bytes = 0;
};

// Frames read before measuring: one loop of the simulator's scene, whose frames are drawn and
// encoded once per process (about 4 ms each) and then only sent.
constexpr int kWarmUpFrames = 100;

// Reads frames with `read_frame` (which returns the frame's length) for every iteration.
template <typename ReadFrame>
Costs ReadFrames(benchmark::State& state, Link& link, ReadFrame read_frame) {
    if (link.driver()->StartVideo(0) != 0) std::abort();
    for (int frame = 0; frame < kWarmUpFrames; ++frame) {
        if (read_frame() <= 0) std::abort();
    }
    Costs costs;
    const double wall_start = WallSeconds();
    const double driver_start = ThreadCpuSeconds();
    const double process_start = ProcessCpuSeconds();
    for (auto _ : state) {
        const int length = read_frame();
        if (length <= 0) std::abort();
        costs.bytes += length;
    }
    costs.wall = WallSeconds() - wall_start;
    costs.driver_cpu = ThreadCpuSeconds() - driver_start;
    costs.process_cpu = ProcessCpuSeconds() - process_start;
    if (link.driver()->StopVideo() != 0) std::abort();
    return costs;
}

void Report(benchmark::State& state, const Costs& costs) {
    const double frames = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(costs.bytes));
    state.counters["frames_per_s"] = frames / costs.wall;
    state.counters["MB_per_s"] = costs.bytes / 1e6 / costs.wall;
    state.counters["frame_kB"] = costs.bytes / frames / 1e3;
    state.counters["driver_cpu_ms_per_frame"] = 1e3 * costs.driver_cpu / frames;
    state.counters["simulator_cpu_ms_per_frame"] = 1e3 * (costs.process_cpu - costs.driver_cpu) /
                                                   frames;
}

void BM_GetVideoDataUnpaced(benchmark::State& state) {
    Link link(0);
    std::vector<unsigned char> frame(countermate::kVideoFrameCapacity);
    const Costs costs = ReadFrames(state, link, [&] {
        int length = 0;
        return link.driver()->GetVideoData(&length, frame.data()) == 0 ? length : -1;
    });
    Report(state, costs);
}
BENCHMARK(BM_GetVideoDataUnpaced)->Unit(benchmark::kMillisecond)->Iterations(1000)->UseRealTime();

void BM_GetVideoDataBase64Unpaced(benchmark::State& state) {
    Link link(0);
    std::vector<char> text(countermate::kBase64FrameCapacity);
    const Costs costs = ReadFrames(state, link, [&] {
        if (link.driver()->GetVideoData_Base64(text.data()) != 0) return -1;
        const int length = static_cast<int>(std::strlen(text.data()));
        const int padding = length > 1 ? (text[length - 1] == '=') + (text[length - 2] == '=') : 0;
        return length / 4 * 3 - padding;  // the frame's length
    });
    Report(state, costs);
}
BENCHMARK(BM_GetVideoDataBase64Unpaced)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1000)
    ->UseRealTime();

void BM_GetVideoDataAt25FramesPerSecond(benchmark::State& state) {
    Link link(25);
    std::vector<unsigned char> frame(countermate::kVideoFrameCapacity);
    const Costs costs = ReadFrames(state, link, [&] {
        int length = 0;
        return link.driver()->GetVideoData(&length, frame.data()) == 0 ? length : -1;
    });
    Report(state, costs);
    state.counters["process_cpu_percent_of_core"] = 100 * costs.process_cpu / costs.wall;
}
BENCHMARK(BM_GetVideoDataAt25FramesPerSecond)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(100)
    ->UseRealTime();

}  // namespace
