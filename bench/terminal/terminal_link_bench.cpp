// The terminal link through libHid's simulator transport, with P = 512:
//  - push and pull of a 10 MiB file: throughput, and CPU seconds per MiB spent on the driver's
//    thread (driver plus libHid; the simulator runs on its own thread and is not counted);
//  - an operation waiting 10 s for a delayed answer: CPU of the waiting thread in percent of one
//    core, which must stay far below 1 %.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "SimulatedLink.h"

namespace {

using namespace countermate::bench;

constexpr size_t kFileBytes = 10u << 20;
constexpr double kMiB = 1 << 20;

void ReportTransfer(benchmark::State& state, double cpu_seconds, double wall_seconds) {
    const double mib = static_cast<double>(state.iterations()) * kFileBytes / kMiB;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
    state.counters["MB_per_s"] = mib * kMiB / 1e6 / wall_seconds;
    state.counters["driver_cpu_s_per_MiB"] = cpu_seconds / mib;
}

void BM_Push10MiB(benchmark::State& state) {
    Link link;
    std::string local = link.WriteLocal("push.bin", kFileBytes);
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpu_start = ThreadCpuSeconds();
        const double wall_start = WallSeconds();
        if (link.driver()->PushFile(&local[0], "/sdcard/bench/push.bin") != 0) std::abort();
        link.Settle();  // the simulator has stored the whole file
        cpu += ThreadCpuSeconds() - cpu_start;
        wall += WallSeconds() - wall_start;
    }
    ReportTransfer(state, cpu, wall);
}
BENCHMARK(BM_Push10MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Pull10MiB(benchmark::State& state) {
    Link link;
    std::string source = link.WriteLocal("source.bin", kFileBytes);
    if (link.driver()->PushFile(&source[0], "/sdcard/bench/pull.bin") != 0) std::abort();
    std::string local = link.folder() + "/pulled.bin";
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpu_start = ThreadCpuSeconds();
        const double wall_start = WallSeconds();
        if (link.driver()->PullFile("/sdcard/bench/pull.bin", &local[0]) != 0) std::abort();
        cpu += ThreadCpuSeconds() - cpu_start;
        wall += WallSeconds() - wall_start;
    }
    ReportTransfer(state, cpu, wall);
}
BENCHMARK(BM_Pull10MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A customer taking 10 s: the driver polls the link the whole time.
void BM_WaitTenSecondsForAnswer(benchmark::State& state) {
    Link link;
    countermate::sim::CommandScript slow;
    slow.delay_ms = 10000;
    link.simulator().Script("Voice", slow);
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpu_start = ThreadCpuSeconds();
        const double wall_start = WallSeconds();
        CJsonObject answer;
        if (link.driver()->RunCommand("Voice", nullptr, 30, StatusRule::kCommon, answer) != 0) {
            std::abort();
        }
        cpu += ThreadCpuSeconds() - cpu_start;
        wall += WallSeconds() - wall_start;
    }
    state.counters["driver_cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["waited_s"] = wall / static_cast<double>(state.iterations());
}
BENCHMARK(BM_WaitTenSecondsForAnswer)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
