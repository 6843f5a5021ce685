// The link framing's assembly, decoding and checks, and its exchanges over the transports.
#include "LinkFrame.h"

#include <algorithm>
#include <cstring>

#include "CardgateInternal.h"

namespace cardgate::link {
namespace {

constexpr unsigned char kBccTable[16] = {0x67, 0x4E, 0x58, 0xEB, 0x5F, 0x3A, 0x8B, 0xA1,
                                         0x7B, 0x97, 0x68, 0x21, 0x9A, 0x8C, 0x78, 0x01};

void PutNibbles(std::vector<unsigned char>& out, unsigned value, int count) {
    for (int shift = 4 * (count - 1); shift >= 0; shift -= 4)
        out.push_back((unsigned char)(0x30 + (value >> shift & 0x0F)));
}

}  // namespace

const Variant& First() {
    static const Variant variant{0x53, 0x4B, BCC, 253};
    return variant;
}

const Variant& Second() {
    static const Variant variant{0x02, 0x03, MTBCC, 252};
    return variant;
}

std::vector<unsigned char> Assemble(const Variant& variant, int mode, const unsigned char* payload,
                                    int length) {
    std::vector<unsigned char> frame;
    frame.reserve(size_t(2 * length + 8));
    frame.push_back(variant.start);
    const unsigned char check = variant.check(payload, length);
    if (mode == kAsciiMode) {
        PutNibbles(frame, unsigned(length), 4);
        for (int i = 0; i < length; ++i) PutNibbles(frame, payload[i], 2);
        PutNibbles(frame, check, 2);
    } else {
        frame.push_back((unsigned char)(length >> 8));
        frame.push_back((unsigned char)length);
        frame.insert(frame.end(), payload, payload + length);
        frame.push_back(check);
    }
    frame.push_back(variant.end);
    return frame;
}

int HeaderSize(int mode) { return mode == kAsciiMode ? 5 : 3; }

int FrameLength(int mode, const unsigned char* frame) {
    if (mode == kAsciiMode) return 2 * ByteToLength(frame + 1) + 8;
    return (frame[1] << 8 | frame[2]) + 5;
}

int Analyse(const Variant& variant, int mode, unsigned char* frame, int* length) {
    if (!frame || !length || *length < 3) return -1;
    if (mode == kAsciiMode) {
        const int pairs = (*length - 1) / 2;
        for (int i = 0; i < pairs; ++i)
            frame[1 + i] = (unsigned char)(frame[1 + 2 * i] * 16 + frame[2 + 2 * i] - 0x30);
        *length = pairs + 1;
    }
    const int payload = frame[1] << 8 | frame[2];
    if (*length < 3 + payload) return -1;
    return variant.check(frame + 3, payload);
}

int CheckAndDecode(const Variant& variant, int mode, const unsigned char* frame, int available,
                   std::vector<unsigned char>& out) {
    if (available < HeaderSize(mode)) return CARDGATE_NO_END_BYTE;
    const int length = FrameLength(mode, frame);
    if (length < HeaderSize(mode) + 2 || length > available || frame[length - 1] != variant.end)
        return CARDGATE_NO_END_BYTE;
    out.assign(frame, frame + length);
    int decoded = length;
    const int check = Analyse(variant, mode, out.data(), &decoded);
    const int payload = out[1] << 8 | out[2];
    if (check < 0 || 3 + payload >= decoded || out[size_t(3 + payload)] != check)
        return CARDGATE_CHECKSUM;
    out.resize(size_t(decoded));
    return 0;
}

}  // namespace cardgate::link

using namespace cardgate;
using link::Variant;

