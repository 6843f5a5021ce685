// The serial half of the transport: termios settings, opening a port, and moving byte blocks
// with time limits. A response is taken to be complete when the line has been silent for one
// pause after a burst, since the reader's frames carry no delimiter that this layer knows.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "CardgateInternal.h"

namespace cardgate {
namespace {

using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point start) {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void SleepFor(int, int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void PollReadable(int fd, int ms) { CheckFD(fd, 1, ms); }

speed_t LineSpeed(int baud) {
    switch (baud) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        default: return B115200;
    }
}

void ApplyParity(termios& settings, int parity) {
    switch (parity) {
        case 'E':
        case 'e':
            settings.c_cflag |= PARENB;
            settings.c_cflag &= ~PARODD;
            break;
        case 'N':
        case 'n': settings.c_cflag &= ~PARENB; break;
        case 'O':
        case 'o': settings.c_cflag |= PARENB | PARODD; break;
        case 'S':
        case 's': settings.c_cflag &= ~(PARENB | CSTOPB); break;
        default: break;
    }
}

}  // namespace

ReceivePacing& SerialReceivePacing() {
    static ReceivePacing pacing{SleepFor, PollReadable};
    return pacing;
}

}  // namespace cardgate

using namespace cardgate;

int CheckFD(int fd, int direction, int ms) {
    // poll rather than select: a host with many connections may hand us a descriptor above
    // FD_SETSIZE, which select cannot watch.
    pollfd watched{fd, short(direction == 1 ? POLLIN : POLLOUT), 0};
    int ready;
    do {
        ready = poll(&watched, 1, ms < 0 ? 0 : ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (watched.revents & watched.events) ? 0 : -1;
}

int SetComParam(int fd, int baud, int dataBits, int parity, int stopBits, ReaderHandle* h) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        Writelog_Arg("%s ,tcgetattr fd = [%d]", __func__, fd);
        std::memset(&settings, 0, sizeof settings);
    }
    Writelog_Arg(
        "%s start,tcsetattr  termios.c_cflag= [%d],termios.c_iflag= [%d],"
        "termios.c_oflag= [%d],termios.c_lflag= [%d],termios.c_line = [%d]",
        __func__, int(settings.c_cflag), int(settings.c_iflag), int(settings.c_oflag),
        int(settings.c_lflag), int(settings.c_line));
    settings.c_oflag &= ~OPOST;
    settings.c_lflag = 0;
    settings.c_cflag &= ~CSIZE;
    settings.c_cflag |= dataBits == 7 ? CS7 : dataBits == 8 ? CS8 : CS5;
    settings.c_cflag |= CLOCAL | CREAD;
    ApplyParity(settings, parity);
    settings.c_iflag = IGNPAR | INPCK;
    cfsetispeed(&settings, LineSpeed(baud));
    cfsetospeed(&settings, LineSpeed(baud));
    if (stopBits == 1) settings.c_cflag &= ~CSTOPB;
    else if (stopBits == 2) settings.c_cflag |= CSTOPB;
    settings.c_cc[VTIME] = 0;
    settings.c_cc[VMIN] = 1;
    tcflush(fd, TCIFLUSH);
    tcflush(fd, TCOFLUSH);
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        Writelog_Arg("%s ,tcsetattr fd = [%d]", __func__, fd);
        return CARDGATE_SETTINGS_FAILED;
    }
    Writelog_Arg(
        "%s End,tcsetattr  termios.c_cflag= [%d],termios.c_iflag= [%d],"
        "termios.c_oflag= [%d],termios.c_lflag= [%d]",
        __func__, int(settings.c_cflag), int(settings.c_iflag), int(settings.c_oflag),
        int(settings.c_lflag));
    if (h) h->termios = settings;
    return 0;
}

int OpenComByPath(ReaderHandle* h) {
    if (!h) return CARDGATE_NO_DEVICE;
    Writelog_Arg("%s ,devpath = [%s],baud = [%d]", __func__, h->path, h->baud);
    const int fd = open(h->path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        Writelog_Arg("%s ,open fd = [%d][%s]", __func__, fd, strerror(errno));
        return CARDGATE_NO_DEVICE;
    }
    const int applied = SetComParam(fd, h->baud, 8, 'N', 1, h);
    if (applied != 0) {
        Writelog_Arg("%s ,COMInit ret = [%d]", __func__, applied);
        close(fd);
        return applied;
    }
    h->fd = fd;
    h->devType = 2;
    return fd;
}

