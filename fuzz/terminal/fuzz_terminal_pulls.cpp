// Arbitrary terminal answers to a file pull: the answer with the file's name and size, then data
// reports, read by each pull of the driver into a file, a buffer or Base64 text.
//
// Input: an operation byte, a parameter byte (a capacity, and whether a local copy is kept),
// then the terminal's reports (FuzzedTerminal.h): the first is the answer, the rest the data.
// Whatever arrives, the result is one of the driver's codes and nothing is written outside a
// buffer; a pull that succeeds holds exactly the data the terminal sent, in order.
// Local files go to a scratch folder in /dev/shm (or /tmp), removed when the fuzzer exits.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzedTerminal.h"
#include "SegmentFraming.h"
#include "TestFiles.h"

using namespace countermate;
using namespace countermate::fuzzing;
using terminal::testing::ReadTestFile;

namespace {

const char kTerminalPath[] = "/sdcard/ZR/CounterMate/temp/pulled.pdf";

std::string& ScratchFolder() {
    static std::string folder;
    return folder;
}

void RemoveScratchFolder() {
    std::remove((ScratchFolder() + "/pulled").c_str());
    std::remove((ScratchFolder() + "/copy").c_str());
    rmdir(ScratchFolder().c_str());
}

std::string MakeScratchFolder() {
    struct stat shm {};
    std::string pattern = stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) ? "/dev/shm" : "/tmp";
    pattern += "/countermate-fuzz-pulls-XXXXXX";
    check(mkdtemp(&pattern[0]) != nullptr);
    ScratchFolder() = pattern;
    std::atexit(RemoveScratchFolder);
    return pattern;
}

// The data the terminal sent after its answer: each report's segment data, in order, as the
// driver reads it from the zero-padded report.
std::string SentData(const std::vector<Report>& reports) {
    std::string sent;
    for (size_t i = 1; i < reports.size(); ++i) {
        Report padded = reports[i];
        padded.resize(size_t(kPacketSize), 0);
        const int length =
            std::min(segment::DeclaredLength(padded.data()), kPacketSize - segment::kHeaderBytes);
        const auto start = padded.begin() + segment::kHeaderBytes;
        sent.append(start, start + length);
    }
    return sent;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

std::string Decoded(CDEV_CounterMate& driver, const char* base64) {
    std::string text(base64);
    std::vector<unsigned char> bytes(text.size() / 4 * 3 + 3);
    int length = 0;
    check(driver.Base64Decode(&text[0], &length, bytes.data()) >= 0);
    return std::string(bytes.begin(), bytes.begin() + length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string scratch = MakeScratchFolder();
    if (size < 2) return 0;
    const unsigned operation = data[0] % 4;
    const int capacity = ((data[1] & 0x7F) + 1) * 64;
    const std::string copy = (data[1] & 0x80) != 0 ? scratch + "/copy" : std::string();
    const std::vector<Report> reports = ReportsOf(data + 2, size - 2);
    const std::string sent = SentData(reports);
    auto driver = DriverAnswering(reports);

    int result = 0;
    switch (operation) {
        case 0: {
            const std::string local = scratch + "/pulled";
            result = driver->PullFile(kTerminalPath, const_cast<char*>(local.c_str()));
            if (result == 0) check(StartsWith(sent, ReadTestFile(local)));
            std::remove(local.c_str());
            break;
        }
        case 1: {
            std::vector<char> base64(size_t(capacity), 0);
            result = driver->PullFileAndBase64(const_cast<char*>(kTerminalPath),
                                               const_cast<char*>(copy.c_str()), base64.data(),
                                               capacity);
            if (result == 0) {
                const std::string pulled = Decoded(*driver, base64.data());
                check(StartsWith(sent, pulled));
                if (!copy.empty()) check(StartsWith(sent, ReadTestFile(copy)));
            }
            break;
        }
        case 2: {
            std::vector<unsigned char> buffer(size_t(capacity), 0);
            int length = -1;
            result =
                driver->PullFileData(kTerminalPath, copy.c_str(), buffer.data(), &length, capacity);
            if (result == 0) {
                check(length >= 1 && length <= capacity);
                check(StartsWith(sent, std::string(buffer.begin(), buffer.begin() + length)));
            }
            break;
        }
        default: {
            char* base64 = nullptr;
            result = driver->PullFile_Base64_Calloc(kTerminalPath, &base64);
            if (result == 0) check(base64 != nullptr && StartsWith(sent, Decoded(*driver, base64)));
            std::free(base64);
            break;
        }
    }
    if (!copy.empty()) std::remove(copy.c_str());
    check(OneOf(result, {0, -2, -5, -7, -10, -11, -16}));
    return 0;
}
