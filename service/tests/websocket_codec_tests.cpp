// Wire-level tests of the WebSocket codec: frames, handshake texts, Base64 and the per-connection
// message reader. Byte strings are written out so that a change on the wire shows here.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ws_codec.h"
#include "ws_message_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A client frame written by hand, so that FIN and the key are under the test's control.
Bytes clientFrame(bool fin, uint8_t opcode, const std::string& payload,
                  const uint8_t key[4] = nullptr) {
    Bytes frame{uint8_t((fin ? 0x80 : 0) | opcode)};
    const uint8_t maskBit = key ? 0x80 : 0;
    if (payload.size() <= 125) {
        frame.push_back(uint8_t(maskBit | payload.size()));
    } else {
        frame.push_back(maskBit | 126);
        frame.push_back(uint8_t(payload.size() >> 8));
        frame.push_back(uint8_t(payload.size()));
    }
    if (key) frame.insert(frame.end(), key, key + 4);
    for (size_t index = 0; index < payload.size(); ++index) {
        frame.push_back(uint8_t(payload[index]) ^ (key ? key[index % 4] : 0));
    }
    return frame;
}

const uint8_t kKey[4] = {0x01, 0x02, 0x03, 0x04};

}  // namespace

TEST(websocketCodec, HeaderLengthFollowsPayloadLength) {
    struct Case {
        unsigned length;
        Bytes header;
    };
    const Case cases[] = {
        {0, {0x81, 0x00}},
        {125, {0x81, 0x7D}},
        {126, {0x81, 0x7E, 0x00, 0x7E}},
        {65535, {0x81, 0x7E, 0xFF, 0xFF}},
        {65536, {0x81, 0x7F, 0, 0, 0, 0, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.length);
        const Bytes payload(entry.length, 'x');
        Bytes frame(entry.length + kWsMaxHeader);
        const int frameLength = ws_enPackage(payload.data(), entry.length, frame.data(),
                                             unsigned(frame.size()), false, WsData_Text);
        ASSERT_EQ(frameLength, int(entry.header.size() + entry.length));
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + long(entry.header.size())), entry.header);

        unsigned payloadLength = 0, headerLength = 0;
        Ws_DataType type = WsData_None;
        const int result =
            ws_dePackage(frame.data(), unsigned(frameLength), &payloadLength, &headerLength, &type);
        EXPECT_EQ(result, entry.length == 0 ? 1 : int(entry.length));
        EXPECT_EQ(headerLength, entry.header.size());
        EXPECT_EQ(type, WsData_Text);
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + entry.length), payload);
        EXPECT_EQ(frame[entry.length], 0);
    }
}

TEST(websocketCodec, TypeMapsToFirstByteAndBack) {
    const std::pair<Ws_DataType, uint8_t> table[] = {
        {WsData_Continuation, 0x80}, {WsData_Text, 0x81}, {WsData_Binary, 0x82},
        {WsData_Close, 0x88},        {WsData_Ping, 0x89}, {WsData_Pong, 0x8A},
    };
    for (const auto& [type, firstByte] : table) {
        uint8_t frame[16];
        ASSERT_EQ(ws_enPackage(reinterpret_cast<const uint8_t*>("ab"), 2, frame, sizeof frame,
                               false, type),
                  4);
        EXPECT_EQ(frame[0], firstByte);
        unsigned payloadLength, headerLength;
        Ws_DataType decoded = WsData_None;
        EXPECT_EQ(ws_dePackage(frame, 4, &payloadLength, &headerLength, &decoded), 2);
        EXPECT_EQ(decoded, type);
    }
}

TEST(websocketCodec, EncodingRefusesWhatItCannotBuild) {
    uint8_t frame[16];
    const auto* payload = reinterpret_cast<const uint8_t*>("abcdefgh");
    EXPECT_EQ(ws_enPackage(payload, 2, frame, sizeof frame, false, WsData_None), -1);
    EXPECT_EQ(ws_enPackage(payload, 2, frame, sizeof frame, false, Ws_DataType(7)), -1);
    EXPECT_EQ(ws_enPackage(payload, 0, frame, 1, false, WsData_Text), -1);
    EXPECT_EQ(ws_enPackage(payload, 8, frame, 9, false, WsData_Text), -1);  // needs 10
    EXPECT_EQ(ws_enPackage(payload, 8, frame, 13, true, WsData_Text), -1);  // needs 14
    // Exactly enough room: no terminator is written past the end.
    frame[14] = 0x55;
    EXPECT_EQ(ws_enPackage(payload, 8, frame, 14, true, WsData_Text), 14);
    EXPECT_EQ(frame[14], 0x55);
}

