// The USB half of the transport over libusb-1.0: finding the reader by vendor and product,
// choosing its transfer kind and endpoints, and moving reports with stall recovery.
// Every failure after libusb has been started ends it again, so that no libusb thread outlives
// a failed open (the service unloads this library after each request).
#include <libusb-1.0/libusb.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "CardgateInternal.h"

namespace cardgate {
namespace {

constexpr int kUsbOpened = 8;
constexpr int kAttempts = 3;
constexpr int kReportSize = 255;  // report number 0x06 and 254 data bytes
constexpr unsigned char kReportNumber = 0x06;
constexpr int kBulkReceiveSize = 4480;
constexpr int kInterruptReceiveSize = 64;

void EndLibusb(libusb_context* context, libusb_device** list) {
    if (list) libusb_free_device_list(list, 1);
    libusb_exit(context);
}

void DetachKernelDriver(libusb_device_handle* handle) {
    if (libusb_kernel_driver_active(handle, 0) == 1) {
        Writelog_Arg("%s ,detach_kernel_driver,return = [%d]", "OpenLibUSB",
                     libusb_detach_kernel_driver(handle, 0));
    }
}

// Sets the configuration when needed and claims interface 0; closes the handle on failure.
int PrepareOpenedDevice(ReaderHandle* h, libusb_context* context, libusb_device_handle* handle,
                        bool setConfiguration) {
    DetachKernelDriver(handle);
    int active = 0;
    if (setConfiguration && libusb_get_configuration(handle, &active) == 0 && active != 1) {
        Writelog_Arg("%s ,libusb_set_configuration = [%d,%d]", "OpenLibUSB", active,
                     h->configValue);
        const int set = libusb_set_configuration(handle, h->configValue);
        if (set != 0) {
            libusb_close(handle);
            Writelog_Arg("%s ,set_configuration,return = [%d]", "OpenLibUSB", set);
            libusb_exit(context);
            return CARDGATE_SETTINGS_FAILED;
        }
    }
    const int claimed = libusb_claim_interface(handle, 0);
    if (claimed != 0) {
        libusb_close(handle);
        Writelog_Arg("%s ,claim_interface,return = [%d]", "OpenLibUSB", claimed);
        libusb_exit(context);
        return CARDGATE_SETTINGS_FAILED;
    }
    h->devHandle = handle;
    h->usbContext = context;
    if (h->usbFd < 1) h->usbFd = kUsbOpened;
    Writelog_Arg("%s ,bInterfaceNumber = [%d],return = [%d]", "OpenLibUSB", h->interfaceNumber,
                 claimed);
    return kUsbOpened;
}

void ChooseFromDevice(libusb_device* device, int configurations, UsbEndpointChoice& choice) {
    for (int index = 0; index < configurations && !choice.complete; ++index) {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_config_descriptor(device, uint8_t(index), &config) != 0) continue;
        ChooseUsbEndpoints(*config, choice);
        libusb_free_config_descriptor(config);
    }
}

// One transfer kind's attempts: a stall clears the halt and tries again, any other error ends.
template <typename Transfer>
int WithStallRetries(ReaderHandle* h, unsigned char endpoint, Transfer transfer) {
    int result = LIBUSB_ERROR_OTHER;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        result = transfer();
        if (result != LIBUSB_ERROR_PIPE) break;
        UsbTransferCalls().clear_halt(h->devHandle, endpoint);
    }
    return result;
}

}  // namespace

UsbCalls& UsbTransferCalls() {
    static UsbCalls calls{libusb_control_transfer, libusb_bulk_transfer, libusb_interrupt_transfer,
                          libusb_clear_halt};
    return calls;
}

