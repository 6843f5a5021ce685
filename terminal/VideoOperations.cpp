// The terminal camera's video, the signing-screen mirror, captured images and the
// workstation-screen push.
//
// The streams run on raw reports (StreamFraming.h): a control message starts, pauses, keeps or
// stops a stream, and the frame readers put frames together (FrameAssembly.h) while writing the
// acknowledgements that the terminal flow-controls itself on.
//
// Thread-safety: a frame reader runs on the caller's thread; StopVideo and PauseVideo may be
// called from another thread while one runs. They set the module-wide stop flag, which the
// reader checks before every read attempt, and wait until the reader has left the link before
// they write their message: a reader still polling would otherwise take the terminal's answer
// for itself.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "FrameAssembly.h"
#include "ModuleLog.h"
#include "OperationResults.h"
#include "OperationSteps.h"
#include "ResultCodes.h"
#include "StreamFraming.h"

using namespace countermate::terminal;
namespace stream = countermate::stream;

namespace {

constexpr int kStartSendTimeout = 5;
constexpr int kControlSendTimeout = 10;
constexpr int kPauseSendTimeout = 5;
constexpr int kControlAnswerTimeout = 10;
constexpr int kPauseAnswerTimeout = 5;
constexpr int kKeepAnswerTimeout = 20;
constexpr int kFrameReportTimeout = 5;
constexpr int kAcknowledgementSendTimeout = 10;
// A reader that is writing an acknowledgement when it is stopped finishes that write first.
constexpr std::chrono::seconds kReaderLeaveLimit{kAcknowledgementSendTimeout + 1};

// Frame work buffers of the Base64 readers.
constexpr size_t kVideoWorkBytes = 2 * 1024 * 1024;
constexpr size_t kScreenWorkBytes = 5 * 1024 * 1024;

// Frame reports that may still be in flight when a control message is answered: the rest of a
// frame (its start, six parts before an acknowledgement is due, its end), twice over.
constexpr int kMostFrameReportsBeforeAnswer = 16;

constexpr const char* kCapturedImage = "/mnt/sdcard/ZR/CounterMate/GPY/capturePic.jpg";
constexpr const char* kSignatureImage = "/sdcard/ZR/CounterMate/temp/voice_decl_signatrue.png";

// 1 while no frame reader runs: every reader clears it on entry and sets it on return, and stops
// reading when it finds it set.
std::atomic<int> isVideoProcStop{1};

// The frame readers on the link, so that a stop or a pause can wait for them to leave.
class FrameReaders {
public:
    void Enter() {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_count;
    }
    void Leave() {
        std::lock_guard<std::mutex> guard(m_lock);
        if (--m_count == 0) m_left.notify_all();
    }
    void WaitUntilNone() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_left.wait_for(guard, kReaderLeaveLimit, [this] { return m_count == 0; });
    }

private:
    std::mutex m_lock;  // guards m_count
    std::condition_variable m_left;
    int m_count = 0;
};

FrameReaders g_frame_readers;

// One frame reader's stay on the link: the stop flag is clear from its entry to its return.
class FrameReaderScope {
public:
    FrameReaderScope() {
        g_frame_readers.Enter();
        isVideoProcStop.store(0);
    }
    ~FrameReaderScope() {
        isVideoProcStop.store(1);
        g_frame_readers.Leave();
    }
    FrameReaderScope(const FrameReaderScope&) = delete;
    FrameReaderScope& operator=(const FrameReaderScope&) = delete;
};

// Ends the frame reader in progress, if any, and returns once it has left the link.
void StopFrameReaders(CDEV_CounterMate& driver) {
    isVideoProcStop.store(1);
    driver.SetForcedReturn(true);
    g_frame_readers.WaitUntilNone();
}

// The largest frame whose Base64 text, with its terminator, fits in `capacity` bytes.
size_t LargestFrameForText(size_t capacity) { return (capacity - 1) / 4 * 3; }

int WriteControl(CDEV_CounterMate& driver, unsigned char function, unsigned char argument,
                 int timeout) {
    if (function == stream::kStart) driver.DropKeptRawReports();
    unsigned char message[stream::kControlBytes] = {stream::kMarker, function, argument};
    return driver.HidWrite(message, stream::kControlBytes, timeout);
}

