// Tests of the JSON value wrapper: typed reading and its refusals, error texts, child wrappers,
// traversal, value texts, exact 64-bit integers, copies and comparison.
#include "CJsonObject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

// One member of every kind the wrapper tells apart.
const char kEveryKind[] =
    R"({"text":"12","negative":-7,"huge":18446744073709551615,"half":2.5,"minus":-2.9,)"
    R"("big":1e19,"yes":true,"no":false,"nothing":null,"object":{"a":1},"array":[1]})";

// Which getters accept a member; a refusing getter must leave its output alone.
struct Acceptance {
    const char* key;
    bool string, int32, uint64, boolean, floating;
};

TEST(JsonTypedGet, EachGetterAcceptsOnlyItsKinds) {
    const CJsonObject json(kEveryKind);
    const Acceptance table[] = {
        // key         string int32  uint64 bool   double
        {"text", true, false, false, false, false},  // a string is never read as a number
        {"negative", false, true, true, false, true},
        {"huge", false, true, true, false, true},
        {"half", false, true, true, false, true},
        {"minus", false, true, false, false, true},  // -2 does not fit unsigned
        {"big", false, false, true, false, true},    // 1e19 fits uint64, not int32
        {"yes", false, false, false, true, false},   // a bool is not a number
        {"no", false, false, false, true, false},
        {"nothing", false, false, false, false, false},
        {"object", false, false, false, false, false},
        {"array", false, false, false, false, false},
        {"missing", false, false, false, false, false},
    };
    for (const Acceptance& row : table) {
        SCOPED_TRACE(row.key);
        std::string text = "untouched";
        int32_t int32 = 99;
        uint64_t uint64 = 99;
        bool boolean = true;
        double floating = 99;
        EXPECT_EQ(json.Get(row.key, text), row.string);
        EXPECT_EQ(json.Get(row.key, int32), row.int32);
        EXPECT_EQ(json.Get(row.key, uint64), row.uint64);
        EXPECT_EQ(json.Get(row.key, boolean), row.boolean);
        EXPECT_EQ(json.Get(row.key, floating), row.floating);
        if (!row.string) {
            EXPECT_EQ(text, "untouched");
        }
        if (!row.int32) {
            EXPECT_EQ(int32, 99);
        }
        if (!row.uint64) {
            EXPECT_EQ(uint64, 99u);
        }
        if (!row.boolean) {
            EXPECT_TRUE(boolean);
        }
        if (!row.floating) {
            EXPECT_EQ(floating, 99);
        }
    }
}

TEST(JsonTypedGet, NumbersConvertAsDocumented) {
    const CJsonObject json(kEveryKind);
    int32_t int32 = 0;
    EXPECT_TRUE(json.Get("half", int32));
    EXPECT_EQ(int32, 2);  // doubles truncate
    EXPECT_TRUE(json.Get("minus", int32));
    EXPECT_EQ(int32, -2);
    uint32_t uint32 = 0;
    EXPECT_TRUE(json.Get("negative", uint32));
    EXPECT_EQ(uint32, 4294967289u);  // integers convert as C++ does
    int64_t int64 = 0;
    EXPECT_TRUE(json.Get("huge", int64));
    EXPECT_EQ(int64, -1);
    float single = 0;
    EXPECT_TRUE(json.Get("negative", single));
    EXPECT_EQ(single, -7.0f);
    bool boolean = true;
    EXPECT_TRUE(json.Get("no", boolean));
    EXPECT_FALSE(boolean);
    char buffer[8] = "xxxxxxx";
    EXPECT_TRUE(json.Get("text", buffer));
    EXPECT_STREQ(buffer, "12");
    EXPECT_FALSE(json.Get("text", static_cast<char*>(nullptr)));
    EXPECT_TRUE(json.IsNull("nothing"));
    EXPECT_FALSE(json.IsNull("no"));
    EXPECT_FALSE(json.IsNull("missing"));
}

