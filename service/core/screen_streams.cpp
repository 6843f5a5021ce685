#include "screen_streams.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "DEV_HUB.h"
#include "reply_format.h"
#include "stream_output.h"
#include "terminal_replies.h"

namespace countermate {

namespace {

// The signing screen's picture as Base64 text: the capacity the driver fills at most.
constexpr size_t kMirrorImageCapacity = kBase64FrameCapacity;

// The screen picture the push writes and sends, relative to the working directory (the deploy
// folder, which holds Temp/), and where the terminal app shows it from.
char kScreenPicture[] = "./Temp/1.jpg";
char kTerminalScreenPicture[] = "/sdcard/ZR/CounterMate/temp/computer_screen.png";
constexpr int kTerminalPathKind = 4;  // DownLoadFile: the name is the whole terminal path
constexpr std::chrono::milliseconds kPushPause{10};

// Guards m_signStreamTh and mirror_connection: the start and the stop of the mirror.
std::mutex sign_mirror_lock;
uint64_t mirror_connection = 0;

// Guards m_computerStreamTh: the start and the stop of the push.
std::mutex screen_push_lock;

// One signing-screen picture as the frame the page receives.
std::string mirror_frame(const char* image) {
    return format_reply(R"({"method":"ScreenStream","retVal":%d,"imgBase64":"%s"})", {0, image});
}

// The mirror thread: a frame per picture the terminal sends, until the stop flag, the end of the
// signing (status 2), another failure of the terminal (status 3), or the page's leaving.
void run_sign_mirror(std::unique_ptr<StreamOutput> output) {
    SERVICE_LOG(LOG_LEVEL_INFO, "SignNameStreamThreadProcess", "同屏线程启动...");
    OutputText image(kMirrorImageCapacity);
    while (!m_isStopScreenStream) {
        image.data()[0] = '\0';
        const int result = ctm->SignNameScreen_GetScreenBase64(image.data());
        SERVICE_LOG(LOG_LEVEL_INFO, "SignNameStreamThreadProcess",
                    "SignNameScreen_GetScreen return %d", result);
        if (result == 1) {
            m_signScreenStatus = 2;
            break;
        }
        if (result != 0) {
            m_signScreenStatus = 3;
            break;
        }
        // A read that a stop ended before the picture was whole returns 0 with no picture.
        if (image.data()[0] == '\0') continue;
        if (!output->send(mirror_frame(image.data()))) break;  // the page has gone
    }
    SERVICE_LOG(LOG_LEVEL_INFO, "SignNameStreamThreadProcess", "同屏线程退出！");
    m_isStopScreenStream = true;
}

using SnapDeskFunction = bool (*)(const char* path);

// The push loop proper: a picture of the screen, sent to the terminal, then the pause that paces
// the loop; until the stop flag or the first failure.
void push_screen_pictures(SnapDeskFunction snap_desk) {
    while (!m_isStopComputerScreenStream) {
        if (!snap_desk(kScreenPicture)) {
            SERVICE_LOG(LOG_LEVEL_ERROR, "ComputerStreamThreadProcess", "截屏保存图片失败！");
            return;
        }
        if (ctm->DownLoadFile(kTerminalPathKind, kScreenPicture, kTerminalScreenPicture) != 0) {
            SERVICE_LOG(LOG_LEVEL_ERROR, "ComputerStreamThreadProcess",
                        "推送截屏图片文件到柜台伴失败！");
            return;
        }
        std::this_thread::sleep_for(kPushPause);
    }
}

// The push thread: the screen library is loaded for the stream and unloaded after it, which
// releases its display connection.
void run_screen_push() {
    dlerror();
    void* library = dlopen("./liblibsnapdesk.so", RTLD_LAZY);
    if (!library) {
        SERVICE_LOG(LOG_LEVEL_ERROR, "ComputerStreamThreadProcess", "%s", dlerror());
    } else if (auto snap_desk = reinterpret_cast<SnapDeskFunction>(dlsym(library, "SnapDesk"))) {
        SERVICE_LOG(LOG_LEVEL_INFO, "ComputerStreamThreadProcess", "同屏线程启动...");
        push_screen_pictures(snap_desk);
        SERVICE_LOG(LOG_LEVEL_INFO, "ComputerStreamThreadProcess", "PC同屏到柜台伴线程退出！");
    } else {
        SERVICE_LOG(LOG_LEVEL_ERROR, "ComputerStreamThreadProcess", "加载动态库函数SnapDesk失败！");
    }
    if (library) dlclose(library);
    m_isStopComputerScreenStream = true;
}

// Starts `body` on `thread` with `stop_flag` cleared; a thread that cannot be made leaves the
// stream stopped. The caller holds the stream's lock and has joined the thread before.
template <typename Body>
bool start_stream_thread(std::thread& thread, std::atomic<bool>& stop_flag, const char* stream,
                         Body body) {
    stop_flag = false;
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error& error) {
        stop_flag = true;
        SERVICE_LOG(LOG_LEVEL_ERROR, stream, "Can't create thread: %s", error.what());
        return false;
    }
}

// Sets the stop flag and joins the thread. True when the stream was running.
bool stop_and_join(std::thread& thread, std::atomic<bool>& stop_flag, bool force_return) {
    const bool was_running = !stop_flag.exchange(true);
    // The driver's read in progress returns at once rather than at its picture's end.
    if (was_running && force_return) m_Dev_Hub.SetForcedReturn();
    if (thread.joinable()) thread.join();
    return was_running;
}

bool stop_sign_mirror_locked() {
    const bool was_running = stop_and_join(m_signStreamTh, m_isStopScreenStream, true);
    mirror_connection = 0;
    return was_running;
}

}  // namespace

void start_sign_mirror(uint64_t connection) {
    std::lock_guard<std::mutex> guard(sign_mirror_lock);
    stop_sign_mirror_locked();
    auto output = std::make_unique<StreamOutput>(connection, "ScreenStream");
    m_signScreenStatus = 1;
    if (start_stream_thread(
            m_signStreamTh, m_isStopScreenStream, "SignNameScreen_Start",
            [output = std::move(output)]() mutable { run_sign_mirror(std::move(output)); })) {
        mirror_connection = connection;
    }
}

bool stop_sign_mirror() {
    std::lock_guard<std::mutex> guard(sign_mirror_lock);
    return stop_sign_mirror_locked();
}

void stop_sign_mirror_of(uint64_t connection) {
    std::lock_guard<std::mutex> guard(sign_mirror_lock);
    if (connection == 0 || connection != mirror_connection) return;
    if (stop_sign_mirror_locked()) {
        SERVICE_LOG(LOG_LEVEL_INFO, "onExit", "the mirror's client has gone: mirror stopped");
    }
}

void start_computer_screen_push() {
    std::lock_guard<std::mutex> guard(screen_push_lock);
    stop_and_join(m_computerStreamTh, m_isStopComputerScreenStream, false);
    start_stream_thread(m_computerStreamTh, m_isStopComputerScreenStream, "StartComputerScreen",
                        run_screen_push);
}

bool stop_computer_screen_push() {
    std::lock_guard<std::mutex> guard(screen_push_lock);
    return stop_and_join(m_computerStreamTh, m_isStopComputerScreenStream, false);
}

bool screen_stream_uses_port() { return !m_isStopScreenStream || !m_isStopComputerScreenStream; }

void stop_screen_streams() {
    stop_sign_mirror();
    stop_computer_screen_push();
}

}  // namespace countermate
