// A whole identity-card read through libcardgate.so and the reader simulator on a
// pseudo-terminal, as the service makes it: load the library, open the serial path at
// 115200 baud, find, select, read the base message, parse the text and the photo (to a BMP
// file), close, unload. Reported per read:
//  - wall_ms: the time of the read;
//  - line_ms: the time its bytes would need on a real line at 115200 baud (10 bits a byte, both
//    directions), the physical limit of a serial reader;
//  - cpu_ms: CPU time of the reading thread (library, its log and the photo decoder; the
//    simulator runs on a thread of its own and is not counted).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ReaderSimulator.h"

namespace {

using countermate::sim::CardKind;
using countermate::sim::ReaderSimulator;

constexpr int kBaud = 115200;
constexpr double kBitsPerByte = 10;       // start bit, 8 data bits, stop bit
constexpr double kCommandBytes = 3 * 10;  // find, select, read: 10-byte command frames

double Seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

template <typename Function>
Function Entry(void* library, const char* name) {
    auto function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function) std::abort();
    return function;
}

// One read in the service's order; false when a step fails.
bool ReadCard(const std::string& port, const std::string& logRoot) {
    void* library = dlopen(COUNTERMATE_DEPLOY_DIR "/libcardgate.so", RTLD_LAZY);
    if (!library) return false;
    Entry<void (*)(const char*, const char*, int, int)>(library, "SetLogInfo")(
        logRoot.c_str(), "kvxlog", 104857600, 7);
    unsigned char scratch[64], text[512], photo[2048];
    unsigned textLength = 0, photoLength = 0;
    int kind = 0;
    char line[1024] = {}, photoPath[256] = "./zp.bmp";
    const bool read =
        Entry<int (*)(const char*, int)>(library, "_SDT_OpenComBypath")(port.c_str(), kBaud) ==
            0x90 &&
        Entry<int (*)(unsigned char*)>(library, "_SDT_StartFindIDCard")(scratch) == 0x9F &&
        Entry<int (*)(unsigned char*)>(library, "_SDT_SelectIDCard")(scratch) == 0x90 &&
        Entry<int (*)(unsigned char*, unsigned*, unsigned char*, unsigned*)>(
            library, "_SDT_ReadBaseMsg")(text, &textLength, photo, &photoLength) == 0x90 &&
        Entry<int (*)(const unsigned char*, int, int*, char*)>(library, "_SDT_ParseIDCardTextInfo")(
            text, int(textLength), &kind, line) == 0 &&
        Entry<int (*)(const unsigned char*, int, int, char*)>(library, "_SDT_ParsePhotoInfo")(
            photo, int(photoLength), 2, photoPath) == 0;
    Entry<int (*)()>(library, "_SDT_CloseDev")();
    dlclose(library);
    unlink("zp.bmp");
    return read;
}

void BM_WholeCardReadAt115200(benchmark::State& state) {
    char folder[] = "/tmp/countermate-cardbench-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0 ||
        symlink(COUNTERMATE_DEPLOY_DIR "/libwlt.so", "libwlt.so") != 0)
        std::abort();
    const std::string port = std::string(folder) + "/ttyReader";
    ReaderSimulator simulator({port, CardKind::kResident, true, {}});
    if (!simulator.Start()) std::abort();

    double wall = 0, cpu = 0;
    size_t answered = 0;
    for (auto _ : state) {
        const size_t before = simulator.BytesAnswered();
        const double wallStart = Seconds(CLOCK_MONOTONIC);
        const double cpuStart = Seconds(CLOCK_THREAD_CPUTIME_ID);
        if (!ReadCard(port, std::string(folder) + "/log")) {
            state.SkipWithError("the card read failed");
            break;
        }
        cpu += Seconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
        wall += Seconds(CLOCK_MONOTONIC) - wallStart;
        answered += simulator.BytesAnswered() - before;
    }
    const double reads = double(state.iterations());
    if (reads > 0) {
        const double lineBytes = kCommandBytes + double(answered) / reads;
        state.counters["wall_ms"] = 1000 * wall / reads;
        state.counters["line_ms"] = 1000 * lineBytes * kBitsPerByte / kBaud;
        state.counters["cpu_ms"] = 1000 * cpu / reads;
        state.counters["line_bytes"] = lineBytes;
    }
    simulator.Stop();
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}
BENCHMARK(BM_WholeCardReadAt115200)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