TEST(JsonTypedGet, DoublesThatFitNoIntegerAreRefused) {
    CJsonObject json;
    json.Add("nan", std::nan(""));
    json.Add("huge", 1e300);
    int64_t int64 = 5;
    uint32_t uint32 = 5;
    EXPECT_FALSE(json.Get("nan", int64));
    EXPECT_FALSE(json.Get("huge", int64));
    EXPECT_FALSE(json.Get("huge", uint32));
    EXPECT_EQ(int64, 5);
    EXPECT_EQ(uint32, 5u);
}

TEST(JsonTypedGet, ByIndexReadsElementsAndRefusesOutOfRange) {
    const CJsonObject json(R"(["a",3,true,null,1.5])");
    ASSERT_EQ(json.GetArraySize(), 5);
    std::string text;
    int32_t number = 0;
    bool boolean = false;
    double floating = 0;
    EXPECT_TRUE(json.Get(0, text));
    EXPECT_EQ(text, "a");
    EXPECT_FALSE(json.Get(0, number));
    EXPECT_TRUE(json.Get(1, number));
    EXPECT_EQ(number, 3);
    EXPECT_TRUE(json.Get(2, boolean));
    EXPECT_TRUE(boolean);
    EXPECT_TRUE(json.IsNull(3));
    EXPECT_TRUE(json.Get(4, floating));
    EXPECT_EQ(floating, 1.5);
    number = 42;
    EXPECT_FALSE(json.Get(5, number));
    EXPECT_FALSE(json.Get(-1, number));
    EXPECT_EQ(number, 42);
    EXPECT_EQ(CJsonObject(R"({"a":1})").GetArraySize(), 0);
}

TEST(JsonErrors, ParseFailureNamesTheUnparsedRest) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "prase json string error at "},
        {R"({"a":})", "prase json string error at }"},
        {R"({"a" 1, "b": 2})", R"(prase json string error at 1, "b": 2})"},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(text);
        CJsonObject json(R"({"old":1})");
        EXPECT_FALSE(json.Parse(text));
        EXPECT_EQ(json.GetErrMsg(), error);
        EXPECT_TRUE(json.IsEmpty());  // the old value is gone
    }
}

TEST(JsonErrors, WrongKindAndDuplicateKeyTexts) {
    CJsonObject empty("{}");
    int32_t number = 7;
    EXPECT_FALSE(empty.Get("any", number));
    EXPECT_EQ(number, 7);

    CJsonObject object;
    EXPECT_TRUE(object.Add("k", 1));
    EXPECT_FALSE(object.Add("k", 2));
    EXPECT_EQ(object.GetErrMsg(), "key exists!");
    EXPECT_EQ(object.ToString(), R"({"k":1})");
    EXPECT_FALSE(object.Add(3));
    EXPECT_EQ(object.GetErrMsg(), "not a json array! json object?");
    EXPECT_FALSE(object.Get(0, number));
    EXPECT_EQ(object.GetErrMsg(), "not a json array! json object?");

    CJsonObject array;
    EXPECT_TRUE(array.Add(1));
    EXPECT_TRUE(array.IsArray());
    EXPECT_FALSE(array.Add("k", 1));
    EXPECT_EQ(array.GetErrMsg(), "not a json object! json array?");
    std::string key;
    EXPECT_FALSE(array.GetKey(key));

    CJsonObject nothing;
    EXPECT_FALSE(nothing.Get("k", number));
    EXPECT_EQ(nothing.GetErrMsg(), "json data is null!");
    EXPECT_FALSE(nothing.Add("k", CJsonObject()));  // nothing to copy
    EXPECT_EQ(nothing.GetErrMsg(), "json data is null!");
    EXPECT_FALSE(nothing.Replace("k", 1));
    EXPECT_EQ(nothing.ToString(), "");
}

