// Text recognition on this workstation through `libcardvision.so` in the working directory: the
// fields of an identity card's front or back, or the whole text of a picture.
//
// The library is loaded for each request and unloaded at its end, so recognition costs nothing
// while no page asks for it. The picture follows the fileForm rule: a path on this machine, or
// Base64 content decoded into the service's temporary file, removed after the request.
#include <dlfcn.h>

#include <functional>
#include <string>
#include <vector>

#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::OutputText;
using countermate::format_reply;

namespace {

constexpr int kLibraryUnavailable = -20;
constexpr int kUndecodablePicture = -8;
constexpr int kNoPicture = -1;
// The recognised text of a picture may be long; a card's fields are not.
constexpr size_t kPictureTextCapacity = 1024 * 1024;
constexpr size_t kCardFieldsCapacity = 1024;

using RecognitionEntry = int (*)(const char* picture_path, char* text);

struct Recognition {
    int code = 0;
    std::string text;
    std::string error_text;
};

// The library, unloaded when this goes away.
class RecognitionLibrary {
public:
    RecognitionLibrary() : handle_(dlopen("./libcardvision.so", RTLD_LAZY)) {}
    ~RecognitionLibrary() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    RecognitionLibrary(const RecognitionLibrary&) = delete;
    RecognitionLibrary& operator=(const RecognitionLibrary&) = delete;

    void* handle() const { return handle_; }

private:
    void* handle_;
};

std::string loader_error() {
    const char* error = dlerror();
    return error ? error : "";
}

// The picture the request names, ready for the library: code 0, or the request's result.
countermate::TerminalResult prepare_picture(const HandlerArgs& args,
                                            countermate::FileArgument& picture) {
    const bool base64 = args.integer("fileForm", 0) != 0;
    if (!base64 && args.text("fileData").empty()) return {kNoPicture, std::string()};
    countermate::TerminalResult prepared = picture.prepare();
    if (base64 && prepared.code != 0) return {kUndecodablePicture, std::string()};
    return prepared;
}

// Loads the library, binds `entry_names`, prepares the picture and runs `recognise` with the
// bound entries (in the order named), the picture's path and a text buffer of `capacity` bytes.
// A failed recognition reports the library's text as the error text.
Recognition run_recognition(
    const HandlerArgs& args, const char* request, const std::vector<const char*>& entry_names,
    size_t capacity,
    const std::function<int(const std::vector<RecognitionEntry>&, const char*, char*)>& recognise) {
    RecognitionLibrary library;
    if (library.handle() == nullptr) {
        const std::string error = loader_error();
        SERVICE_LOG(LOG_LEVEL_ERROR, request, "%s", error.c_str());
        return {kLibraryUnavailable, std::string(), error};
    }
    std::vector<RecognitionEntry> entries;
    for (const char* name : entry_names) {
        void* entry = dlsym(library.handle(), name);
        if (entry == nullptr) {
            const std::string error = loader_error();
            SERVICE_LOG(LOG_LEVEL_ERROR, request, "加载动态库（libcardvision.so）函数失败！");
            return {kLibraryUnavailable, std::string(), error};
        }
        entries.push_back(reinterpret_cast<RecognitionEntry>(entry));
    }
    SERVICE_LOG(LOG_LEVEL_ERROR, request, "加载动态库成功！");

    countermate::FileArgument picture(args, "temp.jpg");
    const countermate::TerminalResult prepared = prepare_picture(args, picture);
    if (prepared.code != 0) return {prepared.code, std::string(), prepared.error_text};
    OutputText text(capacity);
    const int code = recognise(entries, picture.path(), text.data());
    if (code != 0) return {code, std::string(), text.text()};
    return {code, text.text(), std::string()};
}

}  // namespace

void CDEV_HUB::IDCardOCR(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const bool back_side = reader.integer("imageType", 0) == 1;
    const Recognition result = run_recognition(
        reader, "IDCardOCR", {"GetFrontInfo", "GetBackInfo"}, kCardFieldsCapacity,
        [&](const std::vector<RecognitionEntry>& entries, const char* path, char* text) {
            return (back_side ? entries[1] : entries[0])(path, text);
        });
    reply = format_reply(R"({"method":"IDCardOCR","retVal":%d,"idInfo":"%s","errMsg":"%s"})",
                         {result.code, result.text, result.error_text});
}

void CDEV_HUB::ImageOCR(std::string args, std::string& reply) {
    const Recognition result =
        run_recognition(HandlerArgs(args), "ImageOCR", {"GetJPEGInfo"}, kPictureTextCapacity,
                        [](const std::vector<RecognitionEntry>& entries, const char* path,
                           char* text) { return entries[0](path, text); });
    reply = format_reply(R"({"method":"ImageOCR","retVal":%d,"txtInfo":"%s","errMsg":"%s"})",
                         {result.code, result.text, result.error_text});
}
