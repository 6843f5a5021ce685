// The camera driver through its 21 entries, each test on a fresh copy of the library with
// file-backed cameras showing synthetic photographs of a tilted document.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <future>
#include <algorithm>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "CameraTestbed.h"
#include "SyntheticImages.h"

namespace {

using namespace camera_testbed;
using namespace std::chrono_literals;

const cv::Size kFrame(800, 600);
const cv::Size kDocument(350, 230);
constexpr float kScale = 0.5f;
// Generous bound on waits for files the driver writes (sanitizer builds on a loaded machine are
// slow); a passing run waits only as long as the driver takes.
constexpr auto kFileLimit = 30s;

using PlainEntry = void (*)(char*, char*);
using TextEntry = void (*)(const char*, char*, char*);
using OutputEntry = void (*)(char*, char*, char*);
using TextOutputEntry = void (*)(const char*, char*, char*, char*);

Result Call(PlainEntry entry) {
  Result result;
  entry(result.retVal, result.errMsg);
  return result;
}
Result Call(TextEntry entry, const char* text) {
  Result result;
  entry(text, result.retVal, result.errMsg);
  return result;
}
Result Call(OutputEntry entry, char* output) {
  Result result;
  entry(result.retVal, result.errMsg, output);
  return result;
}
Result Call(TextOutputEntry entry, const char* text, char* output) {
  Result result;
  entry(text, result.retVal, result.errMsg, output);
  return result;
}

void ExpectAnswer(const Result& result, const char* code, const char* message, const char* what) {
  EXPECT_EQ(result.code(), code) << what << ": " << result.message();
  EXPECT_EQ(result.message(), message) << what;
}
void ExpectOk(const Result& result, const char* what) { ExpectAnswer(result, "0", "", what); }

cv::Mat TiltedDocument(cv::Size frame = kFrame, cv::Size document = kDocument) {
  return synthetic::photographedDocument(frame, document, 12);
}

// Pixels of the green outline framepack draws around a found document.
int OutlinePixels(const cv::Mat& preview) {
  cv::Mat green;
  cv::inRange(preview, cv::Scalar(0, 180, 0), cv::Scalar(90, 255, 90), green);
  return cv::countNonZero(green);
}

// Names of time-stamped captures: 14 digits and ".jpg".
std::vector<std::string> StampedFiles(const std::vector<std::string>& names) {
  std::vector<std::string> matching;
  for (const std::string& name : names) {
    const bool stamped =
        name.size() == 18 && name.compare(14, 4, ".jpg") == 0 &&
        std::all_of(name.begin(), name.begin() + 14, [](char c) { return c >= '0' && c <= '9'; });
    if (stamped) matching.push_back(name);
  }
  return matching;
}

class CameraDriverTest : public ::testing::Test {
 protected:
  // Both cameras present as file-backed nodes showing `frame`.
  void addCameras(const cv::Mat& frame = TiltedDocument()) {
    workspace_.addNode("video0", kDocumentCamera, frame);
    workspace_.addNode("video2", kPersonCamera, frame);
  }
  Result init() { return Call(driver_.CamInit, status_); }
  // The cameras added, the driver initialised and camera `camNo` open.
  void openCamera(const char* camNo = "1", const cv::Mat& frame = TiltedDocument()) {
    addCameras(frame);
    ExpectOk(init(), "CamInit");
    ExpectOk(Call(driver_.CamOpen, camNo), "CamOpen");
  }
  Result photo() {
    char path[64] = {};
    Result result = Call(driver_.CamPhoto, path);
    photoPath_ = path;
    return result;
  }
  Preview preview(float scale = kScale) { return FetchPreview(driver_, scale); }
  std::vector<std::string> temp(const std::function<bool(const std::vector<std::string>&)>& enough,
                                std::chrono::milliseconds limit = kFileLimit) {
    return AwaitFiles(workspace_.temp(), enough, limit);
  }

