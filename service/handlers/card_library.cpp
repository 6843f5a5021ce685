// Social-security, bank and identity cards through the outside card library
// `libSSCardDriver.so` in the working directory, and the card module's service address.
//
// The library is not shipped: a counter that has one drops it into the working directory. Its
// presence is tested on every request, so adding or removing the file switches the four card
// reads between the library and the terminal's own card module without a restart. Once loaded,
// the library stays loaded (it may keep the card module's session between the HSM steps).
#include <dlfcn.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "AUX_X.h"
#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::OutputText;
using countermate::format_reply;

namespace {

// The result of a code a library does not have.
constexpr int kLibraryUnavailable = -20;
// The result of a request refused before any card is read.
constexpr int kRefused = -1;
// Each output text of the library.
constexpr size_t kCardTextCapacity = 1024;

using CardTypeEntry = int (*)(int card_type, char* out);
using KeyEntry = int (*)(char* key, char* out);
using IdentityEntry = int (*)(int mode, int photo_kind, char* photo, char* reserved, char* out);

std::string working_directory_file(const char* name) {
    char folder[4096] = {};
    if (getcwd(folder, sizeof folder - 1) == nullptr) return name;
    return std::string(folder) + "/" + name;
}

std::string card_library_path() { return working_directory_file("libSSCardDriver.so"); }

bool card_library_present() { return access(card_library_path().c_str(), F_OK) == 0; }

// `entry` of the card library, or null after logging why (under `function`). The library is
// never unloaded.
void* card_library_entry(const char* function, const char* entry) {
    void* library = dlopen(card_library_path().c_str(), RTLD_LAZY);
    if (library == nullptr) {
        const char* error = dlerror();
        SERVICE_LOG(LOG_LEVEL_ERROR, function, "%s", error ? error : "");
        return nullptr;
    }
    void* found = dlsym(library, entry);
    if (found == nullptr) {
        SERVICE_LOG(LOG_LEVEL_ERROR, function, "加载动态库函数%s失败！", entry);
    }
    return found;
}

// One card read: from the library's `entry` when the library is present, else from the
// terminal. The reply carries the result and the output text.
struct CardRead {
    const char* request;  // the request name, also the log's function name
    const char* entry;    // the library's entry
    std::function<int(void* entry, char* out)> from_library;
    std::function<int(char* out)> from_terminal;
};

struct CardReadResult {
    int code = 0;
    std::string text;
};

CardReadResult read_card(const CardRead& read) {
    OutputText out(kCardTextCapacity);
    if (!card_library_present()) {
        // The terminal's codes; its text for them is not looked up.
        const auto result =
            countermate::run_on_terminal(countermate::PortClosing::AfterOperation,
                                         [&] { return read.from_terminal(out.data()); });
        return {result.code, out.text()};
    }
    void* entry = card_library_entry(read.request, read.entry);
    if (entry == nullptr) {
        return {kLibraryUnavailable, countermate::terminal_error_text(*ctm, kLibraryUnavailable)};
    }
    const int code = read.from_library(entry, out.data());
    return {code, out.text()};
}

// The card kind a read needs. It has no sensible default (it chooses which card is read), so a
// request without it is refused with -1 and the text for that code, and no card is read.
bool card_type_given(const HandlerArgs& args, CardReadResult& refusal) {
    if (args.has_integer("icType")) return true;
    refusal = {kRefused, countermate::terminal_error_text(*ctm, kRefused)};
    return false;
}

std::string card_read_reply(const char* reply_template, const CardReadResult& result) {
    return format_reply(reply_template, {result.code, result.text});
}

}  // namespace

void CDEV_HUB::iReadCardBas(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int card_type = reader.integer("icType", 0);
    CardReadResult result;
    if (card_type_given(reader, result)) {
        result = read_card({"iReadCardBas", "iReadCardBas",
                            [&](void* entry, char* out) {
                                return reinterpret_cast<CardTypeEntry>(entry)(card_type, out);
                            },
                            [&](char* out) { return ctm->iReadCardBas(card_type, out); }});
    }
    reply = card_read_reply(R"({"method":"iReadCardBas","retVal":%d,"outInfo":"%s"})", result);
}