int StdOpenCom(const char* path, int baud, ReaderHandle* out) {
    if (!path || !out) return CARDGATE_BAD_ARGUMENT;
    Writelog_Arg("%s start,PATH = [%s],baud = [%d]", __func__, path, baud);
    ReaderHandle record{};
    std::snprintf(record.path, sizeof record.path, "%s", path);
    record.baud = baud;
    const int fd = OpenComByPath(&record);
    if (fd < 0) return fd;
    *out = record;
    Writelog_Arg("%s End,HANDLE = [%d]", __func__, fd);
    return 0;
}

int ComSendData(ReaderHandle* h, const unsigned char* data, int len) {
    if (!h) return CARDGATE_NO_DEVICE;
    tcflush(h->fd, TCIOFLUSH);
    constexpr int kBlock = 4096;
    for (int sent = 0; sent < len;) {
        const int block = len - sent < kBlock ? len - sent : kBlock;
        const ssize_t written = write(h->fd, data + sent, size_t(block));
        if (written <= 0) {
            Writelog_Arg("%s ,FD = [%d],write = [%d][%d][error = %d(%s)]", __func__, h->fd,
                         int(written), block, errno, strerror(errno));
            return CARDGATE_SEND_FAILED;
        }
        sent += int(written);
    }
    return 0;
}

int ComRecvData(ReaderHandle* h, unsigned char* data, int* len) {
    if (!h || !data || !len) return CARDGATE_NO_DEVICE;
    const int capacity = ReceiveCapacity(len);
    *len = 0;
    Writelog_Arg("%s ,FD = [%d],timeout = [%d]", __func__, h->fd, h->timeoutMs);
    if (CheckFD(h->fd, 1, h->timeoutMs) != 0) {
        Writelog_Arg("%s ,CheckFD = [%d][%d]", __func__, h->fd, h->timeoutMs);
        return CARDGATE_NOTHING_RECEIVED;
    }
    const ReceivePacing& pacing = SerialReceivePacing();
    std::vector<unsigned char> buffer(kReceiveBufferSize);
    int received = 0;
    bool previousEmpty = false;
    const auto start = Clock::now();
    while (received < kReceiveBufferSize && ElapsedMs(start) < h->timeoutMs) {
        int waiting = 0;
        if (ioctl(h->fd, FIONREAD, &waiting) != 0) {
            Writelog_Arg("%s ,ioctl = [%d][%d]", __func__, h->fd, errno);
            return CARDGATE_RECEIVE_FAILED;
        }
        if (waiting <= 0) {
            if (previousEmpty) break;
            previousEmpty = true;
            pacing.await_silence(h->fd, kSilenceMs);
            continue;
        }
        previousEmpty = false;
        const int room = kReceiveBufferSize - received;
        const ssize_t got =
            read(h->fd, buffer.data() + received, size_t(waiting < room ? waiting : room));
        if (got < 0) {
            Writelog_Arg("%s ,read = [%d][error = %d(%s)]", __func__, int(got), errno,
                         strerror(errno));
            return CARDGATE_RECEIVE_FAILED;
        }
        received += int(got);
        pacing.settle(h->fd, kSettleMs);
    }
    Writelog_Arg("%s ,readTime = [%d][%d]", __func__, ElapsedMs(start), received);
    if (received == 0) {
        Writelog_Arg("%s ,RcLen = [%d][%d]", __func__, received, h->timeoutMs);
        return CARDGATE_NOTHING_RECEIVED;
    }
    const int kept = received < capacity ? received : capacity;
    std::memcpy(data, buffer.data(), size_t(kept));
    *len = kept;
    return 0;
}

int StdCOMReadByte(ReaderHandle* h, unsigned char* out) {
    if (!h || !out || h->devType != 2) return CARDGATE_NO_DEVICE;
    Writelog_Arg("%s start,DevType = [%d][%d][%d]", __func__, h->devType, h->fd, h->usbFd);
    const auto start = Clock::now();
    for (;;) {
        const int left = h->timeoutMs - ElapsedMs(start);
        if (left <= 0) return CARDGATE_NOTHING_RECEIVED;
        // Waiting on the descriptor for the rest of the limit stands for retrying every 2 ms;
        // it fails when the limit passes or the line hangs up.
        if (CheckFD(h->fd, 1, left) != 0) return CARDGATE_NOTHING_RECEIVED;
        const ssize_t got = read(h->fd, out, 1);
        if (got == 1) return 0;
        if (got == 0 || (errno != EINTR && errno != EAGAIN)) return CARDGATE_NOTHING_RECEIVED;
    }
}
