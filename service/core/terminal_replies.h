// The shapes that the terminal request handlers share, over the service's terminal object `ctm`
// and the adapter's cancel flag: output buffers for the driver, the check of the local paths a
// request names, a file argument that may come as Base64, and the replies that many requests
// have in common.
//
// Replies are built by format_reply into growing strings, so no reply is ever cut short; the
// driver's outputs are bounded by the capacities of OutputCapacities.h, which the driver respects.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "OutputCapacities.h"
#include "handler_args.h"
#include "local_paths.h"
#include "terminal_call.h"

namespace countermate {

// A zero-filled output buffer of `capacity` bytes for one driver result, followed by a spare
// zero byte, so its text is always terminated.
class OutputText {
public:
    explicit OutputText(size_t capacity, const char* initial = "");
    char* data() { return bytes_.data(); }
    std::string text() const { return bytes_.data(); }

private:
    std::vector<char> bytes_;
};

// A text the driver allocated with the C allocator (FileBase64Encode), released with the object.
struct DriverText {
    char* text = nullptr;
    DriverText() = default;
    ~DriverText() { std::free(text); }
    DriverText(const DriverText&) = delete;
    DriverText& operator=(const DriverText&) = delete;
    const char* c_str() const { return text ? text : ""; }
};

// The result code of a request refused before the terminal is used (a local path it may not
// use); the reply carries the refusal's own text.
constexpr int kRefusedArgument = -1;

// The local paths of `paths` checked against the rules and the FileRoots in force
// (local_paths.h): code 0 when every one may be used, otherwise kRefusedArgument with the text
// that names the refused argument.
TerminalResult check_local_paths(const std::vector<LocalPath>& paths);

// A file the terminal is to receive, named by the request's `fileForm` and `fileData`:
// fileForm 0 (the default) means fileData is a path on this machine, used as it is once
// check_local_paths allows it; any other fileForm means fileData is the file's content in
// Base64, decoded into `temporary_name` in the service library's folder. The decoded file is
// removed when this object goes away, whether the terminal took it or not, so no customer
// document stays behind in the library's folder.
class FileArgument {
public:
    // `data_key` names the request's key that holds the path or the content ("fileData" for
    // every request but FaceValidateWithTwoPhotos, which names two files); `form_key` names the
    // switch between a path and Base64 content ("dataForm" for the ShowDocument requests).
    FileArgument(const HandlerArgs& args, const char* temporary_name,
                 const char* data_key = "fileData", const char* form_key = "fileForm");
    ~FileArgument();
    FileArgument(const FileArgument&) = delete;
    FileArgument& operator=(const FileArgument&) = delete;

    // Checks the path, or decodes the Base64 content: code 0, the refusal of the path, or the
    // decoder's result code.
    TerminalResult prepare();
    // The local path to hand to the terminal.
    char* path() { return &path_[0]; }
    // Whether fileData holds Base64 content rather than a path.
    bool is_base64() const { return is_base64_; }

private:
    const char* data_key_;
    std::string data_;
    std::string path_;
    bool is_base64_ = false;
    bool decoded_ = false;
};

// call_terminal on the service's terminal, with the adapter's CancelOpt flag. `paths` are the
// local paths the operation is handed, each with the argument that named it: any of them that
// check_local_paths refuses is the result, and the terminal is not used.
TerminalResult run_on_terminal(PortClosing closing, const std::function<int()>& operation,
                               const std::vector<LocalPath>& paths = {});

// run_on_terminal with the request's file argument: a path that may not be read, or a Base64
// file that cannot be decoded, is the result, and the terminal is not used.
TerminalResult run_with_file(const HandlerArgs& args, const char* temporary_name,
                             PortClosing closing, const std::function<int(char* path)>& operation);

// One file argument of a request that names several: its key and its temporary file.
struct FileArgumentName {
    const char* data_key;
    const char* temporary_name;
};

// run_with_file for a request that names several files: they are prepared in the order given,
// and the first refusal or failed decoding is the result (the later files are not decoded, and
// the terminal is not used). The operation receives the local paths in the same order.
TerminalResult run_with_files(const HandlerArgs& args, const std::vector<FileArgumentName>& files,
                              PortClosing closing,
                              const std::function<int(const std::vector<char*>& paths)>& operation);

// The reply shapes below take the operation's local paths last, as run_on_terminal does.

// A reply carrying only the result: {"method":NAME,"retVal":%d,"errMsg":"%s"}.
std::string plain_reply(const char* reply_template, PortClosing closing,
                        const std::function<int()>& operation,
                        const std::vector<LocalPath>& paths = {});

// A reply with one text result (of at most `capacity` bytes) between retVal and errMsg.
std::string text_result_reply(const char* reply_template, PortClosing closing, size_t capacity,
                              const std::function<int(char*)>& operation,
                              const std::vector<LocalPath>& paths = {});

// A reply with one integer result between retVal and errMsg; the result starts at 0, so a
// failed request reports 0.
std::string integer_result_reply(const char* reply_template, PortClosing closing,
                                 const std::function<int(int*)>& operation,
                                 const std::vector<LocalPath>& paths = {});

// The code-reading replies: a code that the terminal hands over as an object ("{...}") is
// embedded with `object_template` (qrCode:%s), any other code is quoted with `text_template`
// (qrCode:"%s"). A successful read carries an empty errMsg.
std::string code_reading_reply(const char* object_template, const char* text_template,
                               const std::function<int(char*)>& operation);

}  // namespace countermate
