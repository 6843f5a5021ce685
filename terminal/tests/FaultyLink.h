// A HID link that passes every call to a real one until its Nth report, where it fails the way a
// USB link fails: the device refuses writes, a read errors, the device stops answering, or it
// disappears. The fault lasts until the port is closed; the next opening is healthy again.
//
// Only reports that carry data are counted (a read or write answering "nothing yet" is not), so
// looping N from 1 upwards until an operation completes without meeting the fault tries it at
// every point where the link can fail.
#pragma once

#include <atomic>
#include <ctime>
#include <memory>

#include "HidManager.h"

namespace countermate::terminal::testing {

enum class LinkFault {
    kWriteRefused,  // every write from the Nth on takes nothing
    kReadError,     // the Nth report, if it is read, fails: the device is gone for reads
    kStall,         // from the Nth report on nothing is written or read
    kGone,          // from the Nth report on every call fails: the device has disappeared
};

class FaultyLink final : public CHidManager {
public:
    FaultyLink(CHidManager* inner, void (*destroy)(CHidManager*), LinkFault fault, int at)
        : m_inner(inner), m_destroy(destroy), m_fault(fault), m_at(at) {}
    ~FaultyLink() override { m_destroy(m_inner); }

    int Open(unsigned short vendor_id, unsigned short product_id) override {
        return m_inner->Open(vendor_id, product_id);
    }
    int Close() override {
        m_failing = false;  // the fault was met; the link behind it is healthy from here on
        m_disarmed = m_disarmed || m_met;
        return m_inner->Close();
    }
    int Write(const unsigned char* report, int length) override {
        if (Failing(false)) return FailedCall();
        return Counted(m_inner->Write(report, length));
    }
    int Read(unsigned char* buffer, int capacity) override {
        if (Failing(true)) return FailedCall();
        return Counted(m_inner->Read(buffer, capacity));
    }

    // No fault from here on (the operation under test is over).
    void Disarm() { m_disarmed = true; }
    // Whether the fault has been met: false once the operation ran through without reaching it.
    bool Met() const { return m_met; }
    // Whether the call that met the fault was a read.
    bool MetOnRead() const { return m_met_on_read; }
    // Seconds the link has stalled, each stalled call counting one: a test clock adds them so
    // that a wait on a stalled link reaches its time-out at once.
    std::time_t StalledSeconds() const { return m_stalled_seconds; }

private:
    bool Affects(bool is_read) const {
        if (m_fault == LinkFault::kWriteRefused) return !is_read;
        if (m_fault == LinkFault::kReadError) return is_read;
        return true;
    }
    // Whether this call fails: from the first call the fault affects at or after the Nth
    // report, until the port is closed.
    bool Failing(bool is_read) {
        if (m_disarmed || !Affects(is_read)) return false;
        if (!m_failing && m_counted + 1 >= m_at) {
            m_failing = true;
            m_met = true;
            m_met_on_read = is_read;
        }
        return m_failing;
    }
    // A refusing or stalled device takes or gives nothing; a failed or vanished one errs.
    int FailedCall() {
        if (m_fault == LinkFault::kReadError || m_fault == LinkFault::kGone) return -1;
        ++m_stalled_seconds;
        return 0;
    }
    int Counted(int result) {
        if (result > 0) ++m_counted;
        return result;
    }

    CHidManager* const m_inner;
    void (*const m_destroy)(CHidManager*);
    const LinkFault m_fault;
    const int m_at;
    // The driver's reader and writer may run on two threads.
    std::atomic<int> m_counted{0};
    std::atomic<bool> m_failing{false};
    std::atomic<bool> m_met{false};
    std::atomic<bool> m_disarmed{false};
    std::atomic<bool> m_met_on_read{false};
    std::atomic<std::time_t> m_stalled_seconds{0};
};

}  // namespace countermate::terminal::testing
