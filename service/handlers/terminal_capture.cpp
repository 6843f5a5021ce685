// Capture on the terminal: identity card, fingerprint, signature, photo, and codes read from a
// photo. Pictures travel as files on this machine or as Base64 text in the reply.
//
// The card reads wait 20 seconds when `outTimes` is absent. The other keys without a default of
// their own (outTimes, picWidth, picHeight) read as 0 when absent: a wait of 0 is the driver's
// standard wait, and a size of 0 leaves the picture size to the terminal.
#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::OutputText;
using countermate::PathUse;
using countermate::PortClosing;
using countermate::format_reply;
using countermate::kLongTextCapacity;
using countermate::kBase64PictureCapacity;
using countermate::run_on_terminal;

namespace {

constexpr PortClosing kCardRead = PortClosing::AfterOperation;
constexpr PortClosing kCapture = PortClosing::UnlessCancelling;
// The wait the photo-code reader is always given.
constexpr int kBarCodeWait = 30;
// A card read's answer before the terminal has written one: no card data.
constexpr const char* kNoCardData = "{}";

int wait_argument(const HandlerArgs& args, int default_wait = 0) {
    return args.integer("outTimes", default_wait);
}

}  // namespace

void CDEV_HUB::ReadIDCard(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader, 20);
    const int card_source = reader.integer("cardReader", 0);
    const std::string photo = reader.text("idPotoPath");
    const std::string back = reader.text("idNegativePath");
    const std::string front = reader.text("idPositivePath");
    OutputText card(kLongTextCapacity, kNoCardData);
    const auto result = run_on_terminal(kCardRead,
                                        [&] {
                                            return ctm->ReadIDCard(timeout, card_source,
                                                                   card.data(), photo.c_str(),
                                                                   back.c_str(), front.c_str());
                                        },
                                        {{"idPotoPath", photo, PathUse::Write},
                                         {"idNegativePath", back, PathUse::Write},
                                         {"idPositivePath", front, PathUse::Write}});
    reply = format_reply(R"({"method":"ReadIDCard","retVal":%d,"idInfo":%s,"errMsg":"%s"})",
                         {result.code, card.text(), result.error_text});
}

void CDEV_HUB::ReadIDCard_Base64(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader, 20);
    const int card_source = reader.integer("cardReader", 0);
    OutputText card(kLongTextCapacity, kNoCardData);
    OutputText photo(kBase64PictureCapacity);
    OutputText front(kBase64PictureCapacity);
    OutputText back(kBase64PictureCapacity);
    const auto result = run_on_terminal(kCardRead, [&] {
        return ctm->ReadIDCard_Base64(timeout, card_source, card.data(), photo.data(), front.data(),
                                      back.data());
    });
    reply = format_reply(
        R"({"method":"ReadIDCard_Base64","retVal":%d,"idInfo":%s,"idPhotoPicBase64":"%s","idPositivePicBase64":"%s","idNegativePicBase64":"%s","errMsg":"%s"})",
        {result.code, card.text(), photo.text(), front.text(), back.text(), result.error_text});
}

void CDEV_HUB::GetFingerPrint(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader);
    const int width = reader.integer("picWidth", 0);
    const int height = reader.integer("picHeight", 0);
    std::string image = reader.text("fingerPath");
    OutputText finger_data(countermate::kFingerDataCapacity);
    const auto result = run_on_terminal(
        kCapture,
        [&] { return ctm->GetFingerPrint(timeout, width, height, &image[0], finger_data.data()); },
        {{"fingerPath", image, PathUse::Write}});
    reply =
        format_reply(R"({"method":"GetFingerPrint","retVal":%d, "fingerDat":"%s","errMsg":"%s"})",
                     {result.code, finger_data.text(), result.error_text});
}

void CDEV_HUB::GetFingerPrint_Base64(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader);
    const int width = reader.integer("picWidth", 0);
    const int height = reader.integer("picHeight", 0);
    OutputText picture(kBase64PictureCapacity);
    OutputText finger_data(countermate::kFingerDataCapacity);
    const auto result = run_on_terminal(kCapture, [&] {
        return ctm->GetFingerPrint_Base64(timeout, width, height, picture.data(),
                                          finger_data.data());
    });
    reply = format_reply(
        R"({"method":"GetFingerPrint_Base64","retVal":%d,"fingerPicPathBase64":"%s", "fingerDat":"%s","errMsg":"%s"})",
        {result.code, picture.text(), finger_data.text(), result.error_text});
}

void CDEV_HUB::GetSignName(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader);
    std::string image = reader.text("signPath");
    std::string track = reader.text("signDataPath");
    reply = countermate::plain_reply(
        R"({"method":"GetSignName","retVal":%d,"errMsg":"%s"})", kCapture,
        [&] { return ctm->GetSignName(timeout, &image[0], &track[0]); },
        {{"signPath", image, PathUse::Write}, {"signDataPath", track, PathUse::Write}});
}

void CDEV_HUB::GetSignName_Base64(std::string args, std::string& reply) {
    const int timeout = wait_argument(HandlerArgs(args));
    reply = countermate::text_result_reply(
        R"({"method":"GetSignName_Base64","retVal":%d,"signPicBase64":"%s","errMsg":"%s"})",
        kCapture, kBase64PictureCapacity,
        [&](char* picture) { return ctm->GetSignName_Base64(timeout, picture); });
}

void CDEV_HUB::GetPhoto_Base64(std::string args, std::string& reply) {
    const int timeout = wait_argument(HandlerArgs(args));
    reply = countermate::text_result_reply(
        R"({"method":"GetPhoto_Base64","retVal":%d,"photoBase64":"%s","errMsg":"%s"})", kCapture,
        countermate::kBase64PhotoCapacity,
        [&](char* photo) { return ctm->GetPhoto_Base64(timeout, photo); });
}

void CDEV_HUB::CamReadBarCode(std::string args, std::string& reply) {
    std::string photo = HandlerArgs(args).text("imgPath");
    OutputText code(kLongTextCapacity);
    // Reached only through the adapter itself: the caller owns the port, so it is left as it is.
    // The photo is a file on this machine that the driver pushes to the terminal.
    const auto result =
        run_on_terminal(PortClosing::Never,
                        [&] { return ctm->CamReadBarCode(&photo[0], kBarCodeWait, code.data()); },
                        {{"imgPath", photo, PathUse::Read}});
    const bool success = result.code == 0;
    reply = format_reply(
        R"({"functionName":"iCamReadBarCode","success":%d,"code":"%s","errorMsg":"%s"})",
        {success ? 1 : 0, code.text(), success ? std::string() : result.error_text});
}