TEST(websocketCodec, MaskedClientFrameDecodes) {
    Bytes frame = {0x81, 0x83, 0x01, 0x02, 0x03, 0x04, 'a' ^ 1, 'b' ^ 2, 'c' ^ 3};
    unsigned payloadLength = 0, headerLength = 0;
    Ws_DataType type = WsData_None;
    EXPECT_EQ(
        ws_dePackage(frame.data(), unsigned(frame.size()), &payloadLength, &headerLength, &type),
        3);
    EXPECT_EQ(type, WsData_Text);
    EXPECT_EQ(payloadLength, 3u);
    EXPECT_EQ(headerLength, 6u);
    EXPECT_STREQ(reinterpret_cast<char*>(frame.data()), "abc");
}

TEST(websocketCodec, MaskedRoundTripAcrossWordBoundaries) {
    for (unsigned length : {1u, 7u, 8u, 9u, 126u, 1003u}) {
        SCOPED_TRACE(length);
        Bytes payload(length);
        for (unsigned index = 0; index < length; ++index) payload[index] = uint8_t(index * 7 + 3);
        Bytes frame(length + kWsMaxHeader);
        const int frameLength = ws_enPackage(payload.data(), length, frame.data(),
                                             unsigned(frame.size()), true, WsData_Binary);
        ASSERT_GT(frameLength, int(length));
        EXPECT_EQ(frame[1] & 0x80, 0x80);
        unsigned payloadLength, headerLength;
        Ws_DataType type;
        EXPECT_EQ(
            ws_dePackage(frame.data(), unsigned(frameLength), &payloadLength, &headerLength, &type),
            int(length));
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + length), payload);
    }
}

TEST(websocketCodec, DecodingIncompleteOrForeignBytes) {
    struct Case {
        const char* what;
        Bytes bytes;
        int result;
    };
    const Case cases[] = {
        {"one byte", {0x81}, 0},
        {"FIN clear", {0x01, 0x03, 'a', 'b', 'c'}, 0},
        {"unknown opcode", {0x83, 0x00}, 0},
        {"raw text", bytesOf("GET / HTTP/1.1\r\n"), 0},
        {"16-bit length cut", {0x81, 0x7E, 0x00}, 0},
        {"64-bit length above 32 bits", {0x82, 0x7F, 0, 0, 0, 1, 0, 0, 0, 0}, 0},
        {"payload missing 2", {0x81, 0x05, 'a', 'b', 'c'}, -2},
        {"mask key cut", {0x81, 0x83, 0x01}, -6},
        {"empty text", {0x81, 0x00}, 1},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.what);
        Bytes buffer = entry.bytes;
        buffer.push_back(0x55);  // room for the terminator
        unsigned payloadLength = 0, headerLength = 0;
        Ws_DataType type = WsData_None;
        EXPECT_EQ(ws_dePackage(buffer.data(), unsigned(entry.bytes.size()), &payloadLength,
                               &headerLength, &type),
                  entry.result);
    }
}

TEST(websocketCodec, AcceptKeyOfTheRfcSample) {
    const char key[] = "dGhlIHNhbXBsZSBub25jZQ==";
    char accept[32];
    EXPECT_EQ(ws_buildRespondShakeKey(key, unsigned(strlen(key)), accept), 28);
    EXPECT_STREQ(accept, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(ws_matchShakeKey(key, unsigned(strlen(key)), accept, 28), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ws_matchShakeKey(key, unsigned(strlen(key)), "s3pPLMBiTxaQ9kYGzzhZRbK+xOX=", 28), -1);
    EXPECT_EQ(ws_matchShakeKey(key, unsigned(strlen(key)), accept, 27), -1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("strcmp err, clientKey["), std::string::npos);
    EXPECT_NE(printed.find("len err, clientKey[28] != acceptKey[27]\r\n"), std::string::npos);
}

TEST(websocketCodec, ClientKeysAreFreshBase64) {
    char first[32], second[32];
    EXPECT_EQ(ws_buildShakeKey(first), 24);
    EXPECT_EQ(ws_buildShakeKey(second), 24);
    uint8_t decoded[24];
    EXPECT_EQ(ws_base64_decode(first, decoded), 16);
    // Made in the same second, they still differ.
    EXPECT_STRNE(first, second);
}

TEST(websocketCodec, HandshakeAnswerIsByteExact) {
    const std::string request =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:9000\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    const std::string answer = ws_handshakeAnswer(request, "/");
    const std::string fixedPart =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
        "Server: Microsoft-HTTPAPI/2.0\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\nDate: ";
    ASSERT_EQ(answer.substr(0, fixedPart.size()), fixedPart);
    // "Date: Wed, 09 Dec 2026 23:20:38 UTC" and the blank line.
    struct tm date {};
    const char* rest = strptime(answer.c_str() + fixedPart.size(), "%a, %d %b %Y %T ", &date);
    ASSERT_NE(rest, nullptr) << answer;
    const std::string zoneAndEnd = rest;
    EXPECT_GT(zoneAndEnd.find("\r\n\r\n"), 0u);
    EXPECT_EQ(zoneAndEnd.find("\r\n\r\n"), zoneAndEnd.size() - 4) << answer;
    // Header names are matched in any letter case.
    EXPECT_EQ(ws_handshakeAnswer("GET / HTTP/1.1\r\nsec-websocket-key:dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "\r\n",
                                 "/")
                  .substr(0, 120),
              answer.substr(0, 120));
}

TEST(websocketCodec, HandshakeFailuresSayWhy) {
    struct Case {
        const char* request;
        const char* path;
        const char* message;
    };
    const Case cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "/", "Sec-WebSocket-Key not found\r\n"},
        {"GET / HTTP/1.1\r\nSec-WebSocket-Key: \r\n\r\n", "/", "Sec-WebSocket-Key not matched\r\n"},
        {"GET / HTTP/1.1\r\nSec-WebSocket-Key: abc\r\n\r\n", "/chat", "path not matched\r\n"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.message);
        testing::internal::CaptureStdout();
        EXPECT_EQ(ws_responseClient(-1, entry.request, int(strlen(entry.request)), entry.path), -1);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed.find("[WS_ERR] "), 0u) << printed;
        EXPECT_NE(printed.find(std::string("): ") + entry.message), std::string::npos) << printed;
    }
}

