// The device behind a CHidManager: the real terminal over hidraw or the simulator's socket.
#pragma once

#include <memory>

namespace countermate::hid {

class Transport {
public:
    virtual ~Transport() = default;
    // Same contracts as CHidManager::Write and CHidManager::Read (report number included in
    // `report`, excluded from `buffer`).
    virtual int Write(const unsigned char* report, int length) = 0;
    virtual int Read(unsigned char* buffer, int capacity) = 0;
};

// The real terminal; null when no device with these ids can be opened.
std::unique_ptr<Transport> OpenHidrawTransport(unsigned short vendor_id, unsigned short product_id);
// The simulator listening at `socket_path`; null when it cannot be reached.
std::unique_ptr<Transport> OpenSimulatorTransport(const char* socket_path);

// How long Read and Write wait on a descriptor before they give up for this call.
constexpr int kWaitMilliseconds = 10;
// Sleeps one wait period: a failed device (unplugged, peer gone) is reported at the pace of
// an idle one, so a caller's polling loop stays cheap whatever the failure.
void PaceFailure();

}  // namespace countermate::hid
