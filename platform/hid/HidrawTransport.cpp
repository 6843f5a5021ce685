// The real terminal through hidapi's hidraw back end. hid_read_timeout waits with poll() on the
// hidraw node, which gives the bounded, sleeping wait that the driver's polling loop relies on.
#include <hidapi.h>

#include <mutex>

#include "HidTransport.h"

namespace countermate::hid {
namespace {

class HidrawTransport final : public Transport {
public:
    explicit HidrawTransport(hid_device* device) : m_device(device) {}
    ~HidrawTransport() override { hid_close(m_device); }

    // hidapi's hidraw back end answers -1 when the node reports an error or a hang-up, which a
    // removed device does on every call from then on: -1 is gone, not "try again".
    int Write(const unsigned char* report, int length) override {
        const int written = hid_write(m_device, report, static_cast<size_t>(length));
        if (written < 0) return DeviceGone();
        if (written == 0) PaceFailure();
        return written;
    }

    int Read(unsigned char* buffer, int capacity) override {
        const int count =
            hid_read_timeout(m_device, buffer, static_cast<size_t>(capacity), kWaitMilliseconds);
        return count < 0 ? DeviceGone() : count;
    }

private:
    hid_device* m_device;
};

}  // namespace

std::unique_ptr<Transport> OpenHidrawTransport(unsigned short vendor_id,
                                               unsigned short product_id) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { hid_init(); });
    hid_device* device = hid_open(vendor_id, product_id, nullptr);
    if (device == nullptr) return nullptr;
    return std::make_unique<HidrawTransport>(device);
}

}  // namespace countermate::hid
