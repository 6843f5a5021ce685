// One command exchange with the reader over the global device.
#include <cstring>
#include <vector>

#include "CardgateInternal.h"
#include "CommandFrame.h"

using namespace cardgate;

namespace {
constexpr int kResponseBufferSize = 5120;
}

unsigned char cr_bcc(const unsigned char* data, int len) {
    return data && len > 0 ? frame::XorOf(data, size_t(len)) : 0;
}

int GAProtocol(void*, int n, const unsigned char* payload, int* size, unsigned char* out) {
    ReaderHandle& device = GlobalDevice();
    const int capacity = size ? *size : 0;
    if (size) *size = 0;
    if (device.devType != 1 && device.devType != 2) return CARDGATE_NO_DEVICE;
    if (n < 0 || n > frame::kMaxCommandPayload || (n > 0 && !payload) || !size || !out)
        return CARDGATE_BAD_ARGUMENT;
    const std::vector<unsigned char> command = frame::BuildFrame(payload, size_t(n));
    std::vector<unsigned char> response(kResponseBufferSize, 0);
    int received = 0;
    if (StdSendData(&device, command.data(), int(command.size())) == 0) {
        received = kResponseBufferSize;
        if (StdRecvData(&device, response.data(), &received) != 0) received = 0;
    }
    const int judged = frame::CheckResponse(response.data(), received, capacity);
    if (judged != frame::kFrameOk) return judged;
    std::memcpy(out, response.data(), size_t(received));
    *size = received;
    return 0;
}