TEST(JsonEdit, ReplaceDeleteAndPrependKeepTheDocumentRight) {
    CJsonObject json;
    EXPECT_TRUE(json.Add("s", "x"));
    EXPECT_TRUE(json.AddNull("n"));
    EXPECT_TRUE(json.AddEmptySubObject("o"));
    EXPECT_TRUE(json.AddEmptySubArray("a"));
    EXPECT_TRUE(json.Add("b", true, true));
    EXPECT_FALSE(json.AddEmptySubArray("a"));
    EXPECT_TRUE(json.Replace("s", 2.5));
    EXPECT_TRUE(json.ReplaceWithNull("b"));
    EXPECT_FALSE(json.Replace("missing", 1));
    EXPECT_TRUE(json.Delete("n"));
    EXPECT_TRUE(json.Delete("missing"));
    EXPECT_EQ(json.ToString(), R"({"s":2.5,"o":{},"a":[],"b":null})");

    CJsonObject list;
    EXPECT_TRUE(list.Add(1));
    EXPECT_TRUE(list.AddAsFirst("first"));
    EXPECT_TRUE(list.AddNullAsFirst());
    EXPECT_TRUE(list.Add(0, false));
    EXPECT_TRUE(list.Replace(2, uint32_t{7}));
    EXPECT_FALSE(list.Replace(9, 1));
    EXPECT_TRUE(list.Delete(0));
    EXPECT_TRUE(list.Delete(9));
    EXPECT_EQ(list.ToString(), R"(["first",7,false])");
}

TEST(JsonChildren, ChildByKeyIsAStableViewUntilDroppedByDeleteOrReplace) {
    CJsonObject json(R"({"data":{"n":1},"list":[1,2]})");
    CJsonObject& data = json["data"];
    EXPECT_EQ(&json["data"], &data);
    EXPECT_TRUE(data.Add("m", 2));  // writes through to the parent's tree
    EXPECT_EQ(json.ToString(), R"({"data":{"n":1,"m":2},"list":[1,2]})");
    EXPECT_EQ(json["data"]("m"), "2");

    EXPECT_TRUE(json.Replace("data", "new"));
    EXPECT_EQ(json["data"].ToString(), R"("new")");  // a fresh view, not the replaced node
    EXPECT_TRUE(json.Delete("data"));
    EXPECT_TRUE(json["data"].IsEmpty());
    EXPECT_EQ(json["data"].ToString(), "");
    EXPECT_TRUE(json.Add("data", 5));
    EXPECT_EQ(json["data"].ToString(), "5");  // the empty child picks up the new member

    // Grandchildren go with their parent child: nothing is left viewing freed nodes.
    EXPECT_EQ(json["list"][1].ToString(), "2");
    EXPECT_TRUE(json.Delete("list"));
    EXPECT_TRUE(json["list"][1].IsEmpty());
    json.Clear();
    EXPECT_TRUE(json.IsEmpty());
    EXPECT_TRUE(json["data"].IsEmpty());
}

TEST(JsonChildren, ChildByIndexFollowsPrependDeleteAndReplace) {
    CJsonObject json(R"([{"id":0},{"id":1},{"id":2}])");
    EXPECT_EQ(json[1]("id"), "1");
    EXPECT_EQ(&json[1], &json[1]);
    EXPECT_TRUE(json[2].Replace("id", 20));
    EXPECT_EQ(json.ToString(), R"([{"id":0},{"id":1},{"id":20}])");

    EXPECT_TRUE(json.AddAsFirst(std::string("head")));
    EXPECT_EQ(json[1]("id"), "0");
    EXPECT_TRUE(json.Delete(1));
    EXPECT_EQ(json[1]("id"), "1");
    EXPECT_EQ(json[2]("id"), "20");
    EXPECT_TRUE(json.Replace(2, CJsonObject(R"({"id":3})")));
    EXPECT_EQ(json[2]("id"), "3");
    EXPECT_TRUE(json[9].IsEmpty());
}

