// The teller's sign-in and sign-out on the terminal, plain or as a page made from the
// deployed template.
#include "DEV_HUB.h"
#include "handler_args.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::PortClosing;
using countermate::plain_reply;

void CDEV_HUB::Login(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    std::string name = reader.text("userName");
    std::string number = reader.text("userNo");
    // Without a star level the teller is shown with none.
    const int stars = reader.integer("userStar", 0);
    reply = plain_reply(R"({"method":"Login","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling,
                        [&] { return ctm->Login(&name[0], &number[0], stars); });
}

void CDEV_HUB::Logout(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"Logout","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->Logout(); });
}

void CDEV_HUB::LoginByHtml(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    std::string name = reader.text("userName");
    std::string number = reader.text("userNo");
    std::string stars = reader.text("userStar");
    std::string position = reader.text("userPosition");
    std::string organisation = reader.text("orgName");
    std::string head = reader.text("headBase64");
    reply = plain_reply(R"({"method":"LoginByHtml","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [&] {
                            return ctm->LoginByHtml(&name[0], &number[0], &stars[0], &position[0],
                                                    &organisation[0], &head[0]);
                        });
}

void CDEV_HUB::LogoutByHtml(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"LogoutByHtml","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->LogoutByHtml(); });
}
