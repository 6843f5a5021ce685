// A terminal played by a fuzzer's input: the input is cut into reports, which the scripted
// in-memory link hands the driver, one per read, once the driver has written its first report
// (its command or announcement). A driver reading past the last report finds nothing, and the
// link's idle clock runs its wait out at once.
//
// Input layout (after any bytes a target takes first): reports, each a 2-byte big-endian count
// and then that many bytes (cut to what is left and to the packet size). The link pads every
// report with zeros to the packet size, as a HID device sends it; the first 3 bytes of a report
// are its segment header.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "DEV_CounterMate.h"
#include "ScriptedLink.h"

namespace countermate::fuzzing {

using terminal::testing::ScriptedLink;
using Report = ScriptedLink::Report;

constexpr int kPacketSize = 512;

inline void check(bool condition) {
    if (!condition) std::abort();
}

// The reports of `data` (see the input layout above).
inline std::vector<Report> ReportsOf(const uint8_t* data, size_t size) {
    std::vector<Report> reports;
    size_t offset = 0;
    while (size - offset >= 2) {
        size_t count = size_t(data[offset]) << 8 | data[offset + 1];
        offset += 2;
        count = std::min({count, size - offset, size_t(kPacketSize)});
        reports.emplace_back(data + offset, data + offset + count);
        offset += count;
    }
    return reports;
}

// A driver, its port open, whose terminal sends `reports` after the driver's first write and
// nothing after later ones.
inline std::unique_ptr<CDEV_CounterMate> DriverAnswering(std::vector<Report> reports) {
    auto pending = std::make_shared<std::vector<Report>>(std::move(reports));
    auto owned = std::make_unique<ScriptedLink>(
        kPacketSize, [pending](const Report&) { return std::exchange(*pending, {}); });
    ScriptedLink* link = owned.get();
    auto driver = std::make_unique<CDEV_CounterMate>(std::move(owned));
    driver->UseClock([link] { return std::time(nullptr) + link->IdleSeconds(); });
    check(driver->PacketSize() == kPacketSize);
    check(driver->HIDOpenPort() == 0);
    return driver;
}

// True when `result` is one of `allowed`.
inline bool OneOf(int result, std::initializer_list<int> allowed) {
    return std::find(allowed.begin(), allowed.end(), result) != allowed.end();
}

}  // namespace countermate::fuzzing
