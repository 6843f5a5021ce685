// An in-memory HID link that plays a terminal from a script: every report the driver writes is
// kept, and a responder given each one queues the reports the terminal sends back. Reports are
// read whole, one per read, zero-padded to the packet size as a real device sends them.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DEV_CounterMate.h"
#include "HidManager.h"
#include "SegmentFraming.h"

namespace countermate::terminal::testing {

class ScriptedLink final : public CHidManager {
public:
    using Report = std::vector<unsigned char>;
    // Called with each written report's payload (no report number); returns the reports to
    // queue for reading.
    using Responder = std::function<std::vector<Report>(const Report&)>;

    ScriptedLink(int packet_size, Responder responder)
        : m_packet_size(packet_size), m_responder(std::move(responder)) {}

    int Open(unsigned short, unsigned short) override { return 1; }
    int Close() override { return 0; }
    int Write(const unsigned char* report, int length) override {
        const Report payload(report + 1, report + length);
        std::vector<Report> answers = m_responder(payload);
        std::lock_guard<std::mutex> guard(m_lock);
        for (Report& answer : answers) {
            answer.resize(static_cast<size_t>(m_packet_size), 0);
            m_queued.push_back(std::move(answer));
        }
        return length;
    }
    int Read(unsigned char* buffer, int capacity) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_queued.empty()) {
            ++m_idle_seconds;  // nothing to read: the test clock moves on a second
            return 0;
        }
        const Report report = std::move(m_queued.front());
        m_queued.pop_front();
        const int count = std::min(capacity, static_cast<int>(report.size()));
        std::copy(report.begin(), report.begin() + count, buffer);
        return count;
    }

    // Seconds a reader has found nothing, one per empty read: a test clock adds them so that a
    // wait for a report the script never sends reaches its time-out at once.
    std::time_t IdleSeconds() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_idle_seconds;
    }

    // `message` as segments of `kind`, every segment but the last filling its report.
    static std::vector<Report> Segments(int kind, const std::string& message, int packet_size) {
        const int capacity = packet_size - segment::kHeaderBytes;
        std::vector<Report> reports;
        for (size_t offset = 0; offset < message.size(); offset += static_cast<size_t>(capacity)) {
            const int length =
                static_cast<int>(std::min(message.size() - offset, size_t(capacity)));
            Report report(static_cast<size_t>(segment::kHeaderBytes + length));
            segment::WriteHeader(report.data(), kind, length);
            std::copy(message.begin() + static_cast<long>(offset),
                      message.begin() + static_cast<long>(offset) + length,
                      report.begin() + segment::kHeaderBytes);
            reports.push_back(std::move(report));
        }
        return reports;
    }

private:
    const int m_packet_size;
    const Responder m_responder;
    mutable std::mutex m_lock;  // guards m_queued and m_idle_seconds
    std::deque<Report> m_queued;
    std::time_t m_idle_seconds = 0;
};

// A driver on a scripted link of packet size 512, its port open. Its clock adds the link's idle
// seconds, so a wait for a report the script never sends ends at once.
struct ScriptedDriver {
    explicit ScriptedDriver(ScriptedLink::Responder responder) {
        auto owned = std::make_unique<ScriptedLink>(kPacketSize, std::move(responder));
        link = owned.get();
        driver = std::make_unique<CDEV_CounterMate>(std::move(owned));
        ScriptedLink* idle = link;
        driver->UseClock([idle] { return std::time(nullptr) + idle->IdleSeconds(); });
        EXPECT_EQ(driver->PacketSize(), kPacketSize);
        EXPECT_EQ(driver->HIDOpenPort(), 0);
    }
    static constexpr int kPacketSize = 512;
    ScriptedLink* link = nullptr;
    std::unique_ptr<CDEV_CounterMate> driver;
};

}  // namespace countermate::terminal::testing
