// Raw reports and kind-tagged segments over the HID manager, and the one waiting rule that
// ends every send and read: data, a time-out in whole seconds, the forced-return flag, or the
// link's loss.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "DEV_CounterMate.h"
#include "HidManager.h"
#include "ResultCodes.h"
#include "SegmentFraming.h"

using namespace countermate::terminal;
namespace segment = countermate::segment;

namespace {

// Serialises segmented reads process-wide, so that two readers never split one answer.
std::mutex g_read_lock;

// The pause between two attempts that returned at once.
constexpr useconds_t kRetryPauseMicroseconds = 10;
// Our HID manager waits about 10 ms on its descriptor before it reports nothing.
constexpr std::chrono::milliseconds kAttemptThatWaited{1};

// Report number, then the payload: the output report as the HID manager takes it.
constexpr int kReportBufferBytes = kMaxPacketSize + 1;

}  // namespace

int CDEV_CounterMate::WaitOnLink(int timeout, Direction direction,
                                 const std::function<Attempt()>& attempt) {
    const std::time_t start = m_clock();
    m_forced_return.store(false);
    const bool attempt_first = direction == Direction::kSend;
    for (;;) {
        const auto attempt_start = std::chrono::steady_clock::now();
        Attempt outcome = attempt_first ? attempt() : Attempt::kNotYet;
        if (outcome == Attempt::kNotYet) {
            if (m_clock() - start > timeout) return kTimedOut;
            if (m_forced_return.exchange(false)) return kCancelled;
            if (!attempt_first) outcome = attempt();
        }
        if (outcome == Attempt::kDone) return kSuccess;
        if (outcome == Attempt::kLinkGone) {
            // Nothing will arrive on this opening: waiting out the time-out would only keep
            // the caller (and every request behind it) from learning so.
            ClosePortWhenIdle(true);
            return direction == Direction::kSend ? kSendFailed : kReceiveFailed;
        }
        // An attempt that already slept in the HID manager needs no pause; one that returned
        // at once (a manager that does not wait) gets one, so the loop never spins.
        if (std::chrono::steady_clock::now() - attempt_start < kAttemptThatWaited) {
            usleep(kRetryPauseMicroseconds);
        }
    }
}

int CDEV_CounterMate::WriteReport(const unsigned char* report, int length, int timeout) {
    if (m_hid == nullptr) return kPortNotOpen;
    return WaitOnLink(timeout, Direction::kSend, [&] {
        const int written = UseManager([&](CHidManager& hid) { return hid.Write(report, length); });
        if (written < 0) return Attempt::kLinkGone;
        return written > 0 ? Attempt::kDone : Attempt::kNotYet;
    });
}

namespace {

// Reports kept for one reader at most: more than a stream has in flight between two
// acknowledgements, and than a command's answer fills.
constexpr size_t kMostKeptReports = 64;

bool IsMessageSegment(const unsigned char* report) {
    return report[0] <= segment::kPullAcknowledgement;
}

// Moves the oldest of `kept` into `report`: its byte count, 0 when none is kept.
int TakeKept(std::deque<std::vector<unsigned char>>& kept, unsigned char* report) {
    if (kept.empty()) return 0;
    const std::vector<unsigned char> taken = std::move(kept.front());
    kept.pop_front();
    std::copy(taken.begin(), taken.end(), report);
    return static_cast<int>(taken.size());
}

}  // namespace

int CDEV_CounterMate::ReadReport(unsigned char* report, ReportReader reader) {
    std::lock_guard<std::mutex> guard(m_read_lock);
    if (reader != ReportReader::kRaw) {
        if (const int count = TakeKept(m_kept_messages, report)) return count;
    }
    if (reader != ReportReader::kMessages) {
        if (const int count = TakeKept(m_kept_raw, report)) return count;
    }
    const int count = UseManager([&](CHidManager& hid) { return hid.Read(report, m_packet_size); });
    if (count <= 0 || reader == ReportReader::kAny) return count;
    const ReportReader owner = IsMessageSegment(report) ? ReportReader::kMessages
                                                        : ReportReader::kRaw;
    if (owner == reader) return count;
    KeepReport(report, count, owner);
    return 0;
}

void CDEV_CounterMate::KeepReport(const unsigned char* report, int count, ReportReader reader) {
    auto& kept = reader == ReportReader::kMessages ? m_kept_messages : m_kept_raw;
    if (kept.size() < kMostKeptReports) kept.emplace_back(report, report + count);
}

void CDEV_CounterMate::DropKeptReports(ReportReader reader) {
    std::lock_guard<std::mutex> guard(m_read_lock);
    if (reader != ReportReader::kRaw) m_kept_messages.clear();
    if (reader != ReportReader::kMessages) m_kept_raw.clear();
}

