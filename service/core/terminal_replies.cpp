#include "terminal_replies.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "AUX_X.h"
#include "DEV_HUB.h"
#include "reply_format.h"
#include "terminal_streams.h"

namespace countermate {

OutputText::OutputText(size_t capacity, const char* initial) : bytes_(capacity + 1, '\0') {
    std::strncpy(bytes_.data(), initial, capacity);
}

FileArgument::FileArgument(const HandlerArgs& args, const char* temporary_name,
                           const char* data_key, const char* form_key)
    : data_key_(data_key), data_(args.text(data_key)), is_base64_(args.integer(form_key, 0) != 0) {
    if (!is_base64_) {
        path_ = data_;
        return;
    }
    // In "Temp/" beside the library: an installed library's own folder belongs to root, while
    // its Temp/ is open to the teller.
    char folder[1024] = {};
    AUX_X::GetModuleCurPath(folder);
    const std::string scratch = std::string(folder) + "Temp/";
    mkdir(scratch.c_str(), 0777);
    path_ = scratch + temporary_name;
}

FileArgument::~FileArgument() {
    if (decoded_) std::remove(path_.c_str());
}

TerminalResult FileArgument::prepare() {
    if (!is_base64_) return check_local_paths({{data_key_, path_, PathUse::Read}});
    decoded_ = true;  // a failed decode may still have left a partial file
    return {ctm->FileBase64Decode(&data_[0], path()), std::string()};
}

TerminalResult check_local_paths(const std::vector<LocalPath>& paths) {
    std::string refusal = local_paths_refusal(paths);
    if (refusal.empty()) return {};
    return {kRefusedArgument, std::move(refusal)};
}

namespace {

// The port is left open while a cancel uses it (the cancel closes it) and while a stream reads or
// pushes through it.
TerminalResult run_prepared(PortClosing closing, const std::function<int()>& operation,
                            const std::function<TerminalResult()>& prepare) {
    const auto port_in_use = [] {
        return m_Dev_Hub.m_isCancelOpt.load() || stream_uses_terminal_port();
    };
    return call_terminal(*ctm, closing, port_in_use, operation, prepare);
}

}  // namespace

TerminalResult run_on_terminal(PortClosing closing, const std::function<int()>& operation,
                               const std::vector<LocalPath>& paths) {
    if (paths.empty()) return run_prepared(closing, operation, nullptr);
    return run_prepared(closing, operation, [&] { return check_local_paths(paths); });
}

TerminalResult run_with_file(const HandlerArgs& args, const char* temporary_name,
                             PortClosing closing, const std::function<int(char* path)>& operation) {
    FileArgument file(args, temporary_name);
    return run_prepared(
        closing, [&] { return operation(file.path()); }, [&] { return file.prepare(); });
}

TerminalResult run_with_files(
    const HandlerArgs& args, const std::vector<FileArgumentName>& files, PortClosing closing,
    const std::function<int(const std::vector<char*>& paths)>& operation) {
    std::vector<std::unique_ptr<FileArgument>> arguments;
    for (const FileArgumentName& file : files) {
        arguments.push_back(
            std::make_unique<FileArgument>(args, file.temporary_name, file.data_key));
    }
    const auto prepare_all = [&] {
        for (const auto& argument : arguments) {
            TerminalResult prepared = argument->prepare();
            if (prepared.code != 0) return prepared;
        }
        return TerminalResult{};
    };
    const auto run = [&] {
        std::vector<char*> paths;
        for (const auto& argument : arguments) paths.push_back(argument->path());
        return operation(paths);
    };
    return run_prepared(closing, run, prepare_all);
}

std::string plain_reply(const char* reply_template, PortClosing closing,
                        const std::function<int()>& operation,
                        const std::vector<LocalPath>& paths) {
    const auto result = run_on_terminal(closing, operation, paths);
    return format_reply(reply_template, {result.code, result.error_text});
}

std::string text_result_reply(const char* reply_template, PortClosing closing, size_t capacity,
                              const std::function<int(char*)>& operation,
                              const std::vector<LocalPath>& paths) {
    OutputText text(capacity);
    const auto result = run_on_terminal(
        closing, [&] { return operation(text.data()); }, paths);
    return format_reply(reply_template, {result.code, text.text(), result.error_text});
}

std::string integer_result_reply(const char* reply_template, PortClosing closing,
                                 const std::function<int(int*)>& operation,
                                 const std::vector<LocalPath>& paths) {
    int value = 0;
    const auto result = run_on_terminal(
        closing, [&] { return operation(&value); }, paths);
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
