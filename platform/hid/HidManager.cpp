#include "HidManager.h"

#include <cstdlib>
#include <memory>

#include <time.h>

#include "HidTransport.h"

namespace countermate::hid {

void PaceFailure() {
    const timespec period{0, kWaitMilliseconds * 1000000L};
    nanosleep(&period, nullptr);
}

int DeviceGone() {
    PaceFailure();
    return -1;
}

namespace {

class HidDevice final : public CHidManager {
public:
    int Open(unsigned short vendor_id, unsigned short product_id) override {
        if (m_transport) return 1;
        const char* simulator = std::getenv("COUNTERMATE_HID_SIM");
        if (simulator != nullptr && *simulator != '\0') {
            m_transport = OpenSimulatorTransport(simulator);
        } else {
            m_transport = OpenHidrawTransport(vendor_id, product_id);
        }
        return m_transport ? 1 : 0;
    }

    int Close() override {
        m_transport.reset();
        return 0;
    }

    int Write(const unsigned char* report, int length) override {
        if (!m_transport || report == nullptr || length < 1) return DeviceGone();
        return m_transport->Write(report, length);
    }

    int Read(unsigned char* buffer, int capacity) override {
        if (!m_transport || buffer == nullptr || capacity < 1) return DeviceGone();
        return m_transport->Read(buffer, capacity);
    }

private:
    std::unique_ptr<Transport> m_transport;
};

}  // namespace
}  // namespace countermate::hid

extern "C" {

__attribute__((visibility("default"))) CHidManager* CreateHidManager() {
    return new countermate::hid::HidDevice();
}

__attribute__((visibility("default"))) void DestroyHidManager(CHidManager* manager) {
    delete manager;
}
}