// Reads the terminal's answer to a control message into `report`: the first report that is not
// a frame report. Frame reports still in flight from the stream are passed over (up to a
// bound): they never answer anything, and left unread they would be taken for the answer to
// whatever is asked next.
int ReadControlAnswer(CDEV_CounterMate& driver, std::vector<unsigned char>& report, int* count,
                      int timeout) {
    for (int passed = 0;; ++passed) {
        const int result = driver.ReadRawReport(report.data(), count, timeout, nullptr);
        if (result != kSuccess) return result;
        if (!stream::IsFrameReport(report.data(), *count) ||
            passed == kMostFrameReportsBeforeAnswer) {
            return kSuccess;
        }
    }
}

// A control message and its answer: a failed write gives its code, no answer -15.
int ControlExchange(CDEV_CounterMate& driver, unsigned char function, unsigned char argument,
                    int send_timeout, int answer_timeout) {
    const int written = WriteControl(driver, function, argument, send_timeout);
    if (written != kSuccess) return written;
    std::vector<unsigned char> report(static_cast<size_t>(driver.PacketSize()));
    int count = 0;
    const int answered = ReadControlAnswer(driver, report, &count, answer_timeout);
    return answered == kSuccess ? kSuccess : kVideoControlFailed;
}

bool IsPauseAnswer(const std::vector<unsigned char>& report, int count) {
    return count >= 2 && report[0] == stream::kMarker && report[1] == stream::kPause;
}

// The pause message, answered by "0604". One other report is passed over (a second one is taken
// as the answer); a missing answer is asked for once more.
int PauseExchange(CDEV_CounterMate& driver) {
    std::vector<unsigned char> report(static_cast<size_t>(driver.PacketSize()));
    for (bool resent = false;; resent = true) {
        int result = WriteControl(driver, stream::kPause, 0, kPauseSendTimeout);
        if (result != kSuccess) return result;
        for (bool passed_one = false;; passed_one = true) {
            int count = 0;
            result = ReadControlAnswer(driver, report, &count, kPauseAnswerTimeout);
            if (result != kSuccess) break;
            if (IsPauseAnswer(report, count) || passed_one) return kSuccess;
            CTM_TRACE(LOG_LEVEL_ERROR, "DEV_PauseVideo", "收到数据，但不是0604应答，再收一次!");
        }
        if (result != kTimedOut || resent) return kVideoControlFailed;
        CTM_TRACE(LOG_LEVEL_ERROR, "DEV_PauseVideo", "没收到0604应答，重发一次!");
    }
}

using ReadFailureLog = void (*)(int result);

// Feeds the terminal's reports to `assembly`, writing the acknowledgements it is owed, until a
// frame is ready, the signing screen ends, the link fails (its code, logged by `log_failure`)
// or the stop flag is set (0, with `last` reading on: no frame).
int ReceiveFrame(CDEV_CounterMate& driver, FrameAssembly& assembly, ReadFailureLog log_failure,
                 AssemblyStep& last) {
    std::vector<unsigned char> report(static_cast<size_t>(driver.PacketSize()));
    last = AssemblyStep();
    while (isVideoProcStop.load() == 0) {
        int count = 0;
        int result =
            driver.ReadRawReport(report.data(), &count, kFrameReportTimeout, &isVideoProcStop);
        // A stop sets the forced-return flag too: the wait it ends was stopped, not failed.
        if (result == kCancelled && isVideoProcStop.load() != 0) break;
        if (result != kSuccess) {
            log_failure(result);
            return result;
        }
        if (count == 0) break;  // stopped while waiting
        last = assembly.Feed(report.data(), count);
        if (last.acknowledgement != Acknowledgement::kNone) {
            unsigned char acknowledgement[stream::kControlBytes];
            AcknowledgementBytes(last.acknowledgement, acknowledgement);
            result = driver.HidWrite(acknowledgement, stream::kControlBytes,
                                     kAcknowledgementSendTimeout);
            if (result != kSuccess) return result;
        }
        if (last.outcome != AssemblyOutcome::kReading) return kSuccess;
    }
    last = AssemblyStep();
    return kSuccess;
}

// The result of a signing-screen reader: the signing end's result when the screen ended.
int SigningScreenResult(int received, const AssemblyStep& last) {
    if (received != kSuccess) return received;
    if (last.outcome == AssemblyOutcome::kSigningEnded)
        return SigningEndResult(last.signing_status);
    return kSuccess;
}

std::unique_ptr<unsigned char[]> WorkBuffer(size_t bytes) {
    return std::unique_ptr<unsigned char[]>(new unsigned char[bytes]);
}