TEST(JsonTraversal, KeysInDocumentOrderThenFalseOnceThenAgain) {
    CJsonObject json(R"({"b":1,"a":2,"c":3})");
    std::vector<std::string> seen;
    std::string key;
    for (int call = 0; call < 8; ++call) seen.push_back(json.GetKey(key) ? key : "<end>");
    EXPECT_EQ(seen, (std::vector<std::string>{"b", "a", "c", "<end>", "b", "a", "c", "<end>"}));

    EXPECT_TRUE(json.GetKey(key));
    json.ResetTraversing();
    EXPECT_TRUE(json.GetKey(key));
    EXPECT_EQ(key, "b");

    CJsonObject empty("{}");
    EXPECT_FALSE(empty.GetKey(key));
}

TEST(JsonTraversal, DeletingTheCurrentMemberContinuesWithTheNext) {
    CJsonObject json(R"({"a":1,"b":2,"c":3})");
    std::string key;
    std::vector<std::string> seen;
    while (json.GetKey(key)) {
        seen.push_back(key);
        json.Delete(key);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(json.ToString(), "{}");

    CJsonObject middle(R"({"a":1,"b":2,"c":3})");
    ASSERT_TRUE(middle.GetKey(key) && middle.GetKey(key));
    middle.Replace("b", 9);
    ASSERT_TRUE(middle.GetKey(key));
    EXPECT_EQ(key, "c");
}

TEST(JsonValueText, EachKindPrintsAsDocumented) {
    const CJsonObject json(
        R"({"s":"text","i":-42,"x":9007199254740993,"f":2.5,"zero":0.0,"tiny":1e-7,"edge":1e9,)"
        R"("large":1e10,"neg":-1.5e10,"t":true,"no":false,"n":null,"o":{},"a":[]})");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"s", "text"},
        {"i", "-42"},
        {"x", "9007199254740993"},
        {"f", "2.500000"},
        {"zero", "0.000000e+00"},
        {"tiny", "1.000000e-07"},
        {"edge", "1000000000.000000"},
        {"large", "1.000000e+10"},
        {"neg", "-1.500000e+10"},
        {"t", "true"},
        {"no", "false"},
        {"n", ""},
        {"o", ""},
        {"a", ""},
        {"missing", ""},
    };
    for (const auto& [key, text] : cases) EXPECT_EQ(json(key), text) << key;
    EXPECT_EQ(CJsonObject("[1.5]")(0), "1.500000");
    EXPECT_EQ(CJsonObject("[1.5]")(1), "");
}

// Reads back the integers that a double cannot hold exactly: the lowest int64, the highest
// uint64 and 2^53 + 1.
void ExpectExactIntegers(const CJsonObject& json, const char* lowest_int64,
                         const char* highest_uint64, const char* past_2_53) {
    int64_t signed_value = 0;
    uint64_t unsigned_value = 0;
    EXPECT_TRUE(json.Get(lowest_int64, signed_value));
    EXPECT_EQ(signed_value, std::numeric_limits<int64_t>::min());
    EXPECT_TRUE(json.Get(highest_uint64, unsigned_value));
    EXPECT_EQ(unsigned_value, std::numeric_limits<uint64_t>::max());
    EXPECT_TRUE(json.Get(past_2_53, signed_value));
    EXPECT_EQ(signed_value, 9007199254740993);
}

TEST(JsonIntegers, ParsedNumbersPrintBackExactly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[9007199254740993,-9223372036854775808,18446744073709551615]",
         "[9007199254740993,-9223372036854775808,18446744073709551615]"},
        {"[18446744073709551616,-9223372036854775809]",
         "[1.8446744073709552e+19,-9.2233720368547758e+18]"},
        {"[1.0,2.50,1e3,-0]", "[1,2.5,1000,0]"},
        {"9007199254740993", "9007199254740993"},
        // numbers inside strings and keys, escaped quotes included, must not shift the pairing
        {R"({"k\"1":"a\\","9":"-5 3","n":9007199254740995,"m":[1.5,{"q":-9007199254740997}]})",
         R"({"k\"1":"a\\","9":"-5 3","n":9007199254740995,"m":[1.5,{"q":-9007199254740997}]})"},
    };
    for (const auto& [text, printed] : cases) {
        SCOPED_TRACE(text);
        CJsonObject json;
        ASSERT_TRUE(json.Parse(text));
        EXPECT_EQ(json.ToString(), printed);
    }
    ExpectExactIntegers(
        CJsonObject(R"({"s":-9223372036854775808,"u":18446744073709551615,"p":9007199254740993})"),
        "s", "u", "p");
}