TEST(websocketCodec, Base64RoundTripsAndStops) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\x00\xff\xfe", 3), "AP/+"},
    };
    for (const auto& [bytes, text] : vectors) {
        SCOPED_TRACE(text);
        char encoded[16];
        EXPECT_EQ(ws_base64_encode(reinterpret_cast<const uint8_t*>(bytes.data()), encoded,
                                   int(bytes.size())),
                  int(text.size()));
        EXPECT_EQ(encoded, text);
        uint8_t decoded[16];
        ASSERT_EQ(ws_base64_decode(text.c_str(), decoded), int(bytes.size()));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), bytes.size()), bytes);
    }
    uint8_t decoded[16];
    EXPECT_EQ(ws_base64_decode("Zm8=Zm9v", decoded), 2);  // stops after the padded group
    EXPECT_EQ(ws_base64_decode("Zm9vYg", decoded), 4);    // a short last group gives whole bytes
    EXPECT_EQ(ws_base64_decode("Z", decoded), 0);
    EXPECT_EQ(ws_base64_decode("!!!!", decoded), 3);  // outside the alphabet: 0xFF
    EXPECT_EQ(decoded[0], 0xFF);
}

// The time zone database is the judge: the clock shown is that of Asia/Shanghai whatever the
// machine's own zone.
TEST(websocketCodec, TimeOfDayIsChinaStandardTime) {
    const char* machine_zone = getenv("TZ");
    const std::string saved = machine_zone ? machine_zone : "";
    setenv("TZ", "Europe/London", 1);  // a zone other than China's, with summer time
    tzset();
    const time_t before = time(nullptr);
    const std::string text = ws_time();
    const time_t after = time(nullptr);
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    auto china_clock = [](time_t moment) {
        tm parts{};
        localtime_r(&moment, &parts);
        char shown[9];
        strftime(shown, sizeof shown, "%H:%M:%S", &parts);
        return std::string(shown);
    };
    const std::string at_before = china_clock(before);
    const std::string at_after = china_clock(after);
    if (machine_zone) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    EXPECT_TRUE(text == at_before || text == at_after) << text << " vs " << at_before;
}

// The reader that stands between a client's socket and onMessage.
class websocketReader : public testing::Test {
protected:
    void feed(const Bytes& bytes) {
        memcpy(reader.prepare(bytes.size()), bytes.data(), bytes.size());
        reader.commit(bytes.size());
    }
    // Everything the reader gives for `bytes`, fed `step` bytes at a time.
    std::vector<std::pair<int, std::string>> readAll(const Bytes& bytes, size_t step) {
        std::vector<std::pair<int, std::string>> items;
        for (size_t offset = 0; offset < bytes.size(); offset += step) {
            feed(Bytes(bytes.begin() + long(offset),
                       bytes.begin() + long(std::min(bytes.size(), offset + step))));
            WsReadItem item;
            while (reader.next(&item)) {
                if (item.result < 0) {
                    // A failure: its byte count depends on how the bytes came in; its code not.
                    EXPECT_NE(item.closeCode, 0);
                    items.emplace_back(-1, "close " + std::to_string(item.closeCode));
                    continue;
                }
                EXPECT_EQ(item.data[item.length], 0);
                items.emplace_back(item.result, std::to_string(item.type) + ":" +
                                                    std::string(item.data, item.length));
            }
        }
        return items;
    }
    WsMessageReader reader{16};
};

