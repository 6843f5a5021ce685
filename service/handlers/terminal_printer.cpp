// The terminal's receipt printer: open, close, print a receipt or a QR code.
#include "DEV_HUB.h"
#include "handler_args.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::PortClosing;
using countermate::plain_reply;

void CDEV_HUB::OpenPrinter(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"OpenPrinter","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->OpenPrinter(); });
}

void CDEV_HUB::ClosePrinter(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"ClosePrinter","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->ClosePrinter(); });
}

void CDEV_HUB::PrintReceipt(std::string args, std::string& reply) {
    std::string receipt = HandlerArgs(args).text("printInfo");
    reply = plain_reply(R"({"method":"PrintReceipt","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling,
                        [&] { return ctm->PrintReceipt(&receipt[0]); });
}

void CDEV_HUB::PrintQR(std::string args, std::string& reply) {
    std::string qr_text = HandlerArgs(args).text("qrInfo");
    reply = plain_reply(R"({"method":"PrintQR","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [&] { return ctm->PrintQR(&qr_text[0]); });
}
