// The device behind a CHidManager: the real terminal over hidraw or the simulator's socket.
#pragma once

#include <memory>

namespace countermate::hid {

class Transport {
public:
    virtual ~Transport() = default;
    // Same contracts as CHidManager::Write and CHidManager::Read (report number included in
    // `report`, excluded from `buffer`): above 0 done, 0 nothing within the wait, below 0 gone.
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
// The result of a call on a device that is gone or failed for good: -1, after PaceFailure.
int DeviceGone();

}  // namespace countermate::hid