namespace {

int SendOverSerial(const Variant& variant, ReaderHandle* h, const unsigned char* data, int len) {
    if (!h || h->devType != 2) return CARDGATE_NO_DEVICE;
    if (len < 2 || len > link::kMaxPayload || !data) return CARDGATE_SEND_LENGTH;
    const std::vector<unsigned char> frame = link::Assemble(variant, h->protocolMode, data, len);
    return StdSendData(h, frame.data(), int(frame.size()));
}

int SendOverUsb(const Variant& variant, ReaderHandle* h, const unsigned char* data, int len) {
    if (!h || h->devType != 1) return CARDGATE_NO_DEVICE;
    if (len < 2 || len > link::kMaxPayload || !data) return CARDGATE_SEND_LENGTH;
    constexpr int kPiece = 254;
    const std::vector<unsigned char> frame = link::Assemble(variant, h->protocolMode, data, len);
    for (size_t sent = 0; sent < frame.size(); sent += kPiece) {
        const int piece = int(std::min<size_t>(kPiece, frame.size() - sent));
        const int result = StdSendData(h, frame.data() + sent, piece);
        if (result != 0) return result;
    }
    return 0;
}

// Hands a decoded frame to the caller, within the capacity *len gives when positive.
int DeliverFrame(const std::vector<unsigned char>& frame, unsigned char* out, int* len) {
    if (!out || !len) return CARDGATE_BAD_ARGUMENT;
    if (*len > 0 && size_t(*len) < frame.size()) return CARDGATE_RECEIVE_FAILED;
    std::memcpy(out, frame.data(), frame.size());
    *len = int(frame.size());
    return 0;
}

int ReceiveOverSerial(const Variant& variant, ReaderHandle* h, unsigned char* out, int* len) {
    std::vector<unsigned char> buffer(link::kMaxPayload, 0);
    int received = int(buffer.size());
    const int result = StdRecvData(h, buffer.data(), &received);
    if (result != 0) return result;
    const auto start = std::find(buffer.begin(), buffer.begin() + received, variant.start);
    if (start == buffer.begin() + received) return CARDGATE_NO_START_BYTE;
    std::vector<unsigned char> frame;
    const int checked = link::CheckAndDecode(variant, h->protocolMode, &*start,
                                             int(buffer.begin() + received - start), frame);
    return checked != 0 ? checked : DeliverFrame(frame, out, len);
}

int ReceiveOverUsb(const Variant& variant, ReaderHandle* h, unsigned char* out, int* len) {
    if (!h || h->devType != 1) return CARDGATE_NO_DEVICE;
    constexpr int kSearchPieces = 6;
    std::vector<unsigned char> piece(size_t(variant.usbPiece));
    std::vector<unsigned char> frame;
    frame.reserve(link::kMaxPayload);
    auto readPiece = [&](int& count) {
        count = variant.usbPiece;
        return StdRecvData(h, piece.data(), &count);
    };
    int count = 0;
    for (int attempt = 0; attempt < kSearchPieces && frame.empty(); ++attempt) {
        const int result = readPiece(count);
        if (result != 0) return result;
        const auto start = std::find(piece.begin(), piece.begin() + count, variant.start);
        if (start != piece.begin() + count) frame.assign(start, piece.begin() + count);
    }
    if (frame.empty()) return CARDGATE_NO_START_BYTE;
    const int mode = h->protocolMode;
    while (frame.size() < size_t(link::HeaderSize(mode)) ||
           int(frame.size()) < link::FrameLength(mode, frame.data())) {
        if (frame.size() + size_t(variant.usbPiece) > size_t(link::kMaxPayload))
            return CARDGATE_NO_END_BYTE;
        const int result = readPiece(count);
        if (result != 0) return result;
        frame.insert(frame.end(), piece.begin(), piece.begin() + count);
    }
    std::vector<unsigned char> decoded;
    const int checked =
        link::CheckAndDecode(variant, mode, frame.data(), int(frame.size()), decoded);
    return checked != 0 ? checked : DeliverFrame(decoded, out, len);
}

int ManageOverGlobalDevice(const Variant& variant, int len, const unsigned char* data, int* size,
                           unsigned char* out) {
    ReaderHandle& device = GlobalDevice();
    int sent = CARDGATE_NO_DEVICE;
    if (device.devType == 2) sent = SendOverSerial(variant, &device, data, len);
    else if (device.devType == 1) sent = SendOverUsb(variant, &device, data, len);
    if (sent != 0) return sent;
    std::vector<unsigned char> frame(link::kMaxPayload, 0);
    int received = int(frame.size());
    const int result = device.devType == 2
                           ? ReceiveOverSerial(variant, &device, frame.data(), &received)
                           : ReceiveOverUsb(variant, &device, frame.data(), &received);
    if (result != 0) return result;
    const int declared = frame[1] << 8 | frame[2];
    if (declared < 2 || received < 3 + declared) return CARDGATE_RECEIVE_FAILED;
    const int status = frame[3] << 8 | frame[4];
    if (status != 0) return -status;
    if (!size || !out) return CARDGATE_BAD_ARGUMENT;
    if (*size < declared - 1) {
        *size = 0;
        return 0;
    }
    std::memcpy(out, frame.data() + 5, size_t(declared - 2));
    *size = declared - 2;
    return 0;
}

int AssembleInto(const Variant& variant, int mode, const unsigned char* payload, int L,
                 unsigned char* frame, int* frameLen) {
    if (!frame || !frameLen || L < 0 || L > link::kMaxPayload || (L > 0 && !payload))
        return CARDGATE_BAD_ARGUMENT;
    const std::vector<unsigned char> built = link::Assemble(variant, mode, payload, L);
    std::memcpy(frame, built.data(), built.size());
    *frameLen = int(built.size());
    return 0;
}

}  // namespace