void ChooseUsbEndpoints(const libusb_config_descriptor& config, UsbEndpointChoice& choice) {
    for (int i = 0; i < config.bNumInterfaces && !choice.complete; ++i) {
        const libusb_interface& interface = config.interface[i];
        for (int a = 0; a < interface.num_altsetting && !choice.complete; ++a) {
            const libusb_interface_descriptor& setting = interface.altsetting[a];
            if (setting.bInterfaceClass != 0 || setting.bInterfaceSubClass != 0) continue;
            Writelog_Arg("%s ,interface = [%d,%d]", "OpenLibUSB", setting.bInterfaceClass,
                         setting.bInterfaceSubClass);
            int in = 0, out = 0;
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
                const int kind = endpoint.bmAttributes & 0x03;
                choice.transType = kind;
                if (kind == LIBUSB_TRANSFER_TYPE_CONTROL) continue;
                if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) in = endpoint.bEndpointAddress;
                else out = endpoint.bEndpointAddress;
            }
            choice.inEndpoint = in;
            choice.outEndpoint = out;
            if (in && out) {
                choice.complete = true;
                choice.configValue = config.bConfigurationValue;
                choice.interfaceNumber = setting.bInterfaceNumber;
                Writelog_Arg("%s ,GetUSBEndpoint = [%d,%d]", "OpenLibUSB", in, out);
            }
        }
    }
}

void CloseUsbDevice(ReaderHandle* h) {
    if (h->devHandle) {
        libusb_release_interface(h->devHandle, 0);
        libusb_close(h->devHandle);
    }
    if (h->usbContext) libusb_exit(h->usbContext);
}

}  // namespace cardgate

using namespace cardgate;

int libusb_open_fd(libusb_device*, libusb_device_handle**, int) { return -1; }
int libusb_open_fd2(libusb_device*, libusb_device_handle**, int) { return -1; }
libusb_device* libusb_get_device2(libusb_context*, const char*) { return nullptr; }
int libusb_open2(libusb_device*, libusb_device_handle**, int) { return -1; }

int OpenLibUSB(ReaderHandle* h) {
    if (!h) return CARDGATE_NO_DEVICE;
    libusb_context* context = nullptr;
    const int started = libusb_init(&context);
    if (started != 0) {
        Writelog_Arg("%s ,libusb_init return = [%d]", __func__, started);
        return CARDGATE_NO_DEVICE;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 1) {
        Writelog_Arg("%s ,libusb_get_device_list return = [%d]", __func__, int(count));
        EndLibusb(context, list);
        return CARDGATE_NO_DEVICE;
    }
    libusb_device_handle* handle = nullptr;
    for (ssize_t index = 0; index < count && !handle; ++index) {
        libusb_device_descriptor descriptor{};
        const int read = libusb_get_device_descriptor(list[index], &descriptor);
        if (read != 0) {
            Writelog_Arg("%s ,devnum = [%d],libusb_get_device_descriptor return = [%d]", __func__,
                         int(index), read);
            EndLibusb(context, list);
            return read;
        }
        if (descriptor.idProduct != h->pid || descriptor.idVendor != h->vid) continue;
        Writelog_Arg("%s ,libusb_get_device_descriptor test = [%d,%d]", __func__,
                     descriptor.idVendor, descriptor.idProduct);
        UsbEndpointChoice choice;
        ChooseFromDevice(list[index], descriptor.bNumConfigurations, choice);
        h->transType = choice.transType;
        h->inEndpoint = choice.inEndpoint;
        h->outEndpoint = choice.outEndpoint;
        h->configValue = choice.configValue;
        h->interfaceNumber = choice.interfaceNumber;
        const int opened = h->usbFd <= 0 ? libusb_open(list[index], &handle)
                                         : libusb_open_fd(list[index], &handle, h->usbFd);
        Writelog_Arg("%s ,libusb_open_fd[%d],return = [%d]", __func__, h->usbFd, opened);
        if (opened != 0) handle = nullptr;
    }
    if (!handle) {
        Writelog_Arg("%s ,libusb_free_device_list return = [%d]", __func__, int(count));
        EndLibusb(context, list);
        return CARDGATE_NO_DEVICE;
    }
    libusb_free_device_list(list, 1);
    return PrepareOpenedDevice(h, context, handle, true);
}