TEST(JsonIntegers, AddedValuesKeepTheirSignednessThroughPrintAndParse) {
    CJsonObject json;
    json.Add("i64", std::numeric_limits<int64_t>::min());
    json.Add("u64", std::numeric_limits<uint64_t>::max());
    json.Add("p53", int64_t{9007199254740993});
    json.Add("i32", int32_t{-1});
    json.Add("u32", std::numeric_limits<uint32_t>::max());
    json.Add("f", 0.5f);
    const std::string printed = json.ToString();
    EXPECT_EQ(printed,
              R"({"i64":-9223372036854775808,"u64":18446744073709551615,"p53":9007199254740993,)"
              R"("i32":-1,"u32":4294967295,"f":0.5})");

    const CJsonObject back(printed);
    ExpectExactIntegers(back, "i64", "u64", "p53");
    uint32_t uint32 = 0;
    EXPECT_TRUE(back.Get("u32", uint32));
    EXPECT_EQ(uint32, std::numeric_limits<uint32_t>::max());

    CJsonObject list;
    list.Add(std::numeric_limits<uint64_t>::max());
    list.AddAsFirst(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(list.ToString(), "[-9223372036854775808,18446744073709551615]");
}

TEST(JsonCopies, CopiesAreIndependentAndCompareByCompactText) {
    CJsonObject original(R"({"a":{"b":[1,2]},"n":9007199254740993,"u":18446744073709551615})");
    CJsonObject copy(original);
    CJsonObject assigned;
    assigned = original;
    original["a"].Add("c", 3);
    EXPECT_EQ(copy.ToString(),
              R"({"a":{"b":[1,2]},"n":9007199254740993,"u":18446744073709551615})");
    uint64_t unsigned_value = 0;
    EXPECT_TRUE(copy.Get("u", unsigned_value));  // the unsigned mark survives copying
    EXPECT_EQ(unsigned_value, std::numeric_limits<uint64_t>::max());
    EXPECT_TRUE(copy == assigned);
    EXPECT_FALSE(copy == original);
    EXPECT_TRUE(CJsonObject(R"({ "a" : [ 1 ] })") == CJsonObject(R"({"a":[1]})"));
    EXPECT_TRUE(CJsonObject(static_cast<const CJsonObject*>(nullptr)).IsEmpty());
    EXPECT_EQ(CJsonObject(&copy).ToString(), copy.ToString());
    EXPECT_TRUE(CJsonObject(copy.ToFormattedString()) == copy);

    CJsonObject member;
    EXPECT_TRUE(original.Get("a", member));
    EXPECT_EQ(member.ToString(), R"({"b":[1,2],"c":3})");
    EXPECT_FALSE(original.Get("missing", member));
    EXPECT_EQ(member.ToString(), R"({"b":[1,2],"c":3})");

    // Assigning an object its own child: the child is copied before the object lets it go.
    original = original["a"];
    EXPECT_EQ(original.ToString(), R"({"b":[1,2],"c":3})");

    CJsonObject holder;
    EXPECT_TRUE(holder.Add("x", copy["a"]));
    EXPECT_TRUE(holder.Add(std::string("y"), copy["n"]));
    EXPECT_EQ(holder.ToString(), R"({"x":{"b":[1,2]},"y":9007199254740993})");
}

}  // namespace