unsigned char BCC(const unsigned char* data, int len) {
    const unsigned char x = MTBCC(data, len);
    return (unsigned char)(x | link::kBccTable[x & 0x0F]);
}

unsigned char MTBCC(const unsigned char* data, int len) { return cr_bcc(data, len); }

int ByteToLength(const unsigned char* p) {
    return (p[0] - 0x30) * 4096 + (p[1] - 0x30) * 256 + (p[2] - 0x30) * 16 + (p[3] - 0x30);
}

int AssemblyProtocol(int mode, const unsigned char* payload, int L, unsigned char* frame,
                     int* frameLen) {
    return AssembleInto(link::First(), mode, payload, L, frame, frameLen);
}

int AssemblyProtocol2(int mode, const unsigned char* payload, int L, unsigned char* frame,
                      int* frameLen) {
    return AssembleInto(link::Second(), mode, payload, L, frame, frameLen);
}

int AnalysisProtocol(int mode, unsigned char* frame, int* len) {
    return link::Analyse(link::First(), mode, frame, len);
}

int AnalysisProtocol2(int mode, unsigned char* frame, int* len) {
    return link::Analyse(link::Second(), mode, frame, len);
}

int ComSendProtocol(ReaderHandle* h, unsigned char* data, int len) {
    return SendOverSerial(link::First(), h, data, len);
}
int ComSendProtocol2(ReaderHandle* h, unsigned char* data, int len) {
    return SendOverSerial(link::Second(), h, data, len);
}
int USBSendProtocol(ReaderHandle* h, unsigned char* data, int len) {
    return SendOverUsb(link::First(), h, data, len);
}
int USBSendProtocol2(ReaderHandle* h, unsigned char* data, int len) {
    return SendOverUsb(link::Second(), h, data, len);
}
int ComRecvProtocol(ReaderHandle* h, unsigned char* out, int* len) {
    return ReceiveOverSerial(link::First(), h, out, len);
}
int ComRecvProtocol2(ReaderHandle* h, unsigned char* out, int* len) {
    return ReceiveOverSerial(link::Second(), h, out, len);
}
int USBRecvProtocol(ReaderHandle* h, unsigned char* out, int* len) {
    return ReceiveOverUsb(link::First(), h, out, len);
}
int USBRecvProtocol2(ReaderHandle* h, unsigned char* out, int* len) {
    return ReceiveOverUsb(link::Second(), h, out, len);
}

int ComRecvProtocolBybyte(ReaderHandle* h, unsigned char* out, int* len) {
    if (!h || h->devType != 2) return CARDGATE_NO_DEVICE;
    const Variant& variant = link::First();
    const int mode = h->protocolMode;
    std::vector<unsigned char> frame;
    unsigned char byte = 0;
    const int searchLimit = h->baud / 100 * 8;
    for (int looked = 0; looked < searchLimit && frame.empty(); ++looked) {
        const int result = StdCOMReadByte(h, &byte);
        if (result != 0) return result;
        if (byte == variant.start) frame.push_back(byte);
    }
    if (frame.empty()) return CARDGATE_NO_START_BYTE;
    while (frame.size() < size_t(link::HeaderSize(mode)) ||
           int(frame.size()) < link::FrameLength(mode, frame.data())) {
        if (frame.size() >= size_t(2 * link::kMaxPayload + 8)) return CARDGATE_NO_END_BYTE;
        const int result = StdCOMReadByte(h, &byte);
        if (result != 0) return result;
        frame.push_back(byte);
    }
    std::vector<unsigned char> decoded;
    const int checked =
        link::CheckAndDecode(variant, mode, frame.data(), int(frame.size()), decoded);
    return checked != 0 ? checked : DeliverFrame(decoded, out, len);
}

int ManageDevData(void*, int len, const unsigned char* data, int* size, unsigned char* out) {
    return ManageOverGlobalDevice(link::First(), len, data, size, out);
}

int ManageDevData2(void*, int len, const unsigned char* data, int* size, unsigned char* out) {
    return ManageOverGlobalDevice(link::Second(), len, data, size, out);
}
