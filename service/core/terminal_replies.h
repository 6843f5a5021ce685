// The shapes that the terminal request handlers share, over the service's terminal object `ctm`
// and the adapter's cancel flag: output buffers for the driver, a file argument that may come as
// Base64, and the replies that many requests have in common.
//
// Replies are built by format_reply into growing strings, so no reply is ever cut short; the
// driver's outputs are bounded by the capacities of OutputCapacities.h, which the driver respects.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "OutputCapacities.h"
#include "handler_args.h"
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

// A file the terminal is to receive, named by the request's `fileForm` and `fileData`:
// fileForm 0 (the default) means fileData is a path on this machine, used as it is; any other
// fileForm means fileData is the file's content in Base64, decoded into `temporary_name` in the
// service library's folder. The decoded file is removed when this object goes away, whether the
// terminal took it or not, so no customer document stays behind in the library's folder.
class FileArgument {
public:
    FileArgument(const HandlerArgs& args, const char* temporary_name);
    ~FileArgument();
    FileArgument(const FileArgument&) = delete;
    FileArgument& operator=(const FileArgument&) = delete;

    // Decodes the Base64 content when there is some: 0, or the decoder's result code.
    int prepare();
    // The local path to hand to the terminal.
    char* path() { return &path_[0]; }

private:
    std::string data_;
    std::string path_;
    bool is_base64_ = false;
    bool decoded_ = false;
};

// call_terminal on the service's terminal, with the adapter's CancelOpt flag.
TerminalResult run_on_terminal(PortClosing closing, const std::function<int()>& operation,
                               const std::function<int()>& prepare = nullptr);

// run_on_terminal with the request's file argument: a Base64 file that cannot be decoded is the
// result, and the terminal is not used.
TerminalResult run_with_file(const HandlerArgs& args, const char* temporary_name,
                             PortClosing closing, const std::function<int(char* path)>& operation);

// A reply carrying only the result: {"method":NAME,"retVal":%d,"errMsg":"%s"}.
std::string plain_reply(const char* reply_template, PortClosing closing,
                        const std::function<int()>& operation);

// A reply with one text result (of at most `capacity` bytes) between retVal and errMsg.
std::string text_result_reply(const char* reply_template, PortClosing closing, size_t capacity,
                              const std::function<int(char*)>& operation);

// A reply with one integer result between retVal and errMsg; the result starts at 0, so a
// failed request reports 0.
std::string integer_result_reply(const char* reply_template, PortClosing closing,
                                 const std::function<int(int*)>& operation);

// The code-reading replies: a code that the terminal hands over as an object ("{...}") is
// embedded with `object_template` (qrCode:%s), any other code is quoted with `text_template`
// (qrCode:"%s"). A successful read carries an empty errMsg.
std::string code_reading_reply(const char* object_template, const char* text_template,
                               const std::function<int(char*)>& operation);

}  // namespace countermate