// A command without parameters that the terminal answers at once, logged with "return:%d".
int ScreenCommand(CDEV_CounterMate& driver, const char* name) {
    TerminalOperation operation(driver, name);
    const int result = operation.Send(MakeCommand(name, std::nullopt, 0, StatusRule::kNotRead));
    CTM_TRACE(LOG_LEVEL_DEBUG, name, "return:%d", result);
    return result;
}

}  // namespace

int CDEV_CounterMate::ReadRawReport(unsigned char* report, int* count, int timeout,
                                    const std::atomic<int>* stop) {
    *count = 0;
    if (m_hid == nullptr) return kPortNotOpen;
    return WaitOnLink(timeout, Direction::kReceive, [&] {
        if (stop != nullptr && stop->load() != 0) return Attempt::kDone;
        const int read = ReadReport(report, ReportReader::kRaw);
        if (read <= 0) return read == 0 ? Attempt::kNotYet : Attempt::kLinkGone;
        *count = read;
        return Attempt::kDone;
    });
}

int CDEV_CounterMate::StartVideo(int mode) {
    const TerminalOperation operation(*this, "StartVideo");
    const unsigned char camera = mode == 1 ? 1 : 0;
    return operation.Return(
        ControlExchange(*this, stream::kStart, camera, kStartSendTimeout, kControlAnswerTimeout));
}

int CDEV_CounterMate::StopVideo() {
    const TerminalOperation operation(*this, "StopVideo");
    StopFrameReaders(*this);
    return operation.Return(
        ControlExchange(*this, stream::kStop, 0, kControlSendTimeout, kControlAnswerTimeout));
}

int CDEV_CounterMate::PauseVideo() {
    const TerminalOperation operation(*this, "DEV_PauseVideo");
    StopFrameReaders(*this);
    return operation.Return(PauseExchange(*this));
}

int CDEV_CounterMate::KeepVideo() {
    const TerminalOperation operation(*this, "DEV_KeepVideo");
    return operation.Return(
        ControlExchange(*this, stream::kKeep, 0, kControlSendTimeout, kKeepAnswerTimeout));
}

int CDEV_CounterMate::GetVideoData(int* length, unsigned char* frame) {
    const TerminalOperation operation(*this, "GetVideoData");
    if (length == nullptr || frame == nullptr) return operation.Return(kBadArgument);
    *length = 0;
    const FrameReaderScope reader;
    FrameAssembly assembly(frame, kVideoFrameCapacity, m_packet_size, StreamKind::kVideo,
                           EarlyParts::kCounted);
    AssemblyStep last;
    const int result = ReceiveFrame(
        *this, assembly,
        [](int failure) {
            CTM_TRACE(LOG_LEVEL_INFO, "GetVideoData", "HidRead result=%d", failure);
        },
        last);
    if (last.outcome == AssemblyOutcome::kFrameReady) {
        *length = static_cast<int>(assembly.FrameLength());
    }
    return operation.Return(result);
}

int CDEV_CounterMate::GetVideoData_Base64(char* text) {
    const TerminalOperation operation(*this, "GetVideoData_Base64");
    if (text == nullptr) return operation.Return(kBadArgument);
    text[0] = '\0';
    const FrameReaderScope reader;
    const auto work = WorkBuffer(kVideoWorkBytes);
    FrameAssembly assembly(work.get(),
                           std::min(kVideoWorkBytes, LargestFrameForText(kBase64FrameCapacity)),
                           m_packet_size, StreamKind::kVideo, EarlyParts::kIgnored);
    AssemblyStep last;
    const int result = ReceiveFrame(
        *this, assembly,
        [](int failure) {
            CTM_TRACE(LOG_LEVEL_INFO, "GetVideoData_Base64",
                      "GetVideoData_Base64 HidRead result=%d\n", failure);
        },
        last);
    if (result == kSuccess && last.outcome == AssemblyOutcome::kFrameReady) {
        Base64Encode(work.get(), static_cast<int>(assembly.FrameLength()), text);
    }
    return operation.Return(result);
}

int CDEV_CounterMate::GetCapturedImage(char* local_path, unsigned char* image, int* length) {
    const TerminalOperation operation(*this, "GetCapturedImage");
    if (image == nullptr || length == nullptr) return operation.Return(kBadArgument);
    return operation.Return(
        PullFileData(kCapturedImage, local_path, image, length, kCapturedImageCapacity));
}