TEST_F(websocketReader, EveryFrameOfOneReadIsDelivered) {
    Bytes stream = clientFrame(true, 1, "one", kKey);
    for (const Bytes& frame : {clientFrame(true, 2, "two"), clientFrame(true, 1, "", kKey),
                               clientFrame(true, 9, "p", kKey)}) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const std::vector<std::pair<int, std::string>> expected = {
        {3, "2:one"}, {3, "3:two"}, {1, "2:"}, {0, "5:p"}};
    for (size_t step : {stream.size(), size_t(1), size_t(5)}) {
        SCOPED_TRACE(step);
        EXPECT_EQ(readAll(stream, step), expected);
    }
}

TEST_F(websocketReader, FragmentsAreJoinedAroundControlFrames) {
    Bytes stream = clientFrame(false, 1, "Hel", kKey);
    for (const Bytes& frame : {clientFrame(true, 9, "", kKey), clientFrame(false, 0, "lo ", kKey),
                               clientFrame(true, 0, "you", kKey), clientFrame(true, 2, "next")}) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const std::vector<std::pair<int, std::string>> expected = {
        {0, "5:"}, {9, "2:Hello you"}, {4, "3:next"}};
    for (size_t step : {stream.size(), size_t(1)}) {
        SCOPED_TRACE(step);
        EXPECT_EQ(readAll(stream, step), expected);
    }
}

// Each stream: a good message, then something the server cannot accept, then a good message
// that must not be delivered any more.
TEST_F(websocketReader, TheFirstUnacceptableFrameClosesAfterWhatCameBefore) {
    const Bytes lengthBeyondTheLimit = {0x81, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    const struct {
        const char* name;
        std::vector<Bytes> frames;
        const char* closeCode;
    } cases[] = {
        {"one frame above the limit", {clientFrame(true, 1, std::string(17, 'x'), kKey)}, "1009"},
        {"fragments above the limit",
         {clientFrame(false, 1, std::string(10, 'a'), kKey),
          clientFrame(true, 0, std::string(10, 'b'), kKey)},
         "1009"},
        {"a declared length of 4 GiB, header only", {lengthBeyondTheLimit}, "1009"},
        {"bytes that are no frame", {bytesOf("GET / HTTP/1.1\r\n\r\n")}, "1002"},
        {"an unknown opcode", {clientFrame(true, 3, "x", kKey)}, "1002"},
        {"a fragmented ping", {clientFrame(false, 9, "", kKey)}, "1002"},
        {"a ping above 125 bytes", {clientFrame(true, 9, std::string(126, 'p'), kKey)}, "1002"},
        {"a new message inside a fragmented one",
         {clientFrame(false, 1, "ab", kKey), clientFrame(true, 1, "cd", kKey)},
         "1002"},
    };
    for (const auto& test : cases) {
        Bytes stream = clientFrame(true, 1, "ok", kKey);
        for (const Bytes& frame : test.frames)
            stream.insert(stream.end(), frame.begin(), frame.end());
        const Bytes after = clientFrame(true, 1, "after", kKey);
        stream.insert(stream.end(), after.begin(), after.end());
        const std::vector<std::pair<int, std::string>> expected = {
            {2, "2:ok"}, {-1, std::string("close ") + test.closeCode}};
        for (size_t step : {stream.size(), size_t(1), size_t(7)}) {
            SCOPED_TRACE(std::string(test.name) + ", step " + std::to_string(step));
            reader.reset();
            EXPECT_EQ(readAll(stream, step), expected);
        }
    }
}

TEST_F(websocketReader, AnIdleConnectionHoldsNoMemory) {
    const Bytes frame = clientFrame(true, 1, std::string(10, 'm'), kKey);
    feed(Bytes(frame.begin(), frame.begin() + 5));
    EXPECT_TRUE(reader.holdsPartialMessage());
    EXPECT_GT(reader.heldBytes(), 0u);
    feed(Bytes(frame.begin() + 5, frame.end()));
    WsReadItem item;
    ASSERT_TRUE(reader.next(&item));
    EXPECT_FALSE(reader.next(&item));
    EXPECT_FALSE(reader.holdsPartialMessage());
    EXPECT_EQ(reader.heldBytes(), 0u);
}

TEST(websocketCodec, TextIsMadeValidUtf8ByteSequenceBySequence) {
    const struct {
        std::string text;
        std::string valid;
    } cases[] = {
        {"GetDevID 设备 €", "GetDevID 设备 €"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // overlong "/"
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // a surrogate
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"end\xE8\xAE", "end\xEF\xBF\xBD\xEF\xBF\xBD"},  // cut inside a character
    };
    for (const auto& test : cases) {
        EXPECT_EQ(ws_validUtf8(test.text), test.valid) << test.text;
        EXPECT_EQ(ws_isValidUtf8(test.text), test.text == test.valid) << test.text;
    }
}
