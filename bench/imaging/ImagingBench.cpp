// Milliseconds per call of the document imaging entries, beside plain cv::imencode of the same
// frames. Frames are synthetic photographs of a tilted document on a textured counter.
#include <benchmark/benchmark.h>

#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "DocumentImaging.h"
#include "SharedLibrary.h"
#include "SyntheticImages.h"
#include "pixelwork.h"

namespace {

const cv::Size kPreview(480, 360);
const cv::Size kFrame(1600, 1200);

const cv::Mat& frame(cv::Size size) {
    static const cv::Mat preview = synthetic::photographedDocument(kPreview, {210, 135}, 12);
    static const cv::Mat full = synthetic::photographedDocument(kFrame, {700, 450}, 12);
    return size == kPreview ? preview : full;
}

const std::vector<unsigned char>& frameJpeg() {
    static const std::vector<unsigned char> jpeg = [] {
        std::vector<unsigned char> bytes;
        cv::imencode(".jpg", frame(kFrame), bytes, {cv::IMWRITE_JPEG_QUALITY, 90});
        return bytes;
    }();
    return jpeg;
}

void BM_Imencode(benchmark::State& state, cv::Size size) {
    std::vector<unsigned char> jpeg;
    for (auto _ : state) {
        cv::imencode(".jpg", frame(size), jpeg);
        benchmark::DoNotOptimize(jpeg.data());
    }
}

void BM_FramepackDetecting(benchmark::State& state, cv::Size size) {
    static SharedLibrary library("libframepack.so");
    static const auto pack = library.entry<decltype(&framepack)>("framepack");
    std::vector<unsigned char> jpeg(kFramepackCapacity);
    int length = 0, found = 0;
    DocumentBox box{};
    for (auto _ : state) pack(frame(size), jpeg.data(), &length, 1, 2, &box, &found);
    if (found != 1) state.SkipWithError("no document found");
}

void BM_CropalignToMemory(benchmark::State& state) {
    static SharedLibrary library("libcropalignmem.so");
    const auto cut = library.entry<CropalignToMemory>("cropalign");
    // The box framepack reports on the half-size preview of the frame.
    cv::Mat preview;
    cv::resize(frame(kFrame), preview, {800, 600});
    static SharedLibrary finderLibrary("libframepack.so");
    std::vector<unsigned char> buffer(kCropalignMemoryCapacity);
    int length = 0, found = 0;
    DocumentBox box{};
    finderLibrary.entry<decltype(&framepack)>("framepack")(preview, buffer.data(), &length, 1, 2,
                                                           &box, &found);
    length = 0;
    for (auto _ : state) cut(frame(kFrame), buffer.data(), &length, 1, 0.5f, box);
    if (length == 0) state.SkipWithError("nothing cut");
}

const SharedLibrary& pixelworkLibrary() {
    static SharedLibrary library("libpixelwork.so");
    return library;
}

template <typename Invoke>
void runPixelwork(benchmark::State& state, Invoke invoke) {
    const std::vector<unsigned char>& source = frameJpeg();
    std::vector<unsigned char> destination(kPixelworkPreviewCapacity);
    int length = 0, result = 0;
    for (auto _ : state) {
        result =
            invoke(source.data(), static_cast<int>(source.size()), destination.data(), &length);
    }
    if (result != kPixelworkOk) state.SkipWithError("entry failed");
}

void BM_JpegTranspose(benchmark::State& state) {
    const auto entry = pixelworkLibrary().entry<decltype(&jpegtranspose)>("jpegtranspose");
    runPixelwork(state, [&](auto... io) { return entry(1, 1, io...); });
}
void BM_JpegEdge(benchmark::State& state) {
    const auto entry = pixelworkLibrary().entry<decltype(&jpegedge)>("jpegedge");
    runPixelwork(state, [&](auto... io) { return entry(io...); });
}
void BM_JpegCutAndRotate(benchmark::State& state) {
    const auto entry = pixelworkLibrary().entry<decltype(&jpegcutandrotate)>("jpegcutandrotate");
    runPixelwork(state,
                 [&](auto... io) { return entry(io..., static_cast<float>(state.range(0)) / 10); });
}
void BM_JpegZoom(benchmark::State& state) {
    const auto entry = pixelworkLibrary().entry<decltype(&jpegzoom)>("jpegzoom");
    runPixelwork(state, [&](auto... io) { return entry(io..., 1.0f, 5.0f); });
}
void BM_JpegGray(benchmark::State& state) {
    const auto entry = pixelworkLibrary().entry<decltype(&jpeggray)>("jpeggray");
    runPixelwork(state, [&](auto... io) { return entry(io...); });
}

}  // namespace

BENCHMARK_CAPTURE(BM_Imencode, preview_480x360, kPreview)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Imencode, frame_1600x1200, kFrame)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FramepackDetecting, preview_480x360, kPreview)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FramepackDetecting, frame_1600x1200, kFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CropalignToMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegTranspose)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegEdge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegCutAndRotate)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegZoom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegGray)->Unit(benchmark::kMillisecond);