void CDEV_HUB::iReadCardBas_HSM_Step1(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int card_type = reader.integer("icType", 0);
    CardReadResult result;
    if (card_type_given(reader, result)) {
        result =
            read_card({"iReadCardBas_HSM_Step1", "iReadCardBas_HSM_Step1",
                       [&](void* entry, char* out) {
                           return reinterpret_cast<CardTypeEntry>(entry)(card_type, out);
                       },
                       [&](char* out) { return ctm->iReadCardBas_HSM_Step1(card_type, out); }});
    }
    reply = card_read_reply(R"({"method":"iReadCardBas_HSM_Step1","retVal":%d,"outInfo":"%s"})",
                            result);
}

void CDEV_HUB::iReadCardBas_HSM_Step2(std::string args, std::string& reply) {
    std::string key = HandlerArgs(args).text("key");
    const CardReadResult result = read_card(
        {"iReadCardBas_HSM_Step2", "iReadCardBas_HSM_Step2",
         [&](void* entry, char* out) { return reinterpret_cast<KeyEntry>(entry)(&key[0], out); },
         [&](char* out) { return ctm->iReadCardBas_HSM_Step2(&key[0], out); }});
    reply = card_read_reply(R"({"method":"iReadCardBas_HSM_Step2","retVal":%d,"outInfo":"%s"})",
                            result);
}

void CDEV_HUB::iReadICCardNum(std::string args, std::string& reply) {
    // The terminal answers within 5 seconds whatever it is given (the driver waits no longer),
    // so a request without outTimes gives it those 5 seconds. The library reads the bank card
    // with its own wait: outTimes is not used there.
    constexpr int kBankCardKind = 3;
    constexpr int kDefaultCardNumberWait = 5;
    const int timeout = HandlerArgs(args).integer("outTimes", kDefaultCardNumberWait);
    const CardReadResult result =
        read_card({"iReadICCardNum", "iReadBankCard",
                   [&](void* entry, char* out) {
                       return reinterpret_cast<CardTypeEntry>(entry)(kBankCardKind, out);
                   },
                   [&](char* out) { return ctm->iReadICCardNum(timeout, out); }});
    reply = card_read_reply(R"({"method":"iReadICCardNum","retVal":%d,"CardNum":"%s"})", result);
}

void CDEV_HUB::ReadIdentityCard(std::string, std::string& reply) {
    OutputText photo(countermate::kBase64PictureCapacity);
    std::string identity;
    std::string error_text;
    int code = kLibraryUnavailable;
    // A library that is absent or lacks its entry is logged; the reply's texts stay empty.
    if (!card_library_present()) {
        SERVICE_LOG(LOG_LEVEL_ERROR, "ReadIdentityCard", "动态库不在！");
    } else if (void* entry = card_library_entry("ReadIdentityCard", "iReadSFZ")) {
        OutputText out(kCardTextCapacity);
        char reserved[1] = {};
        code = reinterpret_cast<IdentityEntry>(entry)(0, 1, photo.data(), reserved, out.data());
        // The library's text starts with two characters of its own before the identity text.
        const std::string text = out.text();
        if (code != 0) {
            error_text = text;
        } else if (text.size() > 2) {
            identity = text.substr(2);
        }
    }
    reply = format_reply(
        R"({"method":"iReadIdentityCard","retVal":%d,"idCardInfo":"%s","photoBase64":"%s","photoFrontBase64":"%s","photoBackBase64":"%s","errMsg":"%s"})",
        {code, identity, photo.text(), "", "", error_text});
}

void CDEV_HUB::SetHSMURL(std::string args, std::string& reply) {
    const std::string url = HandlerArgs(args).text("url");
    SERVICE_LOG(LOG_LEVEL_ERROR, "SetHSMURL", "。。。");
    const std::string path = working_directory_file("CardReader/SIReader.ini");
    SERVICE_LOG(LOG_LEVEL_ERROR, "SetHSMURL", "iniPath:%s", path.c_str());
    // A line break would end the URL's line and let the page write further lines (sections and
    // keys of its choosing) into the card module's configuration.
    const bool one_line = url.find_first_of("\r\n") == std::string::npos;
    const int code = one_line ? AUX_X::W_INIKeyString("WEB", "URL", url.c_str(), path.c_str())
                              : kRefused;
    reply = format_reply(R"({"method":"SetHSMURL","retVal":%d,"errMsg":""})", {code});
}
