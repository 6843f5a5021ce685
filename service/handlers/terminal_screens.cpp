// Screen requests: the mirror of the terminal's signing screen (SignNameScreen_Start, _Get,
// _Status, _Stop) and the push of the workstation's screen to the terminal (StartComputerScreen,
// StopComputerScreen). The stream threads themselves are in core/screen_streams.cpp.
//
// Both starts leave the terminal port open for their stream; StopComputerScreen closes it.
#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "screen_streams.h"
#include "stream_output.h"
#include "terminal_replies.h"

using countermate::format_reply;
using countermate::HandlerArgs;
using countermate::PortClosing;

namespace {

// The signature picture as Base64 text: SignNameScreen_End pulls it with this capacity.
constexpr size_t kSignaturePictureCapacity = countermate::kBase64PictureCapacity;

// The reply of a stop that found its stream not running.
std::string not_running_reply(const char* reply_template, const char* function, const char* text) {
    SERVICE_LOG(LOG_LEVEL_DEBUG, function, "%s", text);
    return format_reply(reply_template, {0, ""});
}

}  // namespace

void CDEV_HUB::SignNameScreen_Start(std::string args, std::string& reply) {
    const int timeout = HandlerArgs(args).integer("outTimes", 20);
    // One mirror at a time: an earlier one ends before the terminal is asked again.
    countermate::stop_sign_mirror();
    const uint64_t connection = countermate::requesting_connection();
    reply =
        countermate::plain_reply(R"({"method":"SignNameScreen_Start","retVal":%d,"errMsg":"%s"})",
                                 PortClosing::LeftOpen, [&] {
                                     const int started = ctm->SignNameScreen_Start(timeout);
                                     if (started == 0) countermate::start_sign_mirror(connection);
                                     return started;
                                 });
}

void CDEV_HUB::SignNameScreen_Get(std::string, std::string& reply) {
    reply = countermate::text_result_reply(
        R"({"method":"SignNameScreen_Get","retVal":%d,"signPicBase64":"%s","errMsg":"%s"})",
        PortClosing::LeftOpen, kSignaturePictureCapacity,
        [](char* picture) { return ctm->SignNameScreen_End(picture); });
}

void CDEV_HUB::SignNameScreen_Status(std::string, std::string& reply) {
    reply = format_reply(R"({"method":"SignNameScreen_Status","signScreenStatus":%d})",
                         {m_signScreenStatus.load()});
}

void CDEV_HUB::SignNameScreen_Stop(std::string, std::string& reply) {
    const char* reply_template = R"({"method":"SignNameScreen_Stop","retVal":%d,"errMsg":"%s"})";
    if (!countermate::stop_sign_mirror()) {
        reply = not_running_reply(reply_template, "SignNameScreen_Stop", "摄像头已经关闭");
        return;
    }
    reply = countermate::plain_reply(reply_template, PortClosing::LeftOpen,
                                     [] { return ctm->CancelOpt(); });
}

void CDEV_HUB::StartComputerScreen(std::string, std::string& reply) {
    // One push at a time: an earlier one ends before the terminal is asked again.
    countermate::stop_computer_screen_push();
    reply = countermate::plain_reply(
        R"({"method":"StartComputerScreen","retVal":%d,"errMsg":"%s"})", PortClosing::LeftOpen, [] {
            const int started = ctm->StartComputerScreen();
            if (started == 0) countermate::start_computer_screen_push();
            return started;
        });
}

void CDEV_HUB::StopComputerScreen(std::string, std::string& reply) {
    const char* reply_template = R"({"method":"StopComputerScreen","retVal":%d,"errMsg":"%s"})";
    if (!countermate::stop_computer_screen_push()) {
        reply = not_running_reply(reply_template, "StopComputerScreen", "同屏已经关闭");
        return;
    }
    reply = countermate::plain_reply(reply_template, PortClosing::UnlessCancelling,
                                     [] { return ctm->StopComputerScreen(); });
}
