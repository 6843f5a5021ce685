// The USB transport through a recording stand-in for libusb's transfer calls: report layout,
// stall recovery, pieces of the link framing, and the choice of transfer kind. A real reader
// (0400:C35A) is used only when one is attached.
#include <gtest/gtest.h>
#include <libusb-1.0/libusb.h>

#include <deque>
#include <string>
#include <vector>

#include "CardgateInternal.h"
#include "CardgateTesting.h"
#include "LinkFrame.h"

namespace cardgate::testing {
namespace {

struct Transfer {
    char kind;  // 'c' control, 'b' bulk, 'i' interrupt
    int endpointOrRequestType;
    std::vector<unsigned char> data;
};

// What the stand-in saw, and what it answers next: results to return in order (0 when none
// is queued) and the bytes each IN transfer delivers.
struct FakeUsb {
    std::vector<Transfer> transfers;
    std::vector<int> clearedHalts;
    std::deque<int> results;
    std::deque<std::vector<unsigned char>> incoming;
    int shortWrites = 0;  // interrupt sends that report one byte fewer
};
FakeUsb* g_usb = nullptr;

int NextResult() {
    if (g_usb->results.empty()) return 0;
    const int result = g_usb->results.front();
    g_usb->results.pop_front();
    return result;
}

int Deliver(unsigned char* data, int length) {
    if (g_usb->incoming.empty()) return 0;
    const std::vector<unsigned char> bytes = g_usb->incoming.front();
    g_usb->incoming.pop_front();
    const int count = int(bytes.size()) < length ? int(bytes.size()) : length;
    std::copy(bytes.begin(), bytes.begin() + count, data);
    return count;
}

int FakeControl(libusb_device_handle*, uint8_t requestType, uint8_t, uint16_t, uint16_t,
                unsigned char* data, uint16_t length, unsigned int) {
    const bool in = requestType & 0x80;
    g_usb->transfers.push_back(
        {'c', requestType,
         in ? std::vector<unsigned char>() : std::vector<unsigned char>(data, data + length)});
    const int result = NextResult();
    if (result < 0) return result;
    return in ? Deliver(data, length) : length;
}

int FakeEndpoint(char kind, unsigned char endpoint, unsigned char* data, int length,
                 int* transferred) {
    const bool in = endpoint & 0x80;
    g_usb->transfers.push_back(
        {kind, endpoint,
         in ? std::vector<unsigned char>() : std::vector<unsigned char>(data, data + length)});
    const int result = NextResult();
    if (result < 0) return result;
    *transferred = in ? Deliver(data, length) : length;
    if (!in && kind == 'i' && g_usb->shortWrites > 0 && g_usb->shortWrites--) *transferred -= 1;
    return 0;
}

int FakeBulk(libusb_device_handle*, unsigned char endpoint, unsigned char* data, int length,
             int* transferred, unsigned int) {
    return FakeEndpoint('b', endpoint, data, length, transferred);
}

int FakeInterrupt(libusb_device_handle*, unsigned char endpoint, unsigned char* data, int length,
                  int* transferred, unsigned int) {
    return FakeEndpoint('i', endpoint, data, length, transferred);
}

int FakeClearHalt(libusb_device_handle*, unsigned char endpoint) {
    g_usb->clearedHalts.push_back(endpoint);
    return 0;
}

class ReaderUsbTransport : public ::testing::Test {
protected:
    void SetUp() override {
        g_usb = &m_usb;
        m_saved = UsbTransferCalls();
        UsbTransferCalls() = {FakeControl, FakeBulk, FakeInterrupt, FakeClearHalt};
        m_handle.devType = 1;
        m_handle.usbFd = 8;
        m_handle.devHandle = reinterpret_cast<libusb_device_handle*>(&m_usb);  // never dereferenced
        m_handle.outEndpoint = 0x02;
        m_handle.inEndpoint = 0x81;
        m_handle.timeoutMs = 100;
    }
    void TearDown() override {
        UsbTransferCalls() = m_saved;
        g_usb = nullptr;
    }
    FakeUsb m_usb;
    UsbCalls m_saved{};
    ReaderHandle m_handle{};
};

TEST_F(ReaderUsbTransport, ReportsStartWithTheReportNumber) {
    const std::vector<unsigned char> data = Bytes({0x11, 0x22, 0x33});
    m_handle.transType = LIBUSB_TRANSFER_TYPE_CONTROL;
    ASSERT_EQ(StdSendData(&m_handle, data.data(), 3), 0);
    m_handle.transType = LIBUSB_TRANSFER_TYPE_BULK;
    ASSERT_EQ(StdSendData(&m_handle, data.data(), 3), 0);
    m_handle.transType = LIBUSB_TRANSFER_TYPE_INTERRUPT;
    ASSERT_EQ(StdSendData(&m_handle, data.data(), 3), 0);
    ASSERT_EQ(m_usb.transfers.size(), 3u);

    const Transfer& control = m_usb.transfers[0];
    EXPECT_EQ(control.endpointOrRequestType, 0x21);  // class SET_REPORT to the interface
    ASSERT_EQ(control.data.size(), 255u);            // always the whole report
    EXPECT_EQ(std::vector<unsigned char>(control.data.begin(), control.data.begin() + 5),
              Bytes({0x06, 0x11, 0x22, 0x33, 0x00}));
    for (const Transfer& sent : {m_usb.transfers[1], m_usb.transfers[2]}) {
        EXPECT_EQ(sent.endpointOrRequestType, 0x02);
        EXPECT_EQ(sent.data, Bytes({0x06, 0x11, 0x22, 0x33}));  // the data length plus one
    }
}

TEST_F(ReaderUsbTransport, StallsClearTheHaltAndTryAgainUpToThreeTimes) {
    const std::vector<unsigned char> data = Bytes({0x01, 0x02});
    m_handle.transType = LIBUSB_TRANSFER_TYPE_BULK;
    m_usb.results = {LIBUSB_ERROR_PIPE, LIBUSB_ERROR_PIPE};
    EXPECT_EQ(LibUSBSendData(&m_handle, data.data(), 2), 0);
    EXPECT_EQ(m_usb.transfers.size(), 3u);
    EXPECT_EQ(m_usb.clearedHalts, (std::vector<int>{0x02, 0x02}));

    m_usb.transfers.clear();
    m_usb.clearedHalts.clear();
    m_usb.results = {LIBUSB_ERROR_PIPE, LIBUSB_ERROR_PIPE, LIBUSB_ERROR_PIPE};
    EXPECT_EQ(LibUSBSendData(&m_handle, data.data(), 2), CARDGATE_SEND_FAILED);
    EXPECT_EQ(m_usb.transfers.size(), 3u);

    m_usb.transfers.clear();
    m_usb.results = {LIBUSB_ERROR_TIMEOUT};  // anything but a stall ends the attempts
    EXPECT_EQ(LibUSBSendData(&m_handle, data.data(), 2), CARDGATE_SEND_FAILED);
    EXPECT_EQ(m_usb.transfers.size(), 1u);

    m_usb.transfers.clear();
    m_handle.transType = LIBUSB_TRANSFER_TYPE_INTERRUPT;
    m_usb.shortWrites = 1;  // an interrupt send must move every byte
    EXPECT_EQ(LibUSBSendData(&m_handle, data.data(), 2), CARDGATE_SEND_FAILED);

    m_handle.transType = 1;  // isochronous is no kind of ours
    EXPECT_EQ(LibUSBSendData(&m_handle, data.data(), 2), CARDGATE_SEND_FAILED);
}

TEST_F(ReaderUsbTransport, ReceivesReportsOfEachKind) {
    unsigned char data[kReceiveBufferSize];
    int length = 0;
    m_handle.transType = LIBUSB_TRANSFER_TYPE_CONTROL;
    m_usb.incoming = {Bytes({0x06, 0xAB, 0xCD}), Bytes({0x05, 0xAB})};
    ASSERT_EQ(LibUSBRecvData(&m_handle, data, &length), 0);
    EXPECT_EQ(m_usb.transfers.back().endpointOrRequestType, 0xA1);  // class GET_REPORT
    EXPECT_EQ(std::vector<unsigned char>(data, data + length), Bytes({0xAB, 0xCD}));
    length = 77;  // a report of another number leaves the length as it was
    EXPECT_EQ(LibUSBRecvData(&m_handle, data, &length), 0);
    EXPECT_EQ(length, 77);

    m_handle.transType = LIBUSB_TRANSFER_TYPE_BULK;
    m_usb.incoming = {Bytes({1, 2, 3, 4, 5})};
    length = 0;
    ASSERT_EQ(LibUSBRecvData(&m_handle, data, &length), 0);
    EXPECT_EQ(m_usb.transfers.back().endpointOrRequestType, 0x81);
    EXPECT_EQ(length, 5);

    m_usb.results = {LIBUSB_ERROR_IO};
    EXPECT_EQ(LibUSBRecvData(&m_handle, data, &length), CARDGATE_RECEIVE_FAILED);
    EXPECT_EQ(m_usb.clearedHalts.back(), 0x81);
}

TEST_F(ReaderUsbTransport, LinkFrameOf508BytesGoesOutAsTwoPiecesOf254) {
    m_handle.transType = LIBUSB_TRANSFER_TYPE_BULK;
    std::vector<unsigned char> payload(503);  // 503 + 5 = 508 frame bytes
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = (unsigned char)i;
    ASSERT_EQ(USBSendProtocol(&m_handle, payload.data(), int(payload.size())), 0);
    ASSERT_EQ(m_usb.transfers.size(), 2u);
    const std::vector<unsigned char> frame = link::Assemble(link::First(), 0, payload.data(), 503);
    std::vector<unsigned char> joined;
    for (const Transfer& piece : m_usb.transfers) {
        ASSERT_EQ(piece.data.size(), 255u);
        EXPECT_EQ(piece.data[0], 0x06);
        joined.insert(joined.end(), piece.data.begin() + 1, piece.data.end());
    }
    EXPECT_EQ(joined, frame);

    m_usb.transfers.clear();
    m_usb.results = {0, LIBUSB_ERROR_TIMEOUT};  // the first failing piece ends the send
    EXPECT_EQ(USBSendProtocol(&m_handle, payload.data(), int(payload.size())),
              CARDGATE_SEND_FAILED);
    EXPECT_EQ(m_usb.transfers.size(), 2u);

    m_handle.devType = 2;
    EXPECT_EQ(USBSendProtocol(&m_handle, payload.data(), 503), CARDGATE_NO_DEVICE);
}

TEST_F(ReaderUsbTransport, LinkFrameIsGatheredFromPiecesAfterNoise) {
    m_handle.transType = LIBUSB_TRANSFER_TYPE_BULK;
    m_handle.protocolMode = 1;
    std::vector<unsigned char> payload(300, 0x5A);
    const std::vector<unsigned char> frame = link::Assemble(link::Second(), 1, payload.data(), 300);
    m_usb.incoming.push_back(Bytes({0x00, 0x00}));  // a piece without a start byte
    for (size_t at = 0; at < frame.size(); at += 200)
        m_usb.incoming.emplace_back(frame.begin() + long(at),
                                    frame.begin() + long(std::min(frame.size(), at + 200)));
    unsigned char decoded[1024] = {};
    int length = sizeof decoded;
    ASSERT_EQ(USBRecvProtocol2(&m_handle, decoded, &length), 0);
    EXPECT_EQ(length, 304);  // start, two length bytes, payload, check byte
    EXPECT_EQ(std::vector<unsigned char>(decoded + 3, decoded + 303), payload);

    m_usb.incoming.assign(6, Bytes({0x00}));
    EXPECT_EQ(USBRecvProtocol2(&m_handle, decoded, &length), CARDGATE_NO_START_BYTE);
}

libusb_endpoint_descriptor Endpoint(int address, int kind) {
    libusb_endpoint_descriptor endpoint{};
    endpoint.bEndpointAddress = uint8_t(address);
    endpoint.bmAttributes = uint8_t(kind);
    return endpoint;
}

TEST(ReaderUsbEndpointChoice, VendorInterfaceWithBothEndpointsGivesItsKind) {
    libusb_endpoint_descriptor endpoints[] = {Endpoint(0x81, 2), Endpoint(0x02, 2)};
    libusb_interface_descriptor hid{};
    hid.bInterfaceClass = 3;
    hid.bInterfaceNumber = 0;
    libusb_interface_descriptor vendor{};
    vendor.bInterfaceNumber = 1;
    vendor.bNumEndpoints = 2;
    vendor.endpoint = endpoints;
    libusb_interface interfaces[2] = {{&hid, 1}, {&vendor, 1}};
    libusb_config_descriptor config{};
    config.bConfigurationValue = 1;
    config.bNumInterfaces = 2;
    config.interface = interfaces;
    UsbEndpointChoice choice;
    ChooseUsbEndpoints(config, choice);
    EXPECT_TRUE(choice.complete);
    EXPECT_EQ(choice.transType, LIBUSB_TRANSFER_TYPE_BULK);
    EXPECT_EQ(choice.inEndpoint, 0x81);
    EXPECT_EQ(choice.outEndpoint, 0x02);
    EXPECT_EQ(choice.configValue, 1);
    EXPECT_EQ(choice.interfaceNumber, 1);
}

TEST(ReaderUsbEndpointChoice, ReaderWithOnlyClassInterfacesIsDrivenByControlReports) {
    libusb_endpoint_descriptor endpoints[] = {Endpoint(0x81, 3), Endpoint(0x01, 3)};
    libusb_interface_descriptor hid{};
    hid.bInterfaceClass = 3;  // HID
    hid.bNumEndpoints = 2;
    hid.endpoint = endpoints;
    libusb_interface interface = {&hid, 1};
    libusb_config_descriptor config{};
    config.bConfigurationValue = 1;
    config.bNumInterfaces = 1;
    config.interface = &interface;
    UsbEndpointChoice choice;
    ChooseUsbEndpoints(config, choice);
    EXPECT_FALSE(choice.complete);
    EXPECT_EQ(choice.transType, LIBUSB_TRANSFER_TYPE_CONTROL);
    EXPECT_EQ(choice.configValue, 0);
    EXPECT_EQ(choice.interfaceNumber, 0);
}

TEST(ReaderUsbOpen, OpeningByPathFails) {
    ReaderHandle handle{};
    const int opened = StdOpenUsbByPath("/dev/bus/usb/001/002", 0, &handle);
    EXPECT_TRUE(opened == CARDGATE_PATH_NOT_FOUND || opened == CARDGATE_NO_DEVICE) << opened;
    EXPECT_EQ(handle.devType, 0);
    EXPECT_EQ(_SDT_OpenUsbByPath(0, "/dev/bus/usb/001/002"), 1);
}

TEST(ReaderUsbHardware, OpensTheRealReader) {
    if (_SDT_OpenUsbByFD(0) != 0x90)
        CARDGATE_SKIP_WITHOUT_HARDWARE("no card reader (USB 0400:C35A) attached");
    EXPECT_EQ(GetCurDevType(), 1);
    EXPECT_EQ(_SDT_GetSAMStatus(), 0x90);
    EXPECT_EQ(_SDT_CloseDev(), 0x90);
}

}  // namespace
}  // namespace cardgate::testing
