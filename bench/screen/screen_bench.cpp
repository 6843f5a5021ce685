// The screen push's picture at 1024 x 768 under Xvfb: the grab alone and the grab with the JPEG
// file, through MIT-SHM and through XGetImage. Exits with 77 when Xvfb is not installed.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "JpegFile.h"
#include "ScreenGrab.h"
#include "VirtualDisplay.h"

namespace {

using snapdesk::Transfer;

void grab_only(benchmark::State& state, Transfer transfer) {
    snapdesk::ScreenGrabber grabber(transfer);
    for (auto _ : state) {
        const auto pixels = grabber.grab();
        if (!pixels) state.SkipWithError("no picture");
        benchmark::DoNotOptimize(pixels);
    }
}

void grab_and_write(benchmark::State& state, Transfer transfer) {
    snapdesk::ScreenGrabber grabber(transfer);
    snapdesk::JpegFileWriter writer;
    const std::string path = "/tmp/screen-bench-" + std::to_string(getpid()) + ".jpg";
    for (auto _ : state) {
        const auto pixels = grabber.grab();
        if (!pixels || !writer.write(*pixels, path.c_str())) state.SkipWithError("no picture");
    }
    std::remove(path.c_str());
}

BENCHMARK_CAPTURE(grab_only, SharedMemory, Transfer::SharedMemoryWhereOffered)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab_only, ImageRequest, Transfer::ImageRequest)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab_and_write, SharedMemory, Transfer::SharedMemoryWhereOffered)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab_and_write, ImageRequest, Transfer::ImageRequest)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    snapdesk::testing::VirtualDisplay display;
    if (!snapdesk::testing::VirtualDisplay::installed() || !display.start(1024, 768)) {
        std::printf("skipped: Xvfb is not installed or did not start\n");
        return 77;
    }
    setenv("DISPLAY", display.name().c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