int OpenLibUSBByPath(ReaderHandle* h) {
    if (!h) return CARDGATE_NO_DEVICE;
    libusb_context* context = nullptr;
    const int started = libusb_init(&context);
    if (started != 0) {
        Writelog_Arg("%s ,libusb_init return = [%d]", __func__, started);
        return CARDGATE_NO_DEVICE;
    }
    libusb_device* device = libusb_get_device2(context, h->path);
    if (!device) {
        Writelog_Arg("%s ,libusb_get_device2 return = [%d]", __func__, 0);
        libusb_exit(context);
        return CARDGATE_PATH_NOT_FOUND;
    }
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open2(device, &handle, h->usbFd);
    if (opened != 0 || !handle) {
        Writelog_Arg("%s ,libusb_open2 return = [%d]", __func__, opened);
        libusb_exit(context);
        return CARDGATE_PATH_NOT_FOUND;
    }
    libusb_device_descriptor descriptor{};
    const int read = libusb_get_device_descriptor(device, &descriptor);
    Writelog_Arg("%s ,libusb_get_device_descriptor return = [%d][%d][%d]", __func__, read,
                 descriptor.idVendor, descriptor.idProduct);
    return PrepareOpenedDevice(h, context, handle, false);
}

int StdOpenUsbByVidPid(int vid, int pid, int fd, ReaderHandle* out) {
    if (!out) return CARDGATE_BAD_ARGUMENT;
    Writelog_Arg("%s start,VID/PID = [0x%04x/0x%04x],FD = [%d]", __func__, vid, pid, fd);
    ReaderHandle record{};
    record.vid = vid;
    record.pid = pid;
    record.usbFd = fd;
    const int opened = OpenLibUSB(&record);
    if (opened < 0) return opened;
    record.devType = 1;
    *out = record;
    Writelog_Arg("%s End,HANDLE = [%d]", __func__, opened);
    return 0;
}

int StdOpenUsbByPath(const char* devpath, int fd, ReaderHandle* out) {
    if (!out || !devpath) return CARDGATE_BAD_ARGUMENT;
    Writelog_Arg("%s start,devpath = [%s]", __func__, devpath);
    ReaderHandle record{};
    std::snprintf(record.path, sizeof record.path, "%s", devpath);
    record.usbFd = fd;
    const int opened = OpenLibUSBByPath(&record);
    if (opened < 0) return opened;
    record.devType = 1;
    *out = record;
    Writelog_Arg("%s End,HANDLE = [%d]", __func__, opened);
    return 0;
}

int LibUSBSendData(ReaderHandle* h, const unsigned char* data, int len) {
    if (!h || len < 0 || (len > 0 && !data)) return CARDGATE_SEND_FAILED;
    std::vector<unsigned char> report(size_t(len + 1 > kReportSize ? len + 1 : kReportSize), 0);
    report[0] = kReportNumber;
    if (len > 0) std::memcpy(report.data() + 1, data, size_t(len));
    const UsbCalls& calls = UsbTransferCalls();
    const unsigned timeout = unsigned(h->timeoutMs > 0 ? h->timeoutMs : 0);
    int result = LIBUSB_ERROR_OTHER;
    unsigned char endpoint = 0;
    switch (h->transType) {
        case LIBUSB_TRANSFER_TYPE_CONTROL:
            if (len + 1 > kReportSize) break;  // a report holds 254 data bytes
            result = WithStallRetries(h, 0, [&] {
                const int sent = calls.control_transfer(h->devHandle, 0x21, 9, 0x0200, 0,
                                                        report.data(), kReportSize, timeout);
                return sent < 0 ? sent : 0;
            });
            break;
        case LIBUSB_TRANSFER_TYPE_BULK:
        case LIBUSB_TRANSFER_TYPE_INTERRUPT: {
            endpoint = (unsigned char)h->outEndpoint;
            const bool bulk = h->transType == LIBUSB_TRANSFER_TYPE_BULK;
            result = WithStallRetries(h, endpoint, [&] {
                int transferred = 0;
                const int sent = (bulk ? calls.bulk_transfer : calls.interrupt_transfer)(
                    h->devHandle, endpoint, report.data(), len + 1, &transferred, timeout);
                if (sent == 0 && !bulk && transferred != len + 1) return int(LIBUSB_ERROR_IO);
                return sent;
            });
            break;
        }
        default: return CARDGATE_SEND_FAILED;
    }
    if (result == 0) return 0;
    calls.clear_halt(h->devHandle, endpoint);
    Writelog_Arg("%s End,Timeout = [%d],bInterfaceNum = [%d],Endpoint =[%d],return = [%d]",
                 __func__, h->timeoutMs, h->interfaceNumber, endpoint, result);
    return CARDGATE_SEND_FAILED;
}

