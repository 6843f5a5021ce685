// The serial transport on a pseudo-terminal: the settings it applies, and how a receive decides
// that a response is complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CardgateInternal.h"
#include "CardgateTesting.h"
#include "LinkFrame.h"

namespace cardgate::testing {
namespace {

// A pseudo-terminal whose device side the library opens; the test plays the reader on the
// other side.
class ReaderSerialLine : public ::testing::Test {
protected:
    void SetUp() override {
        m_peer = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_peer, 0);
        ASSERT_EQ(grantpt(m_peer), 0);
        ASSERT_EQ(unlockpt(m_peer), 0);
        m_device = ptsname(m_peer);
        ASSERT_EQ(StdOpenCom(m_device.c_str(), 115200, &m_handle), 0);
        m_handle.timeoutMs = 2000;
    }
    void TearDown() override {
        StdCloseDev(&m_handle);
        close(m_peer);
        SerialReceivePacing() = s_production;
    }

    void PeerWrites(const std::string& bytes) const {
        ASSERT_EQ(write(m_peer, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::string PeerReads(size_t count) const {
        std::string bytes;
        while (bytes.size() < count) {
            pollfd watched{m_peer, POLLIN, 0};
            if (poll(&watched, 1, 2000) != 1) break;
            char buffer[8192];
            const ssize_t got = read(m_peer, buffer, sizeof buffer);
            if (got <= 0) break;
            bytes.append(buffer, size_t(got));
        }
        return bytes;
    }
    std::string Receive(int* result, int capacity = 0) {
        unsigned char data[kReceiveBufferSize];
        int length = capacity;
        *result = ComRecvData(&m_handle, data, &length);
        return *result == 0 ? std::string(reinterpret_cast<char*>(data), size_t(length)) : "";
    }

    static inline const ReceivePacing s_production = SerialReceivePacing();
    int m_peer = -1;
    std::string m_device;
    ReaderHandle m_handle{};
};

TEST_F(ReaderSerialLine, OpenAppliesRawEightNoneOne) {
    EXPECT_EQ(m_handle.devType, 2);
    EXPECT_GT(m_handle.fd, 0);
    EXPECT_EQ(std::string(m_handle.path), m_device);
    termios applied{};
    ASSERT_EQ(tcgetattr(m_handle.fd, &applied), 0);
    EXPECT_EQ(m_handle.termios.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(m_handle.termios.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
    EXPECT_TRUE(applied.c_cflag & CLOCAL && applied.c_cflag & CREAD);
    EXPECT_EQ(applied.c_iflag, tcflag_t(IGNPAR | INPCK));
    EXPECT_EQ(applied.c_oflag & OPOST, tcflag_t(0));
    EXPECT_EQ(applied.c_lflag, tcflag_t(0));
    EXPECT_EQ(applied.c_cc[VMIN], 1);
    EXPECT_EQ(applied.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&applied), speed_t(B115200));
}

TEST_F(ReaderSerialLine, SpeedsDataBitsParityAndStopBits) {
    struct Case {
        int baud, dataBits, parity, stopBits;
        speed_t speed;
        tcflag_t size, parityFlags;
        bool twoStopBits;
    } cases[] = {
        {4800, 8, 'N', 1, B115200, CS8, 0, false},  // rates outside the four give 115200
        {9600, 7, 'E', 1, B9600, CS7, PARENB, false},
        {19200, 8, 'o', 2, B19200, CS8, PARENB | PARODD, true},
        {57600, 8, 'O', 1, B57600, CS8, PARENB | PARODD, false},
        {38400, 6, 'e', 1, B38400, CS5, PARENB, false},
        {230400, 8, 'n', 2, B115200, CS8, 0, true},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(SetComParam(m_handle.fd, c.baud, c.dataBits, c.parity, c.stopBits, &m_handle), 0);
        termios applied{};
        ASSERT_EQ(tcgetattr(m_handle.fd, &applied), 0);
        EXPECT_EQ(cfgetospeed(&applied), c.speed) << c.baud;
        EXPECT_EQ(cfgetispeed(&applied), c.speed) << c.baud;
        // A pseudo-terminal keeps its own character size and parity, so these are read from
        // the settings the library applied and keeps in the record.
        const tcflag_t flags = m_handle.termios.c_cflag;
        EXPECT_EQ(flags & CSIZE, c.size) << c.dataBits;
        EXPECT_EQ(flags & (PARENB | PARODD), c.parityFlags) << char(c.parity);
        EXPECT_EQ(bool(flags & CSTOPB), c.twoStopBits) << c.stopBits;
    }
}

TEST_F(ReaderSerialLine, ParitySClearsParityAndTheSecondStopBit) {
    ASSERT_EQ(SetComParam(m_handle.fd, 9600, 8, 'E', 2, &m_handle), 0);
    ASSERT_TRUE(m_handle.termios.c_cflag & CSTOPB);
    // A stop-bit count other than 1 or 2 leaves CSTOPB as the parity step made it.
    ASSERT_EQ(SetComParam(m_handle.fd, 9600, 8, 'S', 0, &m_handle), 0);
    EXPECT_EQ(m_handle.termios.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
}

TEST_F(ReaderSerialLine, OpeningAMissingPortFails) {
    ReaderHandle other{};
    EXPECT_EQ(StdOpenCom("/nonexistent/ttyS9", 115200, &other), CARDGATE_NO_DEVICE);
    EXPECT_EQ(other.devType, 0);
}

// The pauses a receive makes, recorded instead of slept; the silence pause can deliver a
// second burst, standing for bytes that arrive while the receiver waits.
std::vector<int> g_pauses;
std::string g_lateBurst;
int g_peerForLateBurst = -1;

void RecordSettle(int, int ms) { g_pauses.push_back(ms); }
void RecordSilence(int fd, int ms) {
    g_pauses.push_back(ms);
    if (g_lateBurst.empty()) return;
    (void)!write(g_peerForLateBurst, g_lateBurst.data(), g_lateBurst.size());
    g_lateBurst.clear();
    pollfd arrived{fd, POLLIN, 0};  // the terminal passes the bytes on asynchronously
    poll(&arrived, 1, 5000);
}

TEST_F(ReaderSerialLine, ABurstThenSilenceEndsAfterOneSilencePause) {
    g_pauses.clear();
    SerialReceivePacing() = {RecordSettle, RecordSilence};
    PeerWrites("\xAA\xAA\xAA\x96\x69");
    int result = 0;
    EXPECT_EQ(Receive(&result), "\xAA\xAA\xAA\x96\x69");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_pauses, (std::vector<int>{kSettleMs, kSilenceMs}));
}

TEST_F(ReaderSerialLine, BytesArrivingDuringTheSilencePauseJoinTheResponse) {
    g_pauses.clear();
    g_lateBurst = "DEF";
    g_peerForLateBurst = m_peer;
    SerialReceivePacing() = {RecordSettle, RecordSilence};
    PeerWrites("ABC");
    int result = 0;
    EXPECT_EQ(Receive(&result), "ABCDEF");
    EXPECT_EQ(g_pauses, (std::vector<int>{kSettleMs, kSilenceMs, kSettleMs, kSilenceMs}));
}

TEST_F(ReaderSerialLine, ReceiveKeepsWithinTheCallersCapacity) {
    PeerWrites("0123456789");
    int result = 0;
    EXPECT_EQ(Receive(&result, 4), "0123");
    EXPECT_EQ(result, 0);
}

TEST_F(ReaderSerialLine, NothingWithinTheLimit) {
    m_handle.timeoutMs = 20;
    int result = 0;
    Receive(&result);
    EXPECT_EQ(result, CARDGATE_NOTHING_RECEIVED);
    unsigned char byte = 0;
    EXPECT_EQ(StdCOMReadByte(&m_handle, &byte), CARDGATE_NOTHING_RECEIVED);
}

TEST_F(ReaderSerialLine, SendsLongBlocksWholeAndReadsSingleBytes) {
    std::string block(4097, 'x');
    block.back() = 'y';
    ASSERT_EQ(StdSendData(&m_handle, reinterpret_cast<const unsigned char*>(block.data()),
                          int(block.size())),
              0);
    EXPECT_EQ(PeerReads(block.size()), block);

    PeerWrites("Q");
    unsigned char byte = 0;
    EXPECT_EQ(StdCOMReadByte(&m_handle, &byte), 0);
    EXPECT_EQ(byte, 'Q');
}

TEST_F(ReaderSerialLine, LinkFramesRoundTripOverTheLine) {
    const std::vector<unsigned char> payload = Bytes({0x00, 0x00, 0x12, 0x34});
    for (int mode : {0, 1}) {
        m_handle.protocolMode = mode;
        std::vector<unsigned char> data = payload;
        ASSERT_EQ(ComSendProtocol(&m_handle, data.data(), int(data.size())), 0);
        const std::string sent = PeerReads(mode == 0 ? 9 : 16);
        PeerWrites("\x11\x22" + sent);  // noise before the start byte is skipped
        unsigned char frame[64] = {};
        int length = sizeof frame;
        ASSERT_EQ(ComRecvProtocol(&m_handle, frame, &length), 0) << mode;
        ASSERT_GE(length, 7);
        EXPECT_EQ(std::vector<unsigned char>(frame + 3, frame + 7), payload) << mode;
    }
    std::vector<unsigned char> one = Bytes({0x01});
    EXPECT_EQ(ComSendProtocol(&m_handle, one.data(), 1), CARDGATE_SEND_LENGTH);
}

TEST_F(ReaderSerialLine, LinkFramesReadByteByByte) {
    m_handle.protocolMode = 1;
    const std::vector<unsigned char> payload = Bytes({0x00, 0x00, 0x7F});
    const std::vector<unsigned char> frame = link::Assemble(link::First(), 1, payload.data(), 3);
    PeerWrites("zz" + std::string(frame.begin(), frame.end()));
    unsigned char decoded[64] = {};
    int length = sizeof decoded;
    ASSERT_EQ(ComRecvProtocolBybyte(&m_handle, decoded, &length), 0);
    EXPECT_EQ(std::vector<unsigned char>(decoded + 3, decoded + 6), payload);
}

}  // namespace
}  // namespace cardgate::testing