int CDEV_CounterMate::GetCapturedImageAndBase64(char* local_path, char* image, int capacity) {
    const TerminalOperation operation(*this, "GetCapturedImageAndBase64");
    if (image == nullptr) return operation.Return(kBadArgument);
    return operation.Return(PullIntoBase64(kCapturedImage, local_path, image, capacity));
}

int CDEV_CounterMate::SignNameScreen_Start(int timeout) {
    TerminalOperation operation(*this, "SignNameScreen_Start");
    const CJsonObject param = Params({{"timeOut", timeout},
                                      {"voiceText", "请在指定位置签名"},
                                      {"picHeight", 480},
                                      {"picWidth", 640},
                                      {"picType", "ptPng"},
                                      {"isPicEqual", 1},
                                      {"declText", "签名区域"}});
    int result = operation.Send(MakeCommand("SignNameScreen", param, 0, StatusRule::kNotRead));
    if (result == kSuccess) {
        result = ControlExchange(*this, stream::kStart, stream::kSigningScreen, kControlSendTimeout,
                                 kControlAnswerTimeout);
    }
    return operation.Return(result);
}

int CDEV_CounterMate::SignNameScreen_GetScreen(long* length, unsigned char* image) {
    CTM_TRACE(LOG_LEVEL_DEBUG, "SignNameScreen_GetScreen", "...");
    int result = kBadArgument;
    if (length != nullptr && image != nullptr) {
        *length = 0;
        const FrameReaderScope reader;
        FrameAssembly assembly(image, kScreenImageCapacity, m_packet_size,
                               StreamKind::kSigningScreen, EarlyParts::kCounted);
        AssemblyStep last;
        result = SigningScreenResult(ReceiveFrame(
                                         *this, assembly,
                                         [](int failure) {
                                             CTM_TRACE(LOG_LEVEL_INFO, "SignNameScreen_GetScreen",
                                                       "HidRead result=%d", failure);
                                         },
                                         last),
                                     last);
        if (last.outcome == AssemblyOutcome::kFrameReady) {
            *length = static_cast<long>(assembly.FrameLength());
        }
    }
    CTM_TRACE(LOG_LEVEL_DEBUG, "SignNameScreen_GetScreen", "SignNameScreen_GetScreen return %d",
              result);
    return result;
}

int CDEV_CounterMate::SignNameScreen_GetScreenBase64(char* image) {
    CTM_TRACE(LOG_LEVEL_DEBUG, "SignNameScreen_GetScreenBase64", "...");
    int result = kBadArgument;
    if (image != nullptr) {
        image[0] = '\0';
        const FrameReaderScope reader;
        const auto work = WorkBuffer(kScreenWorkBytes);
        FrameAssembly assembly(
            work.get(), std::min(kScreenWorkBytes, LargestFrameForText(kBase64FrameCapacity)),
            m_packet_size, StreamKind::kSigningScreen, EarlyParts::kIgnored);
        AssemblyStep last;
        result = SigningScreenResult(ReceiveFrame(
                                         *this, assembly,
                                         [](int failure) {
                                             CTM_TRACE(LOG_LEVEL_INFO,
                                                       "SignNameScreen_GetScreenBase64",
                                                       "HidRead result=%d", failure);
                                         },
                                         last),
                                     last);
        if (result == kSuccess && last.outcome == AssemblyOutcome::kFrameReady) {
            Base64Encode(work.get(), static_cast<int>(assembly.FrameLength()), image);
        }
    }
    CTM_TRACE(LOG_LEVEL_DEBUG, "SignNameScreen_GetScreenBase64",
              "SignNameScreen_GetScreen return %d", result);
    return result;
}

int CDEV_CounterMate::SignNameScreen_End(char* sign_image) {
    const TerminalOperation operation(*this, "SignNameScreen_End");
    if (sign_image == nullptr) return operation.Return(kBadArgument);
    // The caller's text holds a Base64 picture (the service gives 1 MiB); a signature image
    // whose text would not fit leaves it empty.
    return operation.Return(
        PullIntoBase64(kSignatureImage, nullptr, sign_image, kBase64PictureCapacity));
}

int CDEV_CounterMate::StartComputerScreen() { return ScreenCommand(*this, "StartComputerScreen"); }

int CDEV_CounterMate::StopComputerScreen() { return ScreenCommand(*this, "StopComputerScreen"); }
