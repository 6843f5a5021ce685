// Whole files between the workstation and the terminal's storage over the segment link.
//
// A push announces the file (kind 0), waits for the terminal's answer and sends the data in
// kind-1 segments. A pull announces the wanted file (kind 2), takes the answer with the size,
// then one kind-2 report per data block, acknowledging every 10th report (kind 5) so that the
// terminal never runs far ahead.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "LocalFile.h"
#include "ModuleLog.h"
#include "OperationSteps.h"
#include "ResultCodes.h"
#include "SegmentFraming.h"

using namespace countermate::terminal;
namespace segment = countermate::segment;

namespace {

constexpr int kPushBlockBytes = 16336;
constexpr int kAcknowledgementInterval = 10;
constexpr int kTransferSendTimeout = 10;
constexpr int kTransferAnswerTimeout = 10;
constexpr int kPulledDataTimeout = 20;
constexpr int kTransFileCountWait = 5;
constexpr size_t kTerminalPathCharacters = 259;

// PullFile's acknowledgement carries a trailing zero byte; the other pulls' does not.
const std::string kPullFileAcknowledgement("REQUESTPULLFILE{\"recvStatus\":\"OK\"}", 35);
const std::string kPullAcknowledgement("REQUEST_PULLFILE{\"recvStatus\":\"OK\"}");

std::string Announcement(const char* terminal_path, int64_t size) {
    CJsonObject announcement;
    announcement.Add("fileName", terminal_path);
    announcement.Add("fileSize", size);
    announcement.Add("fileMD5", "");
    return announcement.ToString();
}

// File bytes moved to and from the terminal since the library was loaded, for the service's
// figures.
std::atomic<uint64_t> g_bytes_pushed{0};
std::atomic<uint64_t> g_bytes_pulled{0};

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

int CDEV_CounterMate::PushFile(char* local_path, const char* terminal_path) {
    const TerminalOperation operation(*this, "PushFile");
    return operation.Return(PushFileWithProgress(local_path, terminal_path, nullptr));
}

int CDEV_CounterMate::PushFiles(char* local_path, const char* terminal_path,
                                CounterMateProgress progress) {
    const TerminalOperation operation(*this, "PushFiles");
    return operation.Return(PushFileWithProgress(local_path, terminal_path, progress));
}

int CDEV_CounterMate::PushFileWithProgress(const char* local_path, const char* terminal_path,
                                           CounterMateProgress progress) {
    LocalFile file = OpenRegularFileToRead(local_path);
    if (!file) return kFileMissing;
    std::fseek(file.get(), 0, SEEK_END);
    const int64_t size = std::ftell(file.get());
    std::rewind(file.get());
    const int total_blocks = static_cast<int>((size + kPushBlockBytes - 1) / kPushBlockBytes);
    if (progress != nullptr) progress(total_blocks, 0);

    const std::string announcement = Announcement(terminal_path, size);
    if (HidWriteN(segment::kPushAnnouncement, Bytes(announcement),
                  static_cast<int>(announcement.size()), kTransferSendTimeout) < 0) {
        return kSendFailed;
    }
    std::vector<char> reply(kAnswerBytes + 1, 0);
    int length = 0;
    if (HidReadN(segment::kPushAnnouncement, reinterpret_cast<unsigned char*>(reply.data()),
                 &length, kTransferAnswerTimeout, kAnswerBytes) < 0) {
        return kReceiveFailed;
    }
    CJsonObject answer;
    const int judged = ParseCommandResponse(reply.data(), answer);
    if (judged != kSuccess) return judged;

    std::vector<unsigned char> block(kPushBlockBytes);
    int64_t sent = 0;
    for (int blocks_sent = 1; sent < size; ++blocks_sent) {
        const size_t count = std::fread(block.data(), 1, block.size(), file.get());
        if (count == 0) return kFileOperationFailed;  // the file shrank while it was sent
        if (HidWriteN(segment::kPushData, block.data(), static_cast<int>(count),
                      kTransferSendTimeout) < 0) {
            return kSendFailed;
        }
        sent += static_cast<int64_t>(count);
        g_bytes_pushed += count;
        if (progress != nullptr) progress(total_blocks, blocks_sent);
    }
    return kSuccess;
}

int CDEV_CounterMate::RequestPull(const char* terminal_path, bool line_feed, int* size) {
    std::string announcement = Announcement(terminal_path, 0);
    if (line_feed) announcement += '\n';
    int result = HidWriteN(segment::kPull, Bytes(announcement),
                           static_cast<int>(announcement.size()), kTransferSendTimeout);
    if (result != kSuccess) return result;
    std::vector<char> reply(kAnswerBytes + 1, 0);
    int length = 0;
    result = HidReadN(segment::kPull, reinterpret_cast<unsigned char*>(reply.data()), &length,
                      kTransferAnswerTimeout, kAnswerBytes);
    if (result != kSuccess) return result;
    CJsonObject answer;
    result = ParseCommandResponse(reply.data(), answer);
    if (result != kSuccess) return result;
    CJsonObject data;
    // Read wide: a size beyond an int would otherwise arrive cut to its low 32 bits (2^40 as 0,
    // an empty file) instead of being refused.
    int64_t file_size = 0;
    answer.Get("data", data);
    data.Get("fileSize", file_size);
    if (file_size < 0 || file_size > INT_MAX) return kIllegalData;
    *size = static_cast<int>(file_size);
    return kSuccess;
}

int CDEV_CounterMate::ReceivePulledData(
    int size, const std::string& acknowledgement,
    const std::function<void(const unsigned char*, int)>& sink) {
    std::vector<unsigned char> report(static_cast<size_t>(m_packet_size));
    int received = 0;
    for (int reports = 1; received < size; ++reports) {
        int length = 0;
        const int result =
            HidReadN(segment::kPull, report.data(), &length, kPulledDataTimeout, m_packet_size);
        if (result != kSuccess) return result;
        // More data than the terminal announced would run past the caller's buffers.
        if (length > size - received) return kReceiveFailed;
        sink(report.data(), length);
        received += length;
        g_bytes_pulled += static_cast<uint64_t>(length);
        if (reports % kAcknowledgementInterval == 0) {
            const int acknowledged =
                HidWriteN(segment::kPullAcknowledgement, Bytes(acknowledgement),
                          static_cast<int>(acknowledgement.size()), kTransferSendTimeout);
            if (acknowledged != kSuccess) return acknowledged;
        }
    }
    return kSuccess;
}

int CDEV_CounterMate::PullFile(const char* terminal_path, char* local_path) {
    const TerminalOperation operation(*this, "PullFile");
    return operation.Return(PullIntoFile(terminal_path, local_path));
}

int CDEV_CounterMate::PullIntoFile(const char* terminal_path, const char* local_path) {
    int size = 0;
    const int requested = RequestPull(terminal_path, true, &size);
    if (requested != kSuccess) return requested;
    // A file that cannot be written still takes the announced data, dropped, so that the next
    // answer on the link is read in step.
    LocalFile file = OpenRegularFileToWrite(local_path);
    bool written = static_cast<bool>(file);
    const int result = ReceivePulledData(
        size, kPullFileAcknowledgement, [&](const unsigned char* data, int length) {
            if (!written) return;
            written = std::fwrite(data, 1, length, file.get()) == static_cast<size_t>(length);
        });
    if (result != kSuccess) return result;
    return written ? kSuccess : kFileOperationFailed;
}

namespace {

// Where a pull's data goes besides memory: a local file when a path is given. A copy that
// cannot be opened or written is failed(); the pull still takes the announced data, so that the
// next answer on the link is read in step.
class OptionalCopy {
public:
    explicit OptionalCopy(const char* local_path) {
        if (local_path == nullptr || *local_path == '\0') return;
        m_file = OpenRegularFileToWrite(local_path);
        m_failed = !m_file;
    }
    bool failed() const { return m_failed; }
    void Write(const unsigned char* data, int length) {
        if (m_file && !m_failed) {
            m_failed = std::fwrite(data, 1, length, m_file.get()) != size_t(length);
        }
    }

private:
    LocalFile m_file;
    bool m_failed = false;
};

}  // namespace

int CDEV_CounterMate::PullFileData(const char* terminal_path, const char* local_path,
                                   unsigned char* buffer, int* length, int capacity) {
    int size = 0;
    const int requested = RequestPull(terminal_path, false, &size);
    if (requested != kSuccess) return requested;
    if (size == 0) return kEmptyFile;
    OptionalCopy copy(local_path);
    std::memset(buffer, 0, static_cast<size_t>(std::min(capacity, 8)));
    int stored = 0;
    const int result =
        ReceivePulledData(size, kPullAcknowledgement, [&](const unsigned char* data, int count) {
            copy.Write(data, count);
            const int room = std::max(0, capacity - stored);
            std::memcpy(buffer + stored, data, std::min(room, count));
            stored += count;
        });
    if (result != kSuccess) return result;
    if (size > capacity) return kMessageTooLong;
    if (copy.failed()) return kFileOperationFailed;
    *length = size;
    return kSuccess;
}

int CDEV_CounterMate::PullFileAndBase64(char* terminal_path, char* local_path, char* base64,
                                        int capacity) {
    const TerminalOperation operation(*this, "PullFileAndBase64");
    return operation.Return(PullIntoBase64(terminal_path, local_path, base64, capacity));
}

namespace {

// Memory set aside before a pull's data arrives: the announced size, up to 16 MiB. A terminal that
// announces more than it sends (or a size it never sends) costs only what actually arrives.
size_t ReservationFor(int announced_size) {
    constexpr size_t kLargestReservation = 16u << 20;
    return std::min(static_cast<size_t>(announced_size) + 1, kLargestReservation);
}

}  // namespace

int CDEV_CounterMate::PullIntoBase64(const char* terminal_path, const char* local_path,
                                     char* base64, int capacity) {
    int size = 0;
    const int requested = RequestPull(terminal_path, false, &size);
    if (requested != kSuccess) return requested;
    if (size == 0) return kEmptyFile;
    OptionalCopy copy(local_path);
    std::vector<unsigned char> data;
    data.reserve(ReservationFor(size));
    const int result =
        ReceivePulledData(size, kPullAcknowledgement, [&](const unsigned char* bytes, int count) {
            copy.Write(bytes, count);
            data.insert(data.end(), bytes, bytes + count);
        });
    if (result != kSuccess) return result;
    if (copy.failed()) return kFileOperationFailed;
    const int64_t needed = (static_cast<int64_t>(size) / 3 + 25) * 4;
    if (capacity >= needed) {
        Base64Encode(data.data(), size, base64);
    } else if (capacity > 0) {
        base64[0] = '\0';
    }
    return kSuccess;
}

int CDEV_CounterMate::DEV_GetDevFileSize(const char* terminal_path, int* size) {
    *size = 0;
    return RequestPull(terminal_path, false, size);
}

int CDEV_CounterMate::ReceivePulledBytes(int size, std::vector<unsigned char>& data) {
    data.clear();
    data.reserve(ReservationFor(size));
    return ReceivePulledData(size, kPullAcknowledgement,
                             [&](const unsigned char* bytes, int count) {
                                 data.insert(data.end(), bytes, bytes + count);
                             });
}

int CDEV_CounterMate::DEV_GetDevFileBase64(int size, char* output) {
    std::vector<unsigned char> data;
    const int result = ReceivePulledBytes(size, data);
    if (result != kSuccess) return result;
    Base64Encode(data.data(), size, output);
    return kSuccess;
}

int CDEV_CounterMate::PullFile_Base64_Calloc(const char* terminal_path, char** output) {
    *output = nullptr;
    int size = 0;
    const int requested = DEV_GetDevFileSize(terminal_path, &size);
    if (requested != kSuccess) return requested;
    // The text is allocated once the data has arrived: a size the terminal announces but never
    // sends would otherwise set aside up to 3 GB while the pull waits for it.
    std::vector<unsigned char> data;
    const int received = ReceivePulledBytes(size, data);
    if (received != kSuccess) return received;
    *output = static_cast<char*>(std::calloc((static_cast<size_t>(size) / 3 + 256) * 4, 1));
    if (*output == nullptr) return kFileOperationFailed;
    Base64Encode(data.data(), size, *output);
    return kSuccess;
}

int CDEV_CounterMate::TransFileCount(int count, const char* local_paths) {
    CTM_TRACE(LOG_LEVEL_DEBUG, "TransFileCount", "fileCount=%d", count);
    std::vector<std::string> paths;
    SplitString(local_paths != nullptr ? local_paths : "", paths, '|');
    CJsonObject param;
    param.Add("fileCount", count);
    CJsonObject answer;
    int result =
        RunCommand("TransFileCount", &param, kTransFileCountWait, StatusRule::kNotRead, answer);
    if (result == kDeviceFailed) return kTimedOut;
    if (result != kSuccess) return result;
    CJsonObject data;
    answer.Get("data", data);
    for (int index = 1; index <= count; ++index) {
        char key[32];
        std::snprintf(key, sizeof key, "file%dPath", index);
        std::string terminal_path;
        data.Get(key, terminal_path);
        terminal_path = terminal_path.substr(0, kTerminalPathCharacters);
        CTM_TRACE(LOG_LEVEL_DEBUG, "TransFileCount", "devFilePath=%s", terminal_path.c_str());
        // Fewer local paths than files: the caller's list is short, not the terminal's.
        if (static_cast<size_t>(index) > paths.size()) return kBadArgument;
        result = PushFile(&paths[index - 1][0], terminal_path.c_str());
        CTM_TRACE(LOG_LEVEL_DEBUG, "TransFileCount", "TransFileCount PushFile iRet=%d", result);
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

namespace countermate::terminal {

int SplitString(const std::string& text, std::vector<std::string>& pieces, char separator) {
    pieces.clear();
    if (text.empty()) return 0;
    size_t start = 0;
    for (size_t found = text.find(separator); found != std::string::npos;
         found = text.find(separator, start)) {
        pieces.push_back(text.substr(start, found - start));
        start = found + 1;
    }
    pieces.push_back(text.substr(start));
    return static_cast<int>(pieces.size());
}

}  // namespace countermate::terminal

extern "C" {

// File bytes pushed to and pulled from the terminal by every driver of this process.
__attribute__((visibility("default"))) void CounterMateTransferredBytes(uint64_t* pushed,
                                                                        uint64_t* pulled) {
    if (pushed) *pushed = g_bytes_pushed.load();
    if (pulled) *pulled = g_bytes_pulled.load();
}
}
