// countermate-logcat: prints CounterMate logs as plain text.
//
//   countermate-logcat [FILE...]     FILE "-" or no FILE: standard input
//   countermate-logcat --help
//
// With `Encrypt` on in CONFIG.ini, the log tracker writes every byte of a line (header, message
// and the closing "\r\n") XOR 0xB6. This program writes the files, in order, to standard output
// with every scrambled line turned back into plain text and every plain line copied unchanged.
//
// Plain or scrambled is judged line by line, because one day's file is appended to by every run
// of that day: a file holds plain lines and scrambled lines after the setting has been changed.
// A line begins with the tracker's header "HH:MM:SS:mmm [". When the first bytes of a line are
// that header as written, the line is plain and runs to its "\n"; when they are the header
// scrambled, the line is scrambled and runs to its scrambled "\n" (0xBC). The two cannot be
// confused on UTF-8 text: the scrambled digits are the bytes 0x86 to 0x8F, which never begin
// a UTF-8 character. A line without a header (the rest of a message that held a line break, or
// bytes the tracker did not write) is taken as the line before it was taken; at the start of
// the input, as scrambled, since reading scrambled logs is what this program is for.
//
// Exit status: 0 when every file was read, 1 when a file could not be opened or read (the
// others are still written), 2 for an unknown option.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kScrambleKey = 0xB6;

// The line header's first bytes: "HH:MM:SS:mmm [", 'd' standing for a digit.
constexpr char kHeaderShape[] = "dd:dd:dd:ddd [";
constexpr size_t kHeaderLength = sizeof(kHeaderShape) - 1;

bool fits_header(unsigned char byte, size_t position) {
    const char shape = kHeaderShape[position];
    return shape == 'd' ? (byte >= '0' && byte <= '9') : byte == static_cast<unsigned char>(shape);
}

enum class Form { plain, scrambled };

// Turns a byte stream of log lines into plain text, fed in pieces of any size.
class LogUnscrambler {
public:
    explicit LogUnscrambler(std::FILE* output) : output_(output) {}

    void feed(const unsigned char* data, size_t size) {
        for (size_t index = 0; index < size; ++index) take(data[index]);
    }

    // The input has ended: a line start still being judged is written as judged so far.
    void finish() {
        if (!pending_.empty()) decide_and_flush();
    }

private:
    void take(unsigned char byte) {
        if (in_line_) {
            put(byte);
            return;
        }
        pending_.push_back(byte);
        const size_t position = pending_.size() - 1;
        plain_possible_ = plain_possible_ && fits_header(byte, position);
        scrambled_possible_ = scrambled_possible_ && fits_header(byte ^ kScrambleKey, position);
        if (pending_.size() == kHeaderLength || (!plain_possible_ && !scrambled_possible_))
            decide_and_flush();
    }

    void decide_and_flush() {
        if (plain_possible_ != scrambled_possible_)
            form_ = plain_possible_ ? Form::plain : Form::scrambled;
        in_line_ = true;
        const std::vector<unsigned char> bytes = std::move(pending_);
        pending_.clear();
        plain_possible_ = true;
        scrambled_possible_ = true;
        for (unsigned char byte : bytes) {
            // A line may end before its header could be judged (an empty continuation line).
            if (in_line_) put(byte);
            else take(byte);
        }
    }

    void put(unsigned char byte) {
        const unsigned char plain = form_ == Form::scrambled ? byte ^ kScrambleKey : byte;
        std::fputc(plain, output_);
        if (plain == '\n') in_line_ = false;
    }

    std::FILE* output_;
    Form form_ = Form::scrambled;
    bool in_line_ = false;
    std::vector<unsigned char> pending_;
    bool plain_possible_ = true;
    bool scrambled_possible_ = true;
};

void print_usage(std::FILE* stream) {
    std::fprintf(stream,
                 "usage: countermate-logcat [FILE...]\n"
                 "Writes CounterMate log files to standard output as plain text: lines scrambled\n"
                 "by the Encrypt setting (XOR 0xB6) are unscrambled, plain lines are copied.\n"
                 "FILE \"-\" or no FILE reads standard input. Exit status 1 when a file cannot\n"
                 "be read.\n");
}

// Writes one input as plain text; false when it could not be read to its end.
bool print_plain(std::FILE* input, const char* name) {
    LogUnscrambler unscrambler(stdout);
    unsigned char buffer[64 * 1024];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, input)) > 0)
        unscrambler.feed(buffer, count);
    unscrambler.finish();
    if (std::ferror(input)) {
        std::fprintf(stderr, "countermate-logcat: %s: %s\n", name, std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> files;
    bool options_done = false;
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index];
        if (!options_done && std::strcmp(argument, "--help") == 0) {
            print_usage(stdout);
            return 0;
        }
        if (!options_done && std::strcmp(argument, "--") == 0) {
            options_done = true;
            continue;
        }
        if (!options_done && argument[0] == '-' && argument[1] != '\0') {
            std::fprintf(stderr, "countermate-logcat: unknown option %s\n", argument);
            print_usage(stderr);
            return 2;
        }
        files.push_back(argument);
    }
    if (files.empty()) files.push_back("-");

    bool all_read = true;
    for (const char* name : files) {
        if (std::strcmp(name, "-") == 0) {
            all_read = print_plain(stdin, "standard input") && all_read;
            continue;
        }
        std::FILE* input = std::fopen(name, "rb");
        if (input == nullptr) {
            std::fprintf(stderr, "countermate-logcat: %s: %s\n", name, std::strerror(errno));
            all_read = false;
            continue;
        }
        all_read = print_plain(input, name) && all_read;
        std::fclose(input);
    }
    if (std::fflush(stdout) != 0) {
        std::perror("countermate-logcat: standard output");
        return 1;
    }
    return all_read ? 0 : 1;
}
