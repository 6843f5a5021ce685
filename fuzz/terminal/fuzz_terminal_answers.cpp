// Arbitrary terminal answers to a command, read by the driver along the path every operation
// takes: segment reassembly, the answer's judgement and status, and the copies of its members
// into output buffers of exactly the capacities callers provide.
//
// Input: one selector byte, then the terminal's reports (FuzzedTerminal.h). The selector's low
// bits choose the operation; with its high bit set, the rest of the input is instead one answer
// text, sent the way the terminal sends it (every segment but the last filling its report).
// Whatever arrives, the result is one of the driver's codes, and nothing is written outside an
// output; an answer text that reaches the driver whole is judged and copied exactly.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "FuzzedTerminal.h"
#include "OutputCapacities.h"
#include "SegmentFraming.h"

using namespace countermate;
using namespace countermate::fuzzing;

namespace {

// Every code an answer, or a pull after it, can end an operation with.
bool KnownResult(int result) { return OneOf(result, {0, -2, -5, -7, -9, -11, -16, -19}); }

std::vector<char> Output(size_t capacity) { return std::vector<char>(capacity, 0); }

// True when the driver receives `text` as one message ending at its last segment: no earlier
// segment satisfies the end rule, the last does, and the text fits an answer buffer.
bool ArrivesWhole(const std::string& text, int kind) {
    if (text.empty() || text.size() > size_t(terminal::kAnswerBytes)) return false;
    if (text.find('\0') != std::string::npos) return false;
    const std::vector<Report> reports = ScriptedLink::Segments(kind, text, kPacketSize);
    segment::MessageEnd end;
    for (size_t i = 0; i < reports.size(); ++i) {
        Report padded = reports[i];
        padded.resize(size_t(kPacketSize), 0);
        const int length = segment::DeclaredLength(padded.data());
        const bool complete = end.Feed(padded.data(), length, kPacketSize);
        if (complete != (i + 1 == reports.size())) return false;
    }
    return true;
}

// GetDevID against the answer read directly from `text`, when `text` arrives whole.
void CheckDeviceId(const std::string* text, int result, const std::vector<char>& device_id) {
    if (text == nullptr || !ArrivesWhole(*text, segment::kCommand)) return;
    const CJsonObject answer(*text);
    bool success = false;
    answer.Get("success", success);
    check(result == (success ? 0 : -11));
    std::string expected;
    CJsonObject data;
    if (success && answer.Get("data", data)) data.Get("deviceId", expected);
    expected = expected.substr(0, kShortTextCapacity - 1);
    check(std::strcmp(device_id.data(), expected.c_str()) == 0);
}

int RunOperation(CDEV_CounterMate& driver, unsigned operation, const std::string* text) {
    switch (operation) {
        case 0: {
            std::vector<char> device_id = Output(kShortTextCapacity);
            const int result = driver.GetDevID(device_id.data());
            CheckDeviceId(text, result, device_id);
            return result;
        }
        case 1: {
            std::vector<char> id = Output(kDeviceInfoCapacity), app = Output(kDeviceInfoCapacity);
            std::vector<char> firmware = Output(kDeviceInfoCapacity);
            std::vector<char> state = Output(kLongTextCapacity);
            char modules[] = "all";
            return driver.GetDevAndModulesInfo(modules, id.data(), app.data(), firmware.data(),
                                               state.data());
        }
        case 2: {
            std::vector<char> number = Output(kShortTextCapacity);
            return driver.InputNumber(0, 1, 6, 1, number.data());
        }
        case 3: {
            int evaluation = -1;
            return driver.Evaluate(4, 1, &evaluation);
        }
        case 4: return driver.CancelOpt();
        case 5: {
            std::vector<char> code = Output(kLongTextCapacity);
            return driver.ReadQR(1, code.data());
        }
        default: {
            // A comparison: the answer text and score, then four pulls into Base64 texts.
            std::vector<char> answer = Output(kLongTextCapacity);
            std::vector<char> photo = Output(size_t(kBase64PictureCapacity)),
                              back = Output(size_t(kBase64PictureCapacity)),
                              front = Output(size_t(kBase64PictureCapacity)),
                              scene = Output(size_t(kBase64PhotoCapacity));
            double score = 0;
            return driver.FaceValidateWithIdCard_Base64(1, 0, 0, &score, answer.data(),
                                                        photo.data(), back.data(), front.data(),
                                                        scene.data());
        }
    }
}

constexpr unsigned kOperations = 7;
constexpr unsigned kCancelOperation = 4;
constexpr uint8_t kTextMode = 0x80;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const unsigned operation = (data[0] & ~kTextMode) % kOperations;
    std::vector<Report> reports;
    std::string text;
    const bool text_mode = (data[0] & kTextMode) != 0;
    if (text_mode) {
        text.assign(reinterpret_cast<const char*>(data + 1), size - 1);
        const int kind = operation == kCancelOperation ? segment::kCancel : segment::kCommand;
        reports = ScriptedLink::Segments(kind, text, kPacketSize);
    } else {
        reports = ReportsOf(data + 1, size - 1);
    }
    auto driver = DriverAnswering(std::move(reports));
    check(KnownResult(RunOperation(*driver, operation, text_mode ? &text : nullptr)));
    return 0;
}
