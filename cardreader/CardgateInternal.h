// What the layers of libcardgate share beyond the exported entries: the global device, the
// receive pacing of the serial port and the libusb calls, both replaceable by tests.
#pragma once

#include <cstdint>

#include "cardgate.h"

struct libusb_config_descriptor;

namespace cardgate {

static_assert(sizeof(ReaderHandle) == 272, "ReaderHandle is copied to callers as 272 bytes");

constexpr int kReceiveBufferSize = 8192;
constexpr int kDefaultTimeoutMs = 2000;

// The one current reader of the library.
ReaderHandle& GlobalDevice();

// Capacity of a receive destination: *len when positive, else the receive buffer size.
inline int ReceiveCapacity(const int* len) {
    return len && *len > 0 && *len < kReceiveBufferSize ? *len : kReceiveBufferSize;
}

// How the serial receive waits between its passes. `settle` follows a read, so that more of
// a burst gathers before the next one; `await_silence` is the pause after a pass that found
// nothing, which may end early when bytes arrive. Production sleeps and polls the descriptor.
struct ReceivePacing {
    void (*settle)(int fd, int ms);
    void (*await_silence)(int fd, int ms);
};
ReceivePacing& SerialReceivePacing();
constexpr int kSettleMs = 5;
constexpr int kSilenceMs = 30;

// The libusb transfer calls the USB layer makes; tests put a recording fake in their place.
struct UsbCalls {
    int (*control_transfer)(libusb_device_handle*, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int timeout);
    int (*bulk_transfer)(libusb_device_handle*, unsigned char endpoint, unsigned char* data,
                         int length, int* transferred, unsigned int timeout);
    int (*interrupt_transfer)(libusb_device_handle*, unsigned char endpoint, unsigned char* data,
                              int length, int* transferred, unsigned int timeout);
    int (*clear_halt)(libusb_device_handle*, unsigned char endpoint);
};
UsbCalls& UsbTransferCalls();

// The transfer kind and endpoints chosen from one configuration: the first alternate setting
// of class 0 and subclass 0 that has both an OUT and an IN endpoint; otherwise the last kind
// seen (0, HID control reports, when none) and configuration and interface 0.
struct UsbEndpointChoice {
    int transType = 0;
    int inEndpoint = 0;
    int outEndpoint = 0;
    int configValue = 0;
    int interfaceNumber = 0;
    bool complete = false;
};
void ChooseUsbEndpoints(const libusb_config_descriptor& config, UsbEndpointChoice& choice);

// Releases interface 0, closes the device and ends libusb for an open USB record.
void CloseUsbDevice(ReaderHandle* h);

}  // namespace cardgate
