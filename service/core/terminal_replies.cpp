#include "terminal_replies.h"

#include <cstdio>
#include <cstring>

#include "AUX_X.h"
#include "DEV_HUB.h"
#include "reply_format.h"

namespace countermate {

OutputText::OutputText(size_t capacity, const char* initial) : bytes_(capacity + 1, '\0') {
    std::strncpy(bytes_.data(), initial, capacity);
}

FileArgument::FileArgument(const HandlerArgs& args, const char* temporary_name)
    : data_(args.text("fileData")), is_base64_(args.integer("fileForm", 0) != 0) {
    if (!is_base64_) {
        path_ = data_;
        return;
    }
    char folder[1024] = {};
    AUX_X::GetModuleCurPath(folder);
    path_ = std::string(folder) + temporary_name;
}

FileArgument::~FileArgument() {
    if (decoded_) std::remove(path_.c_str());
}

int FileArgument::prepare() {
    if (!is_base64_) return 0;
    decoded_ = true;  // a failed decode may still have left a partial file
    return ctm->FileBase64Decode(&data_[0], path());
}

TerminalResult run_on_terminal(PortClosing closing, const std::function<int()>& operation,
                               const std::function<int()>& prepare) {
    return call_terminal(*ctm, closing, [] { return m_Dev_Hub.m_isCancelOpt.load(); }, operation,
                         prepare);
}

TerminalResult run_with_file(const HandlerArgs& args, const char* temporary_name,
                             PortClosing closing, const std::function<int(char* path)>& operation) {
    FileArgument file(args, temporary_name);
    return run_on_terminal(closing, [&] { return operation(file.path()); },
                           [&] { return file.prepare(); });
}

std::string plain_reply(const char* reply_template, PortClosing closing,
                        const std::function<int()>& operation) {
    const auto result = run_on_terminal(closing, operation);
    return format_reply(reply_template, {result.code, result.error_text});
}

std::string text_result_reply(const char* reply_template, PortClosing closing, size_t capacity,
                              const std::function<int(char*)>& operation) {
    OutputText text(capacity);
    const auto result = run_on_terminal(closing, [&] { return operation(text.data()); });
    return format_reply(reply_template, {result.code, text.text(), result.error_text});
}

std::string integer_result_reply(const char* reply_template, PortClosing closing,
                                 const std::function<int(int*)>& operation) {
    int value = 0;
    const auto result = run_on_terminal(closing, [&] { return operation(&value); });
    return format_reply(reply_template, {result.code, value, result.error_text});
}

namespace {

bool is_object_text(const std::string& text) {
    return !text.empty() && text.front() == '{' && text.back() == '}';
}

}  // namespace

std::string code_reading_reply(const char* object_template, const char* text_template,
                               const std::function<int(char*)>& operation) {
    OutputText code(kLongTextCapacity);
    const auto result =
        run_on_terminal(PortClosing::UnlessCancelling, [&] { return operation(code.data()); });
    const std::string error_text = result.code == 0 ? std::string() : result.error_text;
    const bool embed = result.code == 0 && is_object_text(code.text());
    return format_reply(embed ? object_template : text_template,
                        {result.code, code.text(), error_text});
}

}  // namespace countermate
