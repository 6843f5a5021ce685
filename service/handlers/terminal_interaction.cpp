// Customer interactions on the terminal: ratings, information and document screens, pictures,
// signature replay, text recognition and QR codes.
//
// Keys without a default of their own read as follows when absent. outTimes: 0 where the
// driver puts its own wait in place of 0 (ratings, information and document screens), and 30
// seconds where it hands the wait on as it is (pictures, signature replay, text recognition,
// QR codes, the rating page), since 0 would give the customer only the link's few seconds.
// keyValue 0 asks for the standard rating screen; isUrl 0 and showType 0 are ordinary choices.
#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::OutputText;
using countermate::PortClosing;
using countermate::format_reply;
using countermate::integer_result_reply;
using countermate::plain_reply;

namespace {

constexpr PortClosing kInteraction = PortClosing::UnlessCancelling;

// The wait for a request whose driver operation replaces a wait of 0 with its own.
int wait_argument(const HandlerArgs& args) { return args.integer("outTimes", 0); }

// The wait for a request whose driver operation hands the wait to the terminal as it is.
constexpr int kStandardWait = 30;
int customer_wait_argument(const HandlerArgs& args) {
    return args.integer("outTimes", kStandardWait);
}

// A QR code read on the terminal within the request's wait.
std::string read_code(const std::string& args, int (CCounterMate::*read)(int, char*),
                      const char* object_template, const char* text_template) {
    const int timeout = customer_wait_argument(HandlerArgs(args));
    return countermate::code_reading_reply(object_template, text_template,
                                           [&](char* code) { return (ctm->*read)(timeout, code); });
}

}  // namespace

void CDEV_HUB::Evaluate(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int keys = reader.integer("keyValue", 0);
    const int timeout = wait_argument(reader);
    reply = integer_result_reply(
        R"({"method":"Evaluate","retVal":%d,"evaluateValue":%d,"errMsg":"%s"})", kInteraction,
        [&](int* value) { return ctm->Evaluate(keys, timeout, value); });
}

void CDEV_HUB::EvaluateSix(std::string args, std::string& reply) {
    const int timeout = wait_argument(HandlerArgs(args));
    reply = integer_result_reply(
        R"({"method":"EvaluateSix","retVal":%d,"evaluateValue":%d,"errMsg":"%s"})", kInteraction,
        [&](int* value) { return ctm->EvaluateSix(timeout, value); });
}

void CDEV_HUB::EvaluateByHtml(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = customer_wait_argument(reader);
    std::string business = reader.text("businessName");
    OutputText evaluation(countermate::kLongTextCapacity);
    const auto result = countermate::run_on_terminal(kInteraction, [&] {
        return ctm->EvaluateByHtml(timeout, &business[0], evaluation.data());
    });
    // The terminal's evaluation is JSON, embedded as it is; a failed request carries {}.
    reply = result.code == 0
                ? format_reply(
                      R"({"method":"EvaluateByHtml","retVal":%d,"evaluateValue":%s,"errMsg":"%s"})",
                      {result.code, evaluation.text(), result.error_text})
                : format_reply(
                      R"({"method":"EvaluateByHtml","retVal":%d,"evaluateValue":{},"errMsg":"%s"})",
                      {result.code, result.error_text});
}

void CDEV_HUB::ShowInformation(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader);
    std::string html = reader.text("showInfo");
    const int is_url = reader.integer("isUrl", 0);
    reply = plain_reply(R"({"method":"ShowInformation","retVal":%d,"errMsg":"%s"})", kInteraction,
                        [&] { return ctm->ShowInformation(timeout, &html[0], is_url); });
}

void CDEV_HUB::ShowAndConfirmInformation(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader);
    std::string html = reader.text("showInfo");
    const int is_url = reader.integer("isUrl", 0);
    reply = integer_result_reply(
        R"({"method":"ShowAndConfirmInformation","retVal":%d,"interactiveValue":%d,"errMsg":"%s"})",
        kInteraction, [&](int* answer) {
            return ctm->ShowAndConfirmInformation(timeout, &html[0], is_url, answer);
        });
}

void CDEV_HUB::ShowPdfAndConfirm(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = wait_argument(reader);
    std::string pdf = reader.text("pdfPath");
    reply = integer_result_reply(
        R"({"method":"ShowPdfAndConfirm","retVal":%d,"confirmResult":%d,"errMsg":"%s"})",
        kInteraction,
        [&](int* confirmation) { return ctm->ShowPdfAndConfirm(timeout, &pdf[0], confirmation); },
        {{"pdfPath", pdf, countermate::PathUse::Read}});
}

void CDEV_HUB::ShowPictures(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = customer_wait_argument(reader);
    const int type = reader.integer("showType", 0);
    int answer = 0;
    const auto result = countermate::run_with_file(
        reader, "temp.jpg", kInteraction,
        [&](char* path) { return ctm->ShowPictures(path, type, timeout, &answer); });
    reply =
        format_reply(R"({"method":"ShowPictures","retVal":%d,"interactiveValue":%d,"errMsg":"%s"})",
                     {result.code, answer, result.error_text});
}

void CDEV_HUB::SignaturePlayback(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = customer_wait_argument(reader);
    const auto result = countermate::run_with_file(
        reader, "temp.txt", kInteraction,
        [&](char* path) { return ctm->SignaturePlayback(timeout, path); });
    reply = format_reply(R"({"method":"SignaturePlayback","retVal":%d,"errMsg":"%s"})",
                         {result.code, result.error_text});
}

void CDEV_HUB::PictureOCR(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = customer_wait_argument(reader);
    OutputText text(countermate::kLongTextCapacity);
    const auto result = countermate::run_with_file(
        reader, "temp.jpg", kInteraction,
        [&](char* path) { return ctm->PictureOCR(timeout, path, text.data()); });
    reply = format_reply(R"({"method":"PictureOCR","retVal":%d,"text":"%s","errMsg":"%s"})",
                         {result.code, text.text(), result.error_text});
}

void CDEV_HUB::ReadQR(std::string args, std::string& reply) {
    reply = read_code(args, &CCounterMate::ReadQR,
                      R"({"method":"ReadQR","retVal":%d,"qrCode":%s,"errMsg":"%s"})",
                      R"({"method":"ReadQR","retVal":%d,"qrCode":"%s","errMsg":"%s"})");
}

void CDEV_HUB::ReadQR_Qinglan(std::string args, std::string& reply) {
    reply = read_code(args, &CCounterMate::ReadQR_Qinglan,
                      R"({"method":"ReadQR_Qinglan","retVal":%d,"qrCode":%s,"errMsg":"%s"})",
                      R"({"method":"ReadQR_Qinglan","retVal":%d,"qrCode":"%s","errMsg":"%s"})");
}

void CDEV_HUB::GenerateQRCode(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = customer_wait_argument(reader);
    std::string content = reader.text("qrContent");
    reply = plain_reply(R"({"method":"GenerateQRCode","retVal":%d,"errMsg":"%s"})", kInteraction,
                        [&] { return ctm->GenerateQRCode(timeout, &content[0]); });
}
