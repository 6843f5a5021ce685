// Face and fingerprint comparisons on the terminal: the customer's live face or finger against
// the identity card the terminal reads, or against photos this workstation supplies.
//
// The terminal is given `outTimes` as it is, so a request without it gets 30 seconds (a 0 would
// leave the customer no time at all); `cameraType` 0 is the ordinary camera, `cardReader` 0 the
// terminal's own reader. Photos follow the fileForm rule: a path on this machine, or Base64
// content decoded into the service's temporary files, removed after the request.
#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::OutputText;
using countermate::PortClosing;
using countermate::format_reply;

namespace {

constexpr PortClosing kComparison = PortClosing::UnlessCancelling;
constexpr int kDefaultComparisonWait = 30;
// The card's answer before the terminal has written one: no card data.
constexpr const char* kNoCardData = "{}";
// The fingerprint templates read from the card, as Base64.
constexpr size_t kCardFingerDataCapacity = 10240;

int comparison_wait(const HandlerArgs& args) {
    return args.integer("outTimes", kDefaultComparisonWait);
}

}  // namespace

void CDEV_HUB::FaceValidateWithIdCard(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = comparison_wait(reader);
    const int card_source = reader.integer("cardReader", 0);
    const int infrared = reader.integer("cameraType", 0);
    double score = 0.0;
    OutputText card(countermate::kLongTextCapacity, kNoCardData);
    OutputText photo(countermate::kBase64PictureCapacity);
    OutputText scene(countermate::kBase64PhotoCapacity);
    const auto result = countermate::run_on_terminal(kComparison, [&] {
        return ctm->FaceValidateWithIdCard_Base64(timeout, infrared, card_source, &score,
                                                  card.data(), photo.data(), nullptr, nullptr,
                                                  scene.data());
    });
    // The card's data is embedded as the terminal gave it only when the comparison succeeded.
    const char* reply_template =
        result.code == 0
            ? R"({"method":"FaceValidateWithIdCard","retVal":%d,"score":%f,"idInfo":%s,"idPhotoBase64":"%s","scenceBase64":"%s","errMsg":"%s"})"
            : R"({"method":"FaceValidateWithIdCard","retVal":%d,"score":%f,"idInfo":{},"idPhotoBase64":"%s","scenceBase64":"%s","errMsg":"%s"})";
    if (result.code == 0) {
        reply = format_reply(reply_template, {result.code, score, card.text(), photo.text(),
                                              scene.text(), result.error_text});
    } else {
        reply = format_reply(reply_template,
                             {result.code, score, photo.text(), scene.text(), result.error_text});
    }
}

void CDEV_HUB::FingerValidateWithIdCard(std::string args, std::string& reply) {
    const int timeout = comparison_wait(HandlerArgs(args));
    double score = 0.0;
    OutputText card(countermate::kLongTextCapacity, kNoCardData);
    OutputText finger(countermate::kBase64PictureCapacity);
    OutputText card_finger(kCardFingerDataCapacity);
    const auto result = countermate::run_on_terminal(kComparison, [&] {
        return ctm->FingerValidateWithIdCard_Base64(timeout, &score, card.data(), finger.data(),
                                                    card_finger.data());
    });
    reply = format_reply(
        R"({"method":"FingerValidateWithIdCard","retVal":%d,"score":%f,"idInfo":%s,"fingerImgBase64":"%s","cardFingerData":"%s","errMsg":"%s"})",
        {result.code, score, card.text(), finger.text(), card_finger.text(), result.error_text});
}

void CDEV_HUB::FaceValidateWithPhoto(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = comparison_wait(reader);
    double score = 0.0;
    OutputText scene(countermate::kBase64PhotoCapacity);
    const auto result =
        countermate::run_with_file(reader, "temp.jpg", kComparison, [&](char* card_photo) {
            return ctm->FaceValidateWithIdCardPhoto_Base64(timeout, card_photo, &score,
                                                           scene.data());
        });
    reply = format_reply(
        R"({"method":"FaceValidateWithPhoto","retVal":%d,"score":%f,"scencePicBase64":"%s","errMsg":"%s"})",
        {result.code, score, scene.text(), result.error_text});
}

void CDEV_HUB::FaceValidateWithPhotoIdCard(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = comparison_wait(reader);
    double score = 0.0;
    const auto result =
        countermate::run_with_file(reader, "temp.jpg", kComparison, [&](char* face_photo) {
            return ctm->FaceValidateWithFacePhoto(timeout, face_photo, &score);
        });
    reply = format_reply(
        R"({"method":"FaceValidateWithPhotoIdCard","retVal":%d,"score":%f,"errMsg":"%s"})",
        {result.code, score, result.error_text});
}

void CDEV_HUB::FaceValidateWithTwoPhotos(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = comparison_wait(reader);
    double score = 0.0;
    // The second photo is decoded only once the first one was.
    const auto result = countermate::run_with_files(
        reader, {{"file1Data", "temp1.jpg"}, {"file2Data", "temp2.jpg"}}, kComparison,
        [&](const std::vector<char*>& photos) {
            return ctm->FaceValidateWithPCPhoto(timeout, photos[0], photos[1], &score);
        });
    reply = format_reply(
        R"({"method":"FaceValidateWithTwoPhotos","retVal":%d,"score":%f,"errMsg":"%s"})",
        {result.code, score, result.error_text});
}
