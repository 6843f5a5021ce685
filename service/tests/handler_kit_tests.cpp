// The handler kit: argument kinds and defaults, and replies that stay valid JSON.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <cstring>

#include "camera_view.h"
#include "handler_args.h"
#include "reply_format.h"
#include "request_text.h"

using countermate::HandlerArgs;
using countermate::format_reply;

namespace {

bool parses_as_json(const std::string& text) {
    cJSON* parsed = cJSON_Parse(text.c_str());
    cJSON_Delete(parsed);
    return parsed != nullptr;
}

}  // namespace

TEST(HandlerKitArgs, IntegerKeysTakeIntegersAndTruncatedNumbersOnly) {
    struct Case {
        const char* args;
        int expected;
    } cases[] = {
        {R"({"volume":70})", 70},
        {R"({"volume":70.9})", 70},
        {R"({"volume":-3.7})", -3},
        {R"({"volume":"70"})", 50},  // a string is not an integer argument
        {R"({"volume":true})", 50},
        {R"({"volume":null})", 50},
        {R"({})", 50},
        {"", 50},  // a request without args
        {"not json", 50},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HandlerArgs(c.args).integer("volume", 50), c.expected) << c.args;
    }
}

TEST(HandlerKitArgs, TextKeysTakeOnlyStrings) {
    EXPECT_EQ(HandlerArgs(R"({"serialNo":"SN-1"})").text("serialNo"), "SN-1");
    EXPECT_EQ(HandlerArgs(R"({"serialNo":12})").text("serialNo", "none"), "none");
    EXPECT_EQ(HandlerArgs(R"({"serialNo":"it's"})").text("serialNo"), "it's");
}

TEST(HandlerKitReply, FillsTemplatesExactly) {
    EXPECT_EQ(format_reply(R"({"method":"GetDevID","retVal":%d,"devID":"%s","errMsg":"%s"})",
                           {0, "DEV-1", "操作成功"}),
              R"({"method":"GetDevID","retVal":0,"devID":"DEV-1","errMsg":"操作成功"})");
    EXPECT_EQ(format_reply(R"({"score":%f,"value":%d})", {0.5, -17}),
              R"({"score":0.500000,"value":-17})");
}

TEST(HandlerKitReply, QuotedTextsAreEscaped) {
    const std::string reply = format_reply(R"({"method":"GetDevID","devID":"%s","errMsg":"%s"})",
                                           {R"(a"b\c)", "line\nbreak\x01"});
    EXPECT_EQ(reply, R"({"method":"GetDevID","devID":"a\"b\\c","errMsg":"line\nbreak\u0001"})");
    EXPECT_TRUE(parses_as_json(reply));
}

TEST(HandlerKitReply, BareTextsEmbedJsonAndQuoteAnythingElse) {
    struct Case {
        const char* value;
        const char* expected;
    } cases[] = {
        {R"({"id":1})", R"({"qrCode":{"id":1}})"},
        {"{}", R"({"qrCode":{}})"},
        {R"({"id":1)", R"({"qrCode":"{\"id\":1"})"},  // not JSON: a string, never broken JSON
        {R"({"a":1},"x":2)", R"({"qrCode":"{\"a\":1},\"x\":2"})"},  // no member injection
        {"", R"({"qrCode":""})"},
    };
    for (const auto& c : cases) {
        const std::string reply = format_reply(R"({"qrCode":%s})", {c.value});
        EXPECT_EQ(reply, c.expected) << c.value;
        EXPECT_TRUE(parses_as_json(reply)) << reply;
    }
}

TEST(HandlerKitReply, MissingValuesLeaveValidJson) {
    const std::string reply = format_reply(R"({"retVal":%d,"devID":"%s","idInfo":%s})", {});
    EXPECT_EQ(reply, R"({"retVal":0,"devID":"","idInfo":""})");
}

// A request is read as sent first; the single-quote rule applies only to a text that is not
// JSON as it stands, so an apostrophe in a double-quoted value is kept.
TEST(HandlerKitRequestText, QuoteRuleMethodAndArguments) {
    struct Case {
        const char* sent;
        bool parsed;
        const char* method;
        const char* args_text;
    };
    const Case cases[] = {
        {R"({"method":"GetDevID","args":{}})", true, "GetDevID", "{}"},
        {R"({'method':'InputNumber','args':{'outTimes':20}})", true, "InputNumber",
         R"({"outTimes":20})"},
        {R"({"method":"ShowInformation","args":{"info":"O'Brien"}})", true, "ShowInformation",
         R"({"info":"O'Brien"})"},
        {R"({"method":"GetDevID"})", true, "GetDevID", ""},
        {R"({"args":{"a":1}})", true, "", ""},
        {R"({"method":7,"args":{}})", true, "", ""},
        {"not json", false, "", ""},
        {R"({'method':'Evaluate','args':{'text':"it's"}})", false, "", ""},
    };
    for (const Case& c : cases) {
        const countermate::RequestText read =
            countermate::read_request_text(c.sent, strlen(c.sent));
        EXPECT_EQ(read.parsed, c.parsed) << c.sent;
        EXPECT_EQ(read.method, c.method) << c.sent;
        EXPECT_EQ(read.args_text, c.args_text) << c.sent;
    }
}

// The terminal camera's zoom is kept as float while each step is taken in double precision:
// the values a page sees in the log, and whether the preview zooms at all, follow from that.
TEST(CameraView, ZoomStepsFollowFloatStorage) {
    float zoom = 0.0f;
    for (int step = 0; step < 25; ++step) zoom = countermate::zoom_step(zoom, true);
    EXPECT_EQ(zoom, 4.9999995f);
    EXPECT_LT(zoom, 5.0f);
    EXPECT_EQ(countermate::zoom_step(zoom, true), 5.0f);  // 5.2 clamped
    EXPECT_EQ(countermate::zoom_step(5.0f, true), 5.0f);

    const float back = countermate::zoom_step(countermate::zoom_step(0.0f, true), false);
    EXPECT_GT(back, 0.0f);  // about 3e-9: still zoomed
    EXPECT_LT(back, 1e-8f);
    EXPECT_EQ(countermate::zoom_step(back, false), 0.0f);
    EXPECT_EQ(countermate::zoom_step(0.0f, false), 0.0f);
}

TEST(CameraView, RotationWrapsWithinFourQuarterTurns) {
    struct Case {
        int from;
        bool right;
        int to;
    };
    const Case cases[] = {{0, false, 3}, {3, true, 0}, {1, true, 2}, {2, false, 1}, {3, false, 2}};
    for (const Case& c : cases) {
        EXPECT_EQ(countermate::rotation_step(c.from, c.right), c.to)
            << c.from << (c.right ? " right" : " left");
    }
}
