// Frames per second and CPU per frame of CamGetCameraImage at scale 0.3 from a 1600 x 1200
// file-backed document camera, with document detection off and on, beside plain cv::imencode of
// the same frame and of its preview in the same run. CPU time is the whole process's, so the
// capture thread's share of each frame is counted.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "CameraTestbed.h"
#include "SyntheticImages.h"

namespace {

using namespace camera_testbed;

const cv::Size kFrame(1600, 1200);
constexpr float kScale = 0.3f;

const cv::Mat& Frame() {
    static const cv::Mat frame = synthetic::photographedDocument(kFrame, {840, 600}, 12);
    return frame;
}

// The camera, unpaced (as fast as frames are asked for), open on a driver that is initialised.
struct OpenCamera {
    OpenCamera() {
        setenv("COUNTERMATE_CAMERA_FILE_FPS", "0", 1);
        workspace.addNode("video0", kDocumentCamera, Frame());
        Result result;
        char status[8] = {};
        driver.CamInit(result.retVal, result.errMsg, status);
        driver.CamOpen("1", result.retVal, result.errMsg);
        opened = result.code() == "0";
    }
    Workspace workspace;
    DriverCopy driver{workspace};
    bool opened = false;
};

OpenCamera& Camera() {
    static OpenCamera camera;
    return camera;
}

void BM_CamGetCameraImage(benchmark::State& state) {
    OpenCamera& camera = Camera();
    if (!camera.opened) return state.SkipWithError("the file-backed camera did not open");
    Result result;
    camera.driver.CamSetCutType(state.range(0) ? "1" : "0", result.retVal, result.errMsg);
    Preview preview;
    for (auto _ : state) {
        camera.driver.CamGetCameraImage(preview.jpeg.data(), &preview.length, preview.result.retVal,
                                        preview.result.errMsg, kScale);
        if (preview.result.code() != "0") return state.SkipWithError(preview.result.errMsg);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) ? "detection on" : "detection off");
}
BENCHMARK(BM_CamGetCameraImage)
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_Imencode(benchmark::State& state) {
    const bool preview = state.range(0) == 1;
    cv::Mat image = Frame();
    if (preview) cv::resize(Frame(), image, {480, 360}, 0, 0, cv::INTER_LINEAR);
    std::vector<unsigned char> jpeg;
    for (auto _ : state) {
        cv::imencode(".jpg", image, jpeg);
        benchmark::DoNotOptimize(jpeg.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(preview ? "480 x 360 preview" : "1600 x 1200 frame");
}
BENCHMARK(BM_Imencode)
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
