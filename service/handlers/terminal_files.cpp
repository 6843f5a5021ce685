// Files between the page, this workstation and the terminal: pushing media to the terminal,
// listing and deleting its files, updating its app, and a workstation file as Base64 and back.
//
// Every local path a page names here is checked first (a regular file, inside FileRoots when
// they are set), and a Base64 file to push is decoded into the service's own temporary file,
// never into a path the page chose: the name a page gives is the file's name on the terminal.
#include <functional>

#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::DriverText;
using countermate::HandlerArgs;
using countermate::OutputText;
using countermate::PathUse;
using countermate::PortClosing;
using countermate::TerminalResult;
using countermate::format_reply;

namespace {

// Where a Base64 file to push is decoded; removed after the request in every case.
constexpr const char* kPushedFileTemporary = "temp.jpg";

// The terminal's kind of file (media, styles, sounds...). It has no sensible default: a request
// without it would push or delete in a folder the page did not choose.
struct FileKind {
    bool given;
    int value;
};

FileKind file_kind(const HandlerArgs& args) {
    return {args.has_integer("fileType"), args.integer("fileType", 0)};
}

// `operation` on the terminal when the request gave its fileType; otherwise the request is
// refused with -1 and its text, and the terminal is not used.
TerminalResult run_with_kind(const FileKind& kind,
                             const std::function<TerminalResult()>& operation) {
    if (kind.given) return operation();
    const int refused = countermate::kRefusedArgument;
    return {refused, countermate::terminal_error_text(*ctm, refused)};
}

}  // namespace

void CDEV_HUB::DownLoadFile(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const FileKind kind = file_kind(reader);
    std::string name = reader.text("fileName");
    const auto result = run_with_kind(kind, [&] {
        return countermate::run_with_file(
            reader, kPushedFileTemporary, PortClosing::UnlessCancelling,
            [&](char* local_path) { return ctm->DownLoadFile(kind.value, local_path, &name[0]); });
    });
    reply = format_reply(R"({"method":"DownLoadFile","retVal":%d,"errMsg":"%s"})",
                         {result.code, result.error_text});
}

void CDEV_HUB::GetFileInfo(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const FileKind kind = file_kind(reader);
    std::string folder = reader.text("filePath");
    OutputText names(countermate::kLongTextCapacity);
    const auto result = run_with_kind(kind, [&] {
        return countermate::run_on_terminal(PortClosing::UnlessCancelling, [&] {
            return ctm->GetFileInfo(kind.value, &folder[0], names.data());
        });
    });
    // The terminal hands the list over as JSON, embedded as it is; anything else is sent as a
    // string.
    reply = format_reply(R"({"method":"GetFileInfo","retVal":%d,"fileNames":%s,"errMsg":"%s"})",
                         {result.code, names.text(), result.error_text});
}

void CDEV_HUB::DeleteDevFile(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const FileKind kind = file_kind(reader);
    std::string folder = reader.text("filePath");
    std::string name = reader.text("fileName");
    int removed = 0;
    const auto result = run_with_kind(kind, [&] {
        return countermate::run_on_terminal(PortClosing::UnlessCancelling, [&] {
            return ctm->DeleteFile(kind.value, &folder[0], &name[0], &removed);
        });
    });
    reply =
        format_reply(R"({"method":"DeleteFile","retVal":%d,"removeFileCount":%d,"errMsg":"%s"})",
                     {result.code, removed, result.error_text});
}

void CDEV_HUB::UpdateApk(std::string args, std::string& reply) {
    std::string package = HandlerArgs(args).text("apkPath");
    reply = countermate::plain_reply(
        R"({"method":"UpdateApk","retVal":%d,"errMsg":"%s"})", PortClosing::UnlessCancelling,
        [&] { return ctm->UpdateApk(&package[0]); }, {{"apkPath", package, PathUse::Read}});
}

void CDEV_HUB::FileBase64Encode(std::string args, std::string& reply) {
    std::string path = HandlerArgs(args).text("filePath");
    DriverText encoded;
    const auto result = countermate::run_on_terminal(
        PortClosing::Never, [&] { return ctm->FileBase64Encode(&path[0], &encoded.text); },
        {{"filePath", path, PathUse::Read}});
    // The text is released when the reply is built, before the reply is sent, so a large file
    // is held as its Base64 text and its reply, not more.
    reply =
        format_reply(R"({"method":"FileBase64Encode","retVal":%d,"fileBase64":"%s","errMsg":"%s"})",
                     {result.code, encoded.c_str(), result.error_text});
}

void CDEV_HUB::FileBase64Decode(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    std::string path = reader.text("filePath");
    std::string text = reader.text("fileBase64");
    reply = countermate::plain_reply(R"({"method":"FileBase64Decode","retVal":%d,"errMsg":"%s"})",
                                     PortClosing::Never,
                                     [&] { return ctm->FileBase64Decode(&text[0], &path[0]); },
                                     {{"filePath", path, PathUse::Write}});
}
