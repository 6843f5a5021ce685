// SDT_ReadIDCard end to end (request sent, reply received) through the service, libcardgate and
// the reader simulator on a pseudo-terminal, beside the time the reader's answers would need on
// a real line at 115200 baud (ten bits a byte), the physical limit of a serial reader; and the
// CPU time the service spends per read.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "ReaderSimulator.h"
#include "service_fixture.h"

namespace {

constexpr double kBitsPerSecond = 115200;
constexpr double kBitsPerByte = 10;  // start bit, eight data bits, stop bit

// The one child process of this program: the service's host.
pid_t host_process() {
    const std::string path = "/proc/self/task/" + std::to_string(getpid()) + "/children";
    std::ifstream children(path);
    pid_t pid = 0;
    children >> pid;
    return pid;
}

// CPU seconds (user and system) of `pid` so far.
double cpu_seconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14 || index == 15) ticks += std::stod(field);
        if (index == 15) break;
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

void BM_ReadIdCardThroughTheSimulatedReader(benchmark::State& state) {
    using countermate::testing::DeployCopy;
    using countermate::testing::ServiceOnSimulator;
    using countermate::testing::TemporaryFolder;
    TemporaryFolder folder;
    countermate::sim::ReaderSimulator::Options options;
    options.link_path = folder.path() + "/reader";
    countermate::sim::ReaderSimulator reader(options);
    DeployCopy deploy({});
    if (!reader.Start()) {
        state.SkipWithError("the reader simulator did not start");
        return;
    }
    std::ofstream(deploy.path() + "/CONFIG.ini", std::ios::app)
        << "[CARDREADER]\nSerialPort=" << options.link_path << "\n";
    ServiceOnSimulator service(deploy.path());
    if (!service.started()) {
        state.SkipWithError("the service did not start");
        return;
    }
    auto client = service.connect();
    const pid_t host = host_process();
    const std::string request = R"({"method":"SDT_ReadIDCard","args":{"outTimes":5}})";
    const size_t answered_before = reader.BytesAnswered();
    const double cpu_before = cpu_seconds(host);
    for (auto _ : state) {
        const std::string reply = countermate::testing::call_service(*client, request, 30000);
        if (reply.find("\"retVal\":0,") == std::string::npos) {
            state.SkipWithError(("the read failed: " + reply.substr(0, 200)).c_str());
            return;
        }
    }
    const double reads = double(state.iterations());
    const double answered = double(reader.BytesAnswered() - answered_before) / reads;
    state.counters["answer_bytes"] = answered;
    state.counters["line_ms_at_115200"] = answered * kBitsPerByte / kBitsPerSecond * 1000;
    state.counters["service_cpu_ms"] = (cpu_seconds(host) - cpu_before) / reads * 1000;
}

BENCHMARK(BM_ReadIdCardThroughTheSimulatedReader)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