void CDEV_CounterMate::DropKeptRawReports() { DropKeptReports(ReportReader::kRaw); }

int CDEV_CounterMate::HIDSend(unsigned char* data, int length, int timeout) {
    if (length <= 0) return kSuccess;
    if (length > m_packet_size) return kMessageTooLong;
    unsigned char report[kReportBufferBytes] = {};
    std::memcpy(report + 1, data, static_cast<size_t>(length));
    return WriteReport(report, length + 1, timeout);
}

int CDEV_CounterMate::HidWrite(unsigned char* data, int length, int timeout) {
    std::vector<unsigned char> slice(static_cast<size_t>(m_packet_size));
    for (int offset = 0; offset < length; offset += m_packet_size) {
        const int slice_length = std::min(m_packet_size, length - offset);
        std::fill(slice.begin(), slice.end(), 0);
        std::memcpy(slice.data(), data + offset, static_cast<size_t>(slice_length));
        const int result = HIDSend(slice.data(), slice_length, timeout);
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

int CDEV_CounterMate::HidRead(unsigned char* data, int* length, int timeout) {
    if (m_hid == nullptr) return kPortNotOpen;
    std::vector<unsigned char> report(static_cast<size_t>(m_packet_size));
    return WaitOnLink(timeout, Direction::kReceive, [&] {
        const int count = ReadReport(report.data(), ReportReader::kAny);
        if (count <= 0) return count == 0 ? Attempt::kNotYet : Attempt::kLinkGone;
        *length = count;
        std::memcpy(data, report.data(), static_cast<size_t>(count));
        return Attempt::kDone;
    });
}

int CDEV_CounterMate::HIDSendN(int kind, const unsigned char* data, int length, int timeout) {
    if (length <= 0) return kSuccess;
    if (length > m_packet_size - segment::kHeaderBytes) return kMessageTooLong;
    unsigned char report[kReportBufferBytes] = {};
    segment::WriteHeader(report + 1, kind, length);
    std::memcpy(report + 1 + segment::kHeaderBytes, data, static_cast<size_t>(length));
    return WriteReport(report, length + 1 + segment::kHeaderBytes, timeout);
}

int CDEV_CounterMate::HidWriteN(int kind, const unsigned char* data, int length, int timeout) {
    // A new exchange: segments kept from before it answer nothing of it.
    if (kind == segment::kCommand || kind == segment::kPushAnnouncement || kind == segment::kPull) {
        DropKeptReports(ReportReader::kMessages);
    }
    const int slice_capacity = m_packet_size - segment::kHeaderBytes;
    for (int offset = 0; offset < length; offset += slice_capacity) {
        const int slice_length = std::min(slice_capacity, length - offset);
        const int result = HIDSendN(kind, data + offset, slice_length, timeout);
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

int CDEV_CounterMate::HidReadN(int kind, unsigned char* data, int* length, int timeout,
                               int capacity) {
    std::lock_guard<std::mutex> guard(g_read_lock);
    if (m_hid == nullptr) return kPortNotOpen;
    std::vector<unsigned char> report(static_cast<size_t>(m_packet_size), 0);
    segment::MessageEnd message_end;
    bool overflowed = false;
    int outcome = kSuccess;

    const int waited = WaitOnLink(timeout, Direction::kReceive, [&] {
        const int count = ReadReport(report.data(), ReportReader::kMessages);
        if (count <= 0) return count == 0 ? Attempt::kNotYet : Attempt::kLinkGone;
        // Bytes past a short report read as zeros, as in a padded one.
        std::fill(report.begin() + count, report.end(), 0);
        const int declared = segment::DeclaredLength(report.data());
        if (declared > count - segment::kHeaderBytes) {
            outcome = kReceiveFailed;
            return Attempt::kDone;
        }
        const unsigned char* segment_data = report.data() + segment::kHeaderBytes;
        if (kind == segment::kPull) {
            if (declared > capacity) {
                outcome = kReceiveFailed;
            } else {
                *length = declared;
                std::memcpy(data, segment_data, static_cast<size_t>(declared));
            }
            return Attempt::kDone;
        }
        if (!overflowed && *length + declared <= capacity) {
            std::memcpy(data + *length, segment_data, static_cast<size_t>(declared));
            *length += declared;
        } else {
            overflowed = true;  // keep reading to the message's end, keeping nothing
        }
        if (!message_end.Feed(report.data(), declared, m_packet_size)) return Attempt::kNotYet;
        if (overflowed) outcome = kReceiveFailed;
        return Attempt::kDone;
    });
    return waited != kSuccess ? waited : outcome;
}
