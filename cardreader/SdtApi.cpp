// The SDT card API: opening the reader and the card commands. Each command is one exchange of
// the command frame; its result is the response's SW3, and outputs are written only when that
// is the command's success status and the response holds everything it declares.
#include <cstring>
#include <initializer_list>
#include <vector>

#include "CardgateInternal.h"
#include "CommandFrame.h"

using namespace cardgate;

namespace {

constexpr int kSuccess = 0x90;
constexpr int kCardFound = 0x9F;
constexpr int kNotOpen = 1;
constexpr int kReaderVendor = 0x0400;
constexpr int kReaderProduct = 0xC35A;
constexpr unsigned kMaxText = 512;    // the callers' text buffers
constexpr unsigned kMaxBlock = 2048;  // the callers' photo and fingerprint buffers

struct Response {
    std::vector<unsigned char> bytes;
    int length = 0;
    // Copies `count` bytes from `offset`, when the response holds them before its check byte.
    bool CopyOut(int offset, unsigned count, unsigned char* out) const {
        if (offset + int(count) > length - 1) return false;
        if (count) std::memcpy(out, bytes.data() + offset, count);
        return true;
    }
    unsigned LengthAt(int offset) const {
        return offset + 2 <= length - 1 ? unsigned(bytes[offset]) << 8 | bytes[offset + 1] : 0;
    }
};

bool DeviceOpen() {
    const int type = GlobalDevice().devType;
    return type == 1 || type == 2;
}

int Exchange(std::initializer_list<unsigned char> payload, int capacity, Response& response) {
    if (!DeviceOpen()) return kNotOpen;
    const std::vector<unsigned char> command(payload);
    response.bytes.assign(size_t(capacity), 0);
    response.length = capacity;
    const int result = GAProtocol(nullptr, int(command.size()), command.data(), &response.length,
                                  response.bytes.data());
    if (result != 0) return result;
    return response.bytes[frame::kResultOffset];
}

// A command whose output is `count` bytes from byte 10 on its success status.
int FixedOutputCommand(std::initializer_list<unsigned char> payload, int capacity, int success,
                       unsigned count, unsigned char* out) {
    Response response;
    const int status = Exchange(payload, capacity, response);
    if (status == success && out && !response.CopyOut(frame::kDataOffset, count, out))
        return frame::kTooShort;
    return status;
}

}  // namespace

int SDT_OpenDev(int port, int mode, const char* path, int baudOrFd) {
    if (GetCurDevType() != 0) CloseDevice();
    int size = 0;
    const int opened = port <= 1000 ? OpenDevCom(path, baudOrFd, &size)
                                    : OpenDevHid(mode, kReaderVendor, kReaderProduct,
                                                 path ? path : "", baudOrFd, &size);
    if (opened != 0) return kNotOpen;
    SetDevTimeout(kDefaultTimeoutMs, 20);
    return kSuccess;
}

int _SDT_OpenUsbByFD(int) { return SDT_OpenDev(1001, 0, "", 0); }
int _SDT_OpenUsbByPath(int fd, const char* path) { return SDT_OpenDev(1001, 1, path, fd); }
int _SDT_OpenComBypath(const char* path, int baud) { return SDT_OpenDev(1, 0, path, baud); }

int _SDT_CloseDev(void) {
    if (GetCurDevType() == 0) return kNotOpen;
    return CloseDevice() == 0 ? kSuccess : kNotOpen;
}

int _SDT_ResetSAM(void) {
    Response response;
    return Exchange({0x10, 0xFF}, 16, response);
}

int _SDT_SetMaxRFByte(int n) {
    Response response;
    return Exchange({0x61, 0xFF, (unsigned char)n}, 16, response);
}

int _SDT_GetSAMStatus(void) {
    Response response;
    return Exchange({0x11, 0xFF}, 16, response);
}

int _SDT_GetSAMID(unsigned char* id) {
    return FixedOutputCommand({0x12, 0xFF}, 64, kSuccess, 16, id);
}

int _SDT_GetSAMIDToStr(void) { return DeviceOpen() ? kSuccess : kNotOpen; }

int _SDT_StartFindIDCard(unsigned char* out) {
    return FixedOutputCommand({0x20, 0x01}, 64, kCardFound, 4, out);
}

int _SDT_SelectIDCard(unsigned char* out) {
    return FixedOutputCommand({0x20, 0x02}, 64, kSuccess, 8, out);
}

int _SDT_ReadBaseMsg(unsigned char* text, unsigned int* textLen, unsigned char* photo,
                     unsigned int* photoLen) {
    Response response;
    const int status = Exchange({0x30, 0x01}, 2048, response);
    if (status != kSuccess) return status;
    const unsigned textCount = response.LengthAt(10);
    const unsigned photoCount = response.LengthAt(12);
    if (textCount > kMaxText || photoCount > kMaxBlock ||
        14 + int(textCount + photoCount) > response.length - 1)
        return frame::kTooShort;
    if (text) response.CopyOut(14, textCount, text);
    if (photo) response.CopyOut(14 + int(textCount), photoCount, photo);
    if (textLen) *textLen = textCount;
    if (photoLen) *photoLen = photoCount;
    return status;
}

int _SDT_ReadBaseFPMsg(unsigned char* text, unsigned int* textLen, unsigned char* photo,
                       unsigned int* photoLen, unsigned char* fp, unsigned int* fpLen) {
    Response response;
    const int status = Exchange({0x30, 0x10}, 3072, response);
    if (status != kSuccess) return status;
    const unsigned textCount = response.LengthAt(10);
    const unsigned photoCount = response.LengthAt(12);
    const unsigned fpCount = response.LengthAt(14);
    if (textCount > kMaxText || photoCount > kMaxBlock || fpCount > kMaxBlock ||
        16 + int(textCount + photoCount + fpCount) > response.length - 1)
        return frame::kTooShort;
    if (text) response.CopyOut(16, textCount, text);
    if (photo) response.CopyOut(16 + int(textCount), photoCount, photo);
    if (fp) response.CopyOut(16 + int(textCount + photoCount), fpCount, fp);
    if (textLen) *textLen = textCount;
    if (photoLen) *photoLen = photoCount;
    if (fpLen) *fpLen = fpCount;
    return status;
}

int _SDT_ReadNewAppMsg(unsigned char* out, int* len) {
    const int status = FixedOutputCommand({0x30, 0x03}, 2368, kSuccess, 70, out);
    if (status == kSuccess && len) *len = 70;
    return status;
}

int _SDT_ReadBaseMsgToFile(void) { return kSuccess; }
int _SDT_ReadBaseFPMsgToFile(void) { return kSuccess; }