  Workspace workspace_;
  DriverCopy driver_{workspace_};
  char status_[8] = {};
  std::string photoPath_;
};

TEST_F(CameraDriverTest, InitReportsWhichCamerasArePresent) {
  struct StatusCase {
    const char* what;
    std::vector<std::pair<const char*, std::string>> nodes;
    const char* status;
  };
  const StatusCase cases[] = {
      {"both", {{"video0", kDocumentCamera}, {"video2", kPersonCamera}}, "1"},
      {"none", {}, "2"},
      {"only the person camera", {{"video2", kPersonCameraAlternative}}, "3"},
      {"only the document camera", {{"video0", kDocumentCamera}}, "4"},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace workspace;
    for (const auto& [name, modalias] : c.nodes) workspace.addNode(name, modalias);
    DriverCopy driver(workspace);
    char status[8] = {};
    ExpectOk(Call(driver.CamInit, status), "CamInit");
    EXPECT_STREQ(status, c.status);
  }
}

TEST_F(CameraDriverTest, InitWithoutAnImageLibraryLeavesTheDriverUninitialised) {
  // The loader answers "./libscenewatch.so" with any library of that name the process has loaded
  // before, whatever the folder: this case needs a process of its own, as CTest runs it.
  if (void* loaded = dlopen("./libscenewatch.so", RTLD_LAZY | RTLD_NOLOAD)) {
    dlclose(loaded);
    GTEST_SKIP() << "libscenewatch is already loaded in this process";
  }
  Workspace workspace({"libframepack.so", "libcropalign.so"});
  workspace.addNode("video0", kDocumentCamera, TiltedDocument());
  DriverCopy driver(workspace);
  char status[8] = {};
  ExpectAnswer(Call(driver.CamInit, status), "-1", "设备相关服务依赖环境缺失", "CamInit");
  ExpectAnswer(Call(driver.CamOpen, "1"), "-1", "未初始化", "CamOpen");
  char folder[16] = {};
  ExpectAnswer(Call(driver.CamStartAutoCap, folder), "-1", "设备相关服务依赖环境缺失",
               "CamStartAutoCap");
}

TEST_F(CameraDriverTest, EntriesThatNeedInitAnswerUninitialisedBeforeItAndAfterDeinit) {
  addCameras();
  for (const char* phase : {"before CamInit", "after CamDeinit"}) {
    SCOPED_TRACE(phase);
    char list[kCamResolutionListCapacity] = "stale";
    char output[64] = {};
    const std::pair<const char*, Result> answers[] = {
        {"CamGetResolutionList", Call(driver_.CamGetResolutionList, "1", list)},
        {"CamOpen", Call(driver_.CamOpen, "1")},
        {"CamGetCameraImage", preview().result},
        {"CamClose", Call(driver_.CamClose)},
        {"CamPhoto", Call(driver_.CamPhoto, output)},
        {"CamSetRotateLeft", Call(driver_.CamSetRotateLeft)},
        {"CamSetRotateRight", Call(driver_.CamSetRotateRight)},
    };
    for (const auto& [entry, result] : answers) ExpectAnswer(result, "-1", "未初始化", entry);
    EXPECT_STREQ(list, "");
    // Settings need no initialisation.
    ExpectOk(Call(driver_.CamSetResolution, "640*480"), "CamSetResolution");
    ExpectOk(Call(driver_.CamSetColor, "2"), "CamSetColor");
    ExpectOk(Call(driver_.CamSetCutType, "0"), "CamSetCutType");
    ExpectOk(Call(driver_.CamZoomIn), "CamZoomIn");
    ExpectOk(Call(driver_.CamZoomOut), "CamZoomOut");
    ExpectOk(Call(driver_.CamGetCurrentResolution, output), "CamGetCurrentResolution");
    EXPECT_STREQ(output, "640*480");
    if (std::string(phase) == "before CamInit") {
      ExpectOk(init(), "CamInit");
      ExpectOk(Call(driver_.CamDeinit), "CamDeinit");
    }
  }
}

TEST_F(CameraDriverTest, ResolutionListsAndTheCurrentResolution) {
  addCameras();
  ExpectOk(init(), "CamInit");
  char list[kCamResolutionListCapacity] = {};
  ExpectOk(Call(driver_.CamGetResolutionList, "1", list), "camera 1");
  EXPECT_STREQ(list, "800*600") << "a file-backed camera offers its file's size";
  ExpectOk(Call(driver_.CamGetResolutionList, "3", list), "camera 3");
  EXPECT_STREQ(list, "");

  char resolution[kCamResolutionCapacity] = {};
  ExpectOk(Call(driver_.CamOpen, "1"), "CamOpen");
  ExpectOk(Call(driver_.CamGetCurrentResolution, resolution), "CamGetCurrentResolution");
  EXPECT_STREQ(resolution, "1600*1200") << "the document camera's default";
  ExpectOk(Call(driver_.CamSetResolution, "1280*"), "CamSetResolution");
  ExpectOk(Call(driver_.CamGetCurrentResolution, resolution), "CamGetCurrentResolution");
  EXPECT_STREQ(resolution, "1280*");

  Workspace personOnly;
  personOnly.addNode("video3", kPersonCamera, TiltedDocument({640, 480}));
  DriverCopy person(personOnly);
  char status[8] = {};
  ExpectOk(Call(person.CamInit, status), "CamInit");
  ExpectAnswer(Call(person.CamGetResolutionList, "1", list), "-2", "指定摄像头未连接",
               "absent camera 1");
  ExpectOk(Call(person.CamOpen, "2"), "CamOpen 2");
  ExpectOk(Call(person.CamGetCurrentResolution, resolution), "CamGetCurrentResolution");
  EXPECT_STREQ(resolution, "640*480") << "the person camera's first size";
}

TEST_F(CameraDriverTest, OpeningAnAbsentOrUnknownCameraFails) {
  workspace_.addNode("video0", kDocumentCamera, TiltedDocument());
  ExpectOk(init(), "CamInit");
  ExpectAnswer(Call(driver_.CamOpen, "2"), "-2", "指定摄像头未连接", "absent camera 2");
  ExpectAnswer(preview().result, "-2", "指定摄像头未连接", "a frame of the absent camera");
  ExpectAnswer(Call(driver_.CamOpen, "3"), "-2", "指定摄像头未连接", "camera 3");
  ExpectOk(Call(driver_.CamOpen, "1"), "camera 1");
  ExpectOk(Call(driver_.CamOpen, "2"), "a second open while capturing");
}

TEST_F(CameraDriverTest, PreviewFramesAreScaledAndOutlinedOnlyWithDetection) {
  openCamera();
  const Preview plain = preview();
  ExpectOk(plain.result, "without detection");
  const cv::Mat plainImage = plain.image();
  ASSERT_FALSE(plainImage.empty());
  EXPECT_EQ(plainImage.size(), cv::Size(400, 300));
  EXPECT_EQ(OutlinePixels(plainImage), 0);

  ExpectOk(Call(driver_.CamSetCutType, "1"), "CamSetCutType");
  const Preview outlined = preview();
  ExpectOk(outlined.result, "with detection");
  EXPECT_GT(OutlinePixels(outlined.image()), 2 * (kDocument.width + kDocument.height) / 2)
      << "a green outline around the document";

  ExpectOk(Call(driver_.CamSetCutType, "0"), "CamSetCutType");
  ExpectOk(Call(driver_.CamSetColor, "1"), "CamSetColor");
  const cv::Mat grey = preview().image();
  cv::Mat channels[3];
  cv::split(grey, channels);
  EXPECT_LT(cv::norm(channels[0], channels[2], cv::NORM_INF), 8) << "grey rendering";
}

TEST_F(CameraDriverTest, RotationAndZoomShapeTheView) {
  openCamera("1", TiltedDocument({1600, 1200}, {700, 460}));
  const auto previewSize = [&] {
    const Preview frame = preview();
    EXPECT_EQ(frame.result.code(), "0") << frame.result.message();
    return frame.image().size();
  };
  EXPECT_EQ(previewSize(), cv::Size(800, 600));
  ExpectOk(Call(driver_.CamSetRotateRight), "CamSetRotateRight");
  EXPECT_EQ(previewSize(), cv::Size(600, 800)) << "a quarter turn";
  ExpectOk(Call(driver_.CamSetRotateLeft), "CamSetRotateLeft");
  EXPECT_EQ(previewSize(), cv::Size(800, 600)) << "turned back";

  ExpectOk(Call(driver_.CamZoomOut), "CamZoomOut at 100");
  EXPECT_EQ(previewSize(), cv::Size(800, 600)) << "zoom out beyond the whole frame changes nothing";
  ExpectOk(Call(driver_.CamZoomIn), "CamZoomIn");
  EXPECT_EQ(previewSize(), cv::Size(790, 590)) << "10 pixels a side less";
  for (int step = 0; step < 104; ++step) ExpectOk(Call(driver_.CamZoomIn), "CamZoomIn towards 0");
  EXPECT_EQ(previewSize(), cv::Size(1, 1)) << "the narrowest view, clamped inside the frame";
  for (int step = 0; step < 50; ++step) ExpectOk(Call(driver_.CamZoomOut), "CamZoomOut from 0");
  EXPECT_EQ(previewSize(), cv::Size(300, 100)) << "zoom 50, not 45: zoom in stopped at 0";
}

TEST_F(CameraDriverTest, APhotoIsCutToTheDocumentAndUpright) {
  openCamera();
  ExpectOk(Call(driver_.CamSetCutType, "1"), "CamSetCutType");
  ExpectAnswer(photo(), "-2", "指定摄像头未打开", "a photo before any frame");
  ExpectOk(preview().result, "first frame");
  {
    PreviewPump pump(driver_, kScale);
    ExpectOk(photo(), "CamPhoto");
  }
  EXPECT_EQ(photoPath_, "./Temp/Camera0.jpg");
  const cv::Mat document = cv::imread(photoPath_, cv::IMREAD_COLOR);
  ASSERT_FALSE(document.empty());
  EXPECT_NEAR(document.cols, kDocument.width, 10);
  EXPECT_NEAR(document.rows, kDocument.height, 10);
  const int side = std::min(document.cols, document.rows) / 6;
  EXPECT_LT(cv::mean(document(cv::Rect(side / 2, side / 2, side, side / 3)))[0], 120)
      << "the mark of the top-left corner is at the top left";
  EXPECT_GT(cv::mean(document(
                cv::Rect(document.cols - 2 * side, document.rows - side, side, side / 2)))[0],
            200);
}

TEST_F(CameraDriverTest, APhotoWithoutADocumentIsTheWholeFrameInBase64) {
  cv::Mat counter(kFrame, CV_8UC3, cv::Scalar::all(30));
  openCamera("1", counter);
  ExpectOk(Call(driver_.CamSetCutType, "1"), "CamSetCutType");
  ExpectOk(preview().result, "first frame");
  std::vector<char> base64(kCamBase64Capacity);
  {
    PreviewPump pump(driver_, kScale);
    ExpectOk(Call(driver_.CamPhotoBase64, base64.data()), "CamPhotoBase64");
  }
  const cv::Mat whole = cv::imread("./Temp/Camera0.jpg", cv::IMREAD_COLOR);
  EXPECT_EQ(whole.size(), kFrame);
  struct stat status {};
  ASSERT_EQ(stat("./Temp/Camera0.jpg", &status), 0);
  const std::size_t length = std::strlen(base64.data());
  EXPECT_EQ(length, (static_cast<std::size_t>(status.st_size) + 2) / 3 * 4);
  EXPECT_EQ(std::string(base64.data(), 4), "/9j/") << "JPEG bytes FF D8 FF";
}

TEST_F(CameraDriverTest, FilesInBase64) {
  Workspace::writeText("one-byte", "M");
  std::vector<char> base64(kCamBase64Capacity, 'x');
  ExpectOk(Call(driver_.CamFileToBase64, "one-byte", base64.data()), "a 1-byte file");
  EXPECT_STREQ(base64.data(), "TQ==");
  ExpectAnswer(Call(driver_.CamFileToBase64, "no-such-file", base64.data()), "1", "指定文件不存在",
               "missing");
  ASSERT_EQ(mkfifo("a-fifo", 0600), 0);
  ExpectAnswer(Call(driver_.CamFileToBase64, "a-fifo", base64.data()), "1", "指定文件不存在",
               "a FIFO is not waited on");
  // The largest file whose text and terminator fit the caller's buffer, and one byte more,
  // which is refused rather than cut.
  constexpr std::uintmax_t kLargest = (kCamBase64Capacity - 1) / 4 * 3;
  Workspace::writeText("large", "");
  fs::resize_file("large", kLargest);
  ExpectOk(Call(driver_.CamFileToBase64, "large", base64.data()), "the largest file");
  EXPECT_EQ(std::strlen(base64.data()), kLargest / 3 * 4);
  fs::resize_file("large", kLargest + 1);
  base64[0] = 'x';
  ExpectAnswer(Call(driver_.CamFileToBase64, "large", base64.data()), "-1", "文件过大",
               "one byte more");
  EXPECT_EQ(base64[0], 'x') << "the buffer is left untouched";
}

TEST_F(CameraDriverTest, CloseNeedsADeliveredFrameAndStopsTheCapture) {
  openCamera();
  ExpectAnswer(Call(driver_.CamClose), "-2", "指定摄像头未打开", "no frame since the open");
  ExpectOk(preview().result, "the capture still runs");
  ExpectOk(Call(driver_.CamClose), "CamClose after a frame");
  ExpectAnswer(preview().result, "-2", "指定摄像头未打开", "a frame after the close");
  ExpectAnswer(photo(), "-2", "指定摄像头未打开", "a photo after the close");
  ExpectAnswer(Call(driver_.CamClose), "-2", "指定摄像头未打开", "a second close");
  ExpectOk(Call(driver_.CamOpen, "2"), "reopening another camera");
  ExpectOk(preview().result, "a frame of the person camera");
}

TEST_F(CameraDriverTest, ACameraThatStopsDeliveringIsReportedAtOnce) {
  openCamera();
  ExpectOk(preview().result, "first frame");
  fs::remove(workspace_.node("video0"));
  ExpectAnswer(preview().result, "-2", "指定摄像头未连接", "a frame from the removed camera");
  // A photo waiting for the next frame learns of the failure from that frame.
  auto waitingPhoto = std::async(std::launch::async, [this] { return photo(); });
  for (int frame = 0; frame < 200 && waitingPhoto.wait_for(0s) != std::future_status::ready;
       ++frame) {
    ExpectAnswer(preview().result, "-2", "指定摄像头未连接", "still removed");
  }
  ASSERT_EQ(waitingPhoto.wait_for(0s), std::future_status::ready);
  ExpectAnswer(waitingPhoto.get(), "-2", "指定摄像头未连接", "the photo");
  workspace_.show("video0", TiltedDocument());
  ExpectOk(preview().result, "the camera back");
}

TEST_F(CameraDriverTest, TimedCaptureWritesTimeStampedFullFrames) {
  openCamera();
  char folder[16] = {};
  ExpectOk(Call(driver_.CamStartTimerCap, "0", folder), "CamStartTimerCap");
  EXPECT_STREQ(folder, "./Temp");
  std::vector<std::string> files;
  {
    PreviewPump pump(driver_, kScale);
    files = StampedFiles(temp([](const auto& names) { return !StampedFiles(names).empty(); }));
    ExpectOk(Call(driver_.CamStopTimerCap), "CamStopTimerCap");
  }
  ASSERT_FALSE(files.empty());
  char now[64];
  const std::time_t clock = std::time(nullptr);
  std::strftime(now, sizeof now, "%Y%m%d", std::localtime(&clock));
  EXPECT_EQ(files.front().substr(0, 8), now) << files.front();
  EXPECT_EQ(cv::imread((workspace_.temp() / files.front()).string()).size(), kFrame);
}

TEST_F(CameraDriverTest, AutomaticCaptureWritesOnlyWhenTheSceneChanges) {
  const cv::Mat emptyCounter = TiltedDocument(kFrame, {12, 12});
  openCamera("1", emptyCounter);
  char folder[16] = {};
  PreviewPump pump(driver_, kScale);
  ExpectOk(Call(driver_.CamStartAutoCap, folder), "CamStartAutoCap");
  EXPECT_STREQ(folder, "./Temp");
  const int framesAtStart = pump.frames();
  const auto anyStamped = [](const std::vector<std::string>& names) {
    return !StampedFiles(names).empty();
  };
  EXPECT_TRUE(StampedFiles(temp(anyStamped, 1600ms)).empty()) << "a still scene";
  // A few frames since the start: automatic capture holds the empty counter as its reference.
  ASSERT_TRUE(pump.awaitFrames(framesAtStart + 3, kFileLimit));
  workspace_.show("video0", TiltedDocument());
  EXPECT_EQ(StampedFiles(temp(anyStamped)).size(), 1u) << "a document laid on the counter";
  const std::vector<std::string> after = StampedFiles(
      temp([](const std::vector<std::string>& names) { return StampedFiles(names).size() > 1; },
           1600ms));
  EXPECT_EQ(after.size(), 1u) << "the scene stays: nothing more";
  ExpectOk(Call(driver_.CamStopAutoCap), "CamStopAutoCap");
  EXPECT_GT(pump.frames(), 0);
}

TEST_F(CameraDriverTest, AVideoFileIsPlayedInALoop) {
  // Three small frames of different brightness in an MJPEG video, 25 frames per second.
  const std::string video = (workspace_.root() / "scene.avi").string();
  const cv::Size size(160, 120);
  {
    cv::VideoWriter writer(video, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, size);
    if (!writer.isOpened()) GTEST_SKIP() << "this OpenCV writes no MJPEG video";
    for (const int level : {40, 120, 200})
      writer.write(cv::Mat(size, CV_8UC3, cv::Scalar::all(level)));
  }
  fs::create_directories(workspace_.root() / "sys" / "video0" / "device");
  Workspace::writeText(workspace_.root() / "sys" / "video0" / "device" / "modalias",
                       kDocumentCamera);
  fs::rename(video, workspace_.node("video0"));
  ExpectOk(init(), "CamInit");
  ExpectOk(Call(driver_.CamOpen, "1"), "CamOpen");
  std::vector<int> levels;
  for (int frame = 0; frame < 7; ++frame) {
    const Preview preview = FetchPreview(driver_, kScale);
    ASSERT_EQ(preview.result.code(), "0") << preview.result.message();
    levels.push_back(static_cast<int>(cv::mean(preview.image())[0] + 0.5));
  }
  for (std::size_t frame = 3; frame < levels.size(); ++frame) {
    EXPECT_NEAR(levels[frame], levels[frame - 3], 3)
        << "frame " << frame << " repeats frame " << frame - 3;
  }
  EXPECT_GT(levels[2] - levels[0], 100) << "the frames follow one another";
}

}  // namespace
