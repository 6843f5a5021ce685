// The device record's common entries (send, receive, time limits, close) and the library's one
// global device, which the frame protocols and the card API use.
#include <unistd.h>

#include <cstring>

#include "CardgateInternal.h"

namespace cardgate {

ReaderHandle& GlobalDevice() {
    static ReaderHandle device{};
    return device;
}

}  // namespace cardgate

using namespace cardgate;

int StdSetTimeout(ReaderHandle* h, int timeoutMs, int timeout2) {
    if (!h) return CARDGATE_NO_DEVICE;
    h->timeoutMs = timeoutMs;
    h->timeout2 = timeout2;
    return 0;
}

int StdSendData(ReaderHandle* h, const unsigned char* data, int len) {
    if (!h) {
        Writelog_Arg("%s ,devHandle = NULL,ret = [%d]", __func__, CARDGATE_NO_DEVICE);
        return CARDGATE_NO_DEVICE;
    }
    Writelog_Arg("%s start,DevType = [%d][%d][%d]", __func__, h->devType, h->fd, h->usbFd);
    int result = CARDGATE_NO_DEVICE;
    if (h->devType == 2 && h->fd > 0) result = ComSendData(h, data, len);
    else if (h->devType == 1 && h->usbFd > 0) result = LibUSBSendData(h, data, len);
    if (result == 0) Writelog_Hex(data, len);
    Writelog_Arg("%s End,SendLen = [%d],return = [%d]", __func__, len, result);
    return result;
}

int StdRecvData(ReaderHandle* h, unsigned char* data, int* len) {
    if (!h) {
        Writelog_Arg("%s ,devHandle = NULL,ret = [%d]", __func__, CARDGATE_NO_DEVICE);
        return CARDGATE_NO_DEVICE;
    }
    Writelog_Arg("%s start,DevType = [%d][%d][%d]", __func__, h->devType, h->fd, h->usbFd);
    int result = CARDGATE_NO_DEVICE;
    if (h->devType == 2 && h->fd > 0) result = ComRecvData(h, data, len);
    else if (h->devType == 1 && h->usbFd > 0) result = LibUSBRecvData(h, data, len);
    if (result == 0) Writelog_Hex(data, *len);
    Writelog_Arg("%s End,RecvLen = [%d],return = [%d]", __func__, result == 0 ? *len : 0, result);
    return result;
}

int StdCloseDev(ReaderHandle* h) {
    if (!h || h->devType == 0) return CARDGATE_NO_DEVICE;
    Writelog_Arg("%s ,HANDLE = [%d]", __func__, h->devType == 2 ? h->fd : h->usbFd);
    int result = 0;
    if (h->devType == 1) CloseUsbDevice(h);
    else if (h->devType == 2) result = close(h->fd);
    std::memset(h, 0, sizeof *h);
    Writelog_Arg("%s ,return = [%d]", __func__, result);
    return result;
}

namespace {

// Gives a freshly opened record the library's time limits and makes it the global device.
int InstallGlobalDevice(ReaderHandle& record, int openMode, int* size) {
    record.timeoutMs = kDefaultTimeoutMs;
    record.timeout2 = 15;
    record.protocolMode = 0;
    record.openMode = openMode;
    GlobalDevice() = record;
    if (size) *size = int(sizeof(ReaderHandle));
    return 0;
}

}  // namespace

int OpenDevCom(const char* path, int baud, int* size) {
    ReaderHandle record{};
    const int opened = StdOpenCom(path, baud, &record);
    if (opened != 0) return opened;
    return InstallGlobalDevice(record, 0, size);
}

int OpenDevHid(int openMode, int vid, int pid, const char* devpath, int fd, int* size) {
    ReaderHandle record{};
    const int opened = devpath && *devpath ? StdOpenUsbByPath(devpath, fd, &record)
                                           : StdOpenUsbByVidPid(vid, pid, fd, &record);
    if (opened != 0) return opened;
    return InstallGlobalDevice(record, openMode, size);
}

int CloseDevice(void) { return StdCloseDev(&GlobalDevice()); }

int SetDevTimeout(int timeoutMs, int timeout2) {
    return StdSetTimeout(&GlobalDevice(), timeoutMs, timeout2);
}

int SeDevMode(void*, int protocolMode) {
    GlobalDevice().protocolMode = protocolMode;
    return 0;
}

int GetCurDevType(void) { return GlobalDevice().devType; }
