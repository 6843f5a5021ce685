// The identity card on this workstation's own reader, through `libcardgate.so` in the working
// directory: find the card, read its text and photo blocks, parse the text into one line and
// save the photo as a BMP file, sent back as Base64.
//
// The library is loaded for each request and unloaded at its end. The reader is the USB one,
// unless CONFIG.ini names a serial line:
//   [CARDREADER]
//   SerialPort=/dev/ttyS0     the reader's serial device (absent: the USB reader)
//   SerialBaud=115200         its speed (absent: 115200)
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "AUX_X.h"
#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::DriverText;
using countermate::HandlerArgs;
using countermate::format_reply;

namespace {

constexpr int kReaderSuccess = 0x90;
constexpr int kCardFound = 0x9F;
constexpr int kDefaultSerialBaud = 115200;
// Where the photo goes when the request names no file; removed before the reply.
constexpr const char* kScratchPhoto = "./Temp/zp.bmp";
// _SDT_ParsePhotoInfo: save the photo as a BMP file at the given path.
constexpr int kPhotoToFile = 2;
constexpr size_t kIdentityTextCapacity = 1024;

using OpenUsbEntry = int (*)(int fd);
using OpenSerialEntry = int (*)(const char* path, int baud);
using NoArgumentEntry = int (*)();
using CardCommandEntry = int (*)(unsigned char* out);
using ReadBaseEntry = int (*)(unsigned char* text, unsigned int* text_length, unsigned char* photo,
                              unsigned int* photo_length);
using ReadBaseFingerprintEntry = int (*)(unsigned char* text, unsigned int* text_length,
                                         unsigned char* photo, unsigned int* photo_length,
                                         unsigned char* fingerprint,
                                         unsigned int* fingerprint_length);
using ParseTextEntry = int (*)(const unsigned char* text, int text_length, int* card_kind,
                               char* out);
using ParsePhotoEntry = int (*)(const unsigned char* photo, int photo_length, int mode, char* out);

// The reader as CONFIG.ini names it.
struct ReaderPort {
    std::string serial_path;  // empty: the USB reader
    int baud = kDefaultSerialBaud;
};

ReaderPort configured_reader_port() {
    char folder[1024] = {};
    AUX_X::GetModuleCurPath(folder);
    const std::string config = std::string(folder) + "CONFIG.ini";
    ReaderPort port;
    char value[1024] = {};
    if (AUX_X::X_INIKeyString(config.c_str(), "CARDREADER", "SerialPort", value, nullptr)) {
        port.serial_path = value;
        while (!port.serial_path.empty() &&
               (port.serial_path.back() == ' ' || port.serial_path.back() == '\t')) {
            port.serial_path.pop_back();
        }
    }
    char baud[1024] = {};
    if (AUX_X::X_INIKeyString(config.c_str(), "CARDREADER", "SerialBaud", baud, nullptr)) {
        const int configured = std::atoi(baud);
        if (configured > 0) port.baud = configured;
    }
    return port;
}

// The reader library's entries, bound by name; the library is unloaded when this goes away.
class CardGate {
public:
    CardGate() {
        char folder[4096] = {};
        if (getcwd(folder, sizeof folder - 1) != nullptr) {
            handle_ = dlopen((std::string(folder) + "/libcardgate.so").c_str(), RTLD_LAZY);
        }
        if (handle_ == nullptr) return;
        open_usb = bind<OpenUsbEntry>("_SDT_OpenUsbByFD");
        open_serial = bind<OpenSerialEntry>("_SDT_OpenComBypath");
        close_device = bind<NoArgumentEntry>("_SDT_CloseDev");
        find_card = bind<CardCommandEntry>("_SDT_StartFindIDCard");
        select_card = bind<CardCommandEntry>("_SDT_SelectIDCard");
        read_base = bind<ReadBaseEntry>("_SDT_ReadBaseMsg");
        parse_text = bind<ParseTextEntry>("_SDT_ParseIDCardTextInfo");
        parse_photo = bind<ParsePhotoEntry>("_SDT_ParsePhotoInfo");
        read_base_fingerprint = bind<ReadBaseFingerprintEntry>("_SDT_ReadBaseFPMsg");
        read_new_application = dlsym(handle_, "_SDT_ReadNewAppMsg");  // looked up, not used
    }
    ~CardGate() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    CardGate(const CardGate&) = delete;
    CardGate& operator=(const CardGate&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Every entry a card read calls, besides the one that opens the reader.
    bool complete() const {
        return close_device && find_card && select_card && read_base && parse_text && parse_photo &&
               read_base_fingerprint;
    }

    OpenUsbEntry open_usb = nullptr;
    OpenSerialEntry open_serial = nullptr;
    NoArgumentEntry close_device = nullptr;
    CardCommandEntry find_card = nullptr;
    CardCommandEntry select_card = nullptr;
    ReadBaseEntry read_base = nullptr;
    ParseTextEntry parse_text = nullptr;
    ParsePhotoEntry parse_photo = nullptr;
    ReadBaseFingerprintEntry read_base_fingerprint = nullptr;
    void* read_new_application = nullptr;

private:
    template <typename Entry>
    Entry bind(const char* name) {
        return reinterpret_cast<Entry>(dlsym(handle_, name));
    }

    void* handle_ = nullptr;
};

struct ReadResult {
    int code = 0;
    std::string error_text;
};

// Waits for a card: one look when `wait_seconds` is below 1, else looks again every 100
// microseconds until a card answers or the wait is over.
ReadResult find_card(const CardGate& gate, int wait_seconds) {
    unsigned char scratch[64] = {};
    if (wait_seconds < 1) {
        if (gate.find_card(scratch) == kCardFound) return {};
        return {-11, "未寻到卡"};
    }
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::seconds(wait_seconds);
    while (std::chrono::steady_clock::now() - start <= limit) {
        if (gate.find_card(scratch) == kCardFound) return {};
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return {-2, "寻卡超时"};
}

// The card's blocks as the reader hands them over.
struct CardBlocks {
    unsigned char text[512] = {};
    unsigned int text_length = 0;
    unsigned char photo[2048] = {};
    unsigned int photo_length = 0;
    unsigned char fingerprint[2048] = {};
    unsigned int fingerprint_length = 0;
};

ReadResult read_blocks(const CardGate& gate, bool with_fingerprint, CardBlocks& blocks) {
    const int status =
        with_fingerprint
            ? gate.read_base_fingerprint(blocks.text, &blocks.text_length, blocks.photo,
                                         &blocks.photo_length, blocks.fingerprint,
                                         &blocks.fingerprint_length)
            : gate.read_base(blocks.text, &blocks.text_length, blocks.photo, &blocks.photo_length);
    if (status != kReaderSuccess) return {-11, "读取卡片信息失败"};
    return {};
}

struct CardRequest {
    int wait_seconds;
    bool with_fingerprint;
    std::string photo_path;
};

// The reader's steps once it is open: find, select, read, parse the text, save the photo and
// encode it.
ReadResult read_open_card(const CardGate& gate, CardRequest& request, std::string& identity,
                          DriverText& photo_base64) {
    ReadResult result = find_card(gate, request.wait_seconds);
    if (result.code != 0) return result;
    unsigned char scratch[64] = {};
    if (gate.select_card(scratch) != kReaderSuccess) return {-11, "选卡失败"};
    CardBlocks blocks;
    result = read_blocks(gate, request.with_fingerprint, blocks);
    if (result.code != 0) return result;
    countermate::OutputText text(kIdentityTextCapacity);
    int card_kind = 0;
    if (gate.parse_text(blocks.text, static_cast<int>(blocks.text_length), &card_kind,
                        text.data()) != 0) {
        return {-11, "解析二代证信息失败"};
    }
    identity = text.text();
    if (gate.parse_photo(blocks.photo, static_cast<int>(blocks.photo_length), kPhotoToFile,
                         &request.photo_path[0]) != 0) {
        return {-11, "解析并保存照片失败"};
    }
    if (ctm->FileBase64Encode(&request.photo_path[0], &photo_base64.text) != 0) {
        return {-11, "照片转BASE64数据失败"};
    }
    return {};
}

ReadResult read_identity_card(CardRequest& request, std::string& identity,
                              DriverText& photo_base64) {
    CardGate gate;
    if (!gate.loaded()) {
        const char* error = dlerror();
        SERVICE_LOG(LOG_LEVEL_ERROR, "STD_ReadIDCard", "%s", error ? error : "");
        return {-20, "加载动态库失败"};
    }
    const ReaderPort port = configured_reader_port();
    const bool serial = !port.serial_path.empty();
    if (serial ? gate.open_serial == nullptr : gate.open_usb == nullptr) {
        SERVICE_LOG(LOG_LEVEL_ERROR, "STD_ReadIDCard", "加载动态库函数%s失败！",
                    serial ? "_SDT_OpenComBypath" : "_SDT_OpenUsbByFD");
        return {-20, "加载动态库函数失败"};
    }
    // A library that lacks a later entry is as unusable as one without the first.
    if (!gate.complete()) {
        SERVICE_LOG(LOG_LEVEL_ERROR, "STD_ReadIDCard", "加载动态库函数失败！");
        return {-20, "加载动态库函数失败"};
    }
    const int opened = serial ? gate.open_serial(port.serial_path.c_str(), port.baud)
                              : gate.open_usb(0);
    ReadResult result;
    if (opened != kReaderSuccess) {
        result = {-3, "打开读卡器失败"};
    } else {
        result = read_open_card(gate, request, identity, photo_base64);
    }
    gate.close_device();
    return result;
}

}  // namespace

void CDEV_HUB::SDT_ReadIDCard(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    CardRequest request{reader.integer("outTimes", 0), reader.integer("isReadFP", 0) != 0,
                        reader.text("idPhotoPath")};
    const bool scratch_photo = request.photo_path.empty();
    std::string identity;
    DriverText photo_base64;
    ReadResult result;
    const std::string refusal = countermate::local_paths_refusal(
        {{"idPhotoPath", request.photo_path, countermate::PathUse::Write}});
    if (!refusal.empty()) {
        result = {countermate::kRefusedArgument, refusal};
    } else {
        if (scratch_photo) {
            mkdir("./Temp", 0777);
            request.photo_path = kScratchPhoto;
        }
        result = read_identity_card(request, identity, photo_base64);
        // The customer's photo is not left behind, whichever step failed.
        if (scratch_photo) std::remove(kScratchPhoto);
    }
    reply = format_reply(
        R"({"method":"SDT_ReadIDCard","retVal":%d,"idInfo":"%s","idPhotoBase64":"%s","errMsg":"%s"})",
        {result.code, identity, photo_base64.c_str(), result.error_text});
}