int LibUSBRecvData(ReaderHandle* h, unsigned char* data, int* len) {
    if (!h || !data || !len) return CARDGATE_RECEIVE_FAILED;
    const int capacity = ReceiveCapacity(len);
    std::vector<unsigned char> buffer(kReceiveBufferSize, 0);
    const UsbCalls& calls = UsbTransferCalls();
    const unsigned timeout = unsigned(h->timeoutMs > 0 ? h->timeoutMs : 0);
    Writelog_Arg("%s ,TransType = [%d],TimeOut = [%d]", __func__, h->transType, h->timeoutMs);
    int result = LIBUSB_ERROR_OTHER;
    int received = 0;
    int offset = 0;
    unsigned char endpoint = 0;
    switch (h->transType) {
        case LIBUSB_TRANSFER_TYPE_CONTROL:
            result = WithStallRetries(h, 0, [&] {
                const int got = calls.control_transfer(h->devHandle, 0xA1, 1, 0x0300, 0,
                                                       buffer.data(), kReportSize, timeout);
                received = got > 0 ? got : 0;
                return got < 0 ? got : 0;
            });
            Writelog_Arg("%s ,libusb_control_transfer = [%d][%d]", __func__, result, received);
            if (result == 0 && (received < 1 || buffer[0] != kReportNumber)) return 0;
            offset = 1;
            break;
        case LIBUSB_TRANSFER_TYPE_BULK:
        case LIBUSB_TRANSFER_TYPE_INTERRUPT: {
            endpoint = (unsigned char)h->inEndpoint;
            const bool bulk = h->transType == LIBUSB_TRANSFER_TYPE_BULK;
            result = WithStallRetries(h, endpoint, [&] {
                return (bulk ? calls.bulk_transfer : calls.interrupt_transfer)(
                    h->devHandle, endpoint, buffer.data(),
                    bulk ? kBulkReceiveSize : kInterruptReceiveSize, &received, timeout);
            });
            Writelog_Arg(bulk ? "%s ,libusb_bulk_transfer = [%d][%d]"
                              : "%s ,libusb_interrupt_transfer = [%d][%d]",
                         __func__, result, received);
            break;
        }
        default: return CARDGATE_RECEIVE_FAILED;
    }
    if (result != 0) {
        calls.clear_halt(h->devHandle, endpoint);
        Writelog_Arg("%s End,Timeout = [%d],bInterfaceNum = [%d],Endpoint =[%d],return = [%d]",
                     __func__, h->timeoutMs, h->interfaceNumber, endpoint, result);
        return CARDGATE_RECEIVE_FAILED;
    }
    int count = received - offset;
    if (count > capacity) count = capacity;
    if (count > 0) std::memcpy(data, buffer.data() + offset, size_t(count));
    *len = count > 0 ? count : 0;
    return 0;
}
