// Wire bytes of the reader's command frame and of the link framing, as tables of byte strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CardgateTesting.h"
#include "CommandFrame.h"
#include "LinkFrame.h"

namespace cardgate::testing {
namespace {

const auto* const kQuietLog = ::testing::AddGlobalTestEnvironment(new QuietLog);

using Frame = std::vector<unsigned char>;

TEST(ReaderCommandFrame, BuildsPreambleLengthPayloadAndXor) {
    struct Case {
        const char* what;
        Frame payload;
        Frame frame;
    } cases[] = {
        // Command and parameter only: 10 bytes, length 00 03, check 00^03^20^01.
        {"find card", Bytes({0x20, 0x01}),
         Bytes({0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22})},
        {"read base message", Bytes({0x30, 0x01}),
         Bytes({0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32})},
        {"largest radio frame 0x50", Bytes({0x61, 0xFF, 0x50}),
         Bytes({0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x04, 0x61, 0xFF, 0x50, 0xCA})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(frame::BuildFrame(c.payload.data(), c.payload.size()), c.frame) << c.what;
    }
    EXPECT_EQ(cr_bcc(nullptr, 0), 0);
}

TEST(ReaderCommandFrame, JudgesResponsesShortThenCheckThenPreambleThenCapacity) {
    const Frame good = Bytes({0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x04, 0x00, 0x00, 0x9F, 0x9B});
    Frame badCheck = good;
    badCheck[10] ^= 0x01;
    Frame badPreamble = good;
    badPreamble[0] = 0xAB;  // the check byte covers bytes 5 on, so it still matches
    Frame both = badPreamble;
    both[10] ^= 0x01;
    struct Case {
        const char* what;
        Frame response;
        int capacity;
        int result;
    } cases[] = {
        {"whole and within capacity", good, 64, frame::kFrameOk},
        {"seven bytes", Frame(good.begin(), good.begin() + 7), 64, frame::kTooShort},
        {"wrong check byte", badCheck, 64, frame::kBadCheck},
        {"wrong first preamble byte only", badPreamble, 64, frame::kBadPreamble},
        {"wrong preamble and check byte", both, 64, frame::kBadCheck},
        {"longer than the capacity", good, 10, frame::kTooLong},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(frame::CheckResponse(c.response.data(), int(c.response.size()), c.capacity),
                  c.result)
            << c.what;
    }
}

TEST(ReaderLinkFrame, CheckBytes) {
    const Frame oneTwo = Bytes({0x01, 0x02});
    EXPECT_EQ(BCC(oneTwo.data(), 2), 0xEB);  // 03 | T[3]
    EXPECT_EQ(BCC(nullptr, 0), 0x67);
    EXPECT_EQ(MTBCC(oneTwo.data(), 2), 0x03);
    const Frame high = Bytes({0xF0});
    EXPECT_EQ(BCC(high.data(), 1), 0xF0 | 0x67);
}

TEST(ReaderLinkFrame, AssemblesBothVariantsInBothEncodings) {
    struct Case {
        const char* what;
        int variant;
        int mode;
        Frame payload;
        std::string frame;
    } cases[] = {
        {"variant 1 bytes", 1, 0, Bytes({0x01, 0x02}),
         std::string("S\x00\x02\x01\x02\xEB"
                     "K",
                     7)},
        {"variant 2 bytes", 2, 0, Bytes({0x01, 0x02}),
         std::string("\x02\x00\x02\x01\x02\x03\x03", 7)},
        {"variant 1 ASCII", 1, 1, Bytes({0x01, 0x2F}), "S0002012?7>K"},
        {"variant 1 ASCII, empty payload", 1, 1, Frame(), "S000067K"},
        {"variant 2 ASCII, empty payload", 2, 1, Frame(),
         "\x02"
         "000000\x03"},
    };
    for (const Case& c : cases) {
        unsigned char built[64] = {};
        int length = 0;
        const int result = (c.variant == 1 ? AssemblyProtocol : AssemblyProtocol2)(
            c.mode, c.payload.data(), int(c.payload.size()), built, &length);
        EXPECT_EQ(result, 0) << c.what;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(built), size_t(length)), c.frame) << c.what;
    }
}

TEST(ReaderLinkFrame, AsciiDecodesInPlaceToTheByteLayout) {
    unsigned char frame[] = "S0002012?7>K";  // payload 01 2F, check 2E | T[E] = 0x7E
    int length = 12;
    EXPECT_EQ(AnalysisProtocol(1, frame, &length), BCC(Bytes({0x01, 0x2F}).data(), 2));
    EXPECT_EQ(length, 6);
    EXPECT_EQ(Frame(frame, frame + 6), Bytes({'S', 0x00, 0x02, 0x01, 0x2F, 0x7E}));
    EXPECT_EQ(ByteToLength(reinterpret_cast<const unsigned char*>("0?10")), 0x0F10);
}

TEST(ReaderLinkFrame, ReceivedFramesAreCheckedForEndAndCheckByte) {
    const link::Variant& first = link::First();
    const Frame good = link::Assemble(first, 0, Bytes({0x00, 0x00, 0x41}).data(), 3);
    Frame noEnd = good;
    noEnd[7] = 'X';  // S 00 03, three payload bytes, check byte, K
    Frame badCheck = good;
    badCheck[6] ^= 0x10;
    Frame hugeLength = good;
    hugeLength[1] = 0x7F;
    const Frame ascii = link::Assemble(first, 1, Bytes({0x00, 0x00, 0x41}).data(), 3);
    Frame asciiBad = ascii;
    asciiBad[8] = '9';  // a payload nibble changed
    struct Case {
        const char* what;
        int mode;
        Frame frame;
        int result;
    } cases[] = {
        {"byte frame", 0, good, 0},
        {"end byte replaced", 0, noEnd, CARDGATE_NO_END_BYTE},
        {"check byte changed", 0, badCheck, CARDGATE_CHECKSUM},
        {"length beyond the bytes", 0, hugeLength, CARDGATE_NO_END_BYTE},
        {"ASCII frame", 1, ascii, 0},
        {"ASCII payload changed", 1, asciiBad, CARDGATE_CHECKSUM},
        {"header only", 0, Frame(good.begin(), good.begin() + 2), CARDGATE_NO_END_BYTE},
    };
    for (const Case& c : cases) {
        Frame decoded;
        EXPECT_EQ(link::CheckAndDecode(first, c.mode, c.frame.data(), int(c.frame.size()), decoded),
                  c.result)
            << c.what;
        if (c.result == 0) {
            EXPECT_EQ(Frame(decoded.begin() + 3, decoded.begin() + 6), Bytes({0x00, 0x00, 0x41}))
                << c.what;
        }
    }
}

}  // namespace
}  // namespace cardgate::testing
