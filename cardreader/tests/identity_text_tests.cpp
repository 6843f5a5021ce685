// The text block of the three card kinds turned into the "|"-terminated line, with the code
// tables' edge cases.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "CardgateTesting.h"
#include "ReaderSimulator.h"

namespace cardgate::testing {
namespace {

using countermate::sim::CardKind;
using countermate::sim::MakeCard;
using countermate::sim::PutTextField;
using TextBlock = std::array<unsigned char, 256>;

TextBlock BlankBlock() {
    TextBlock block{};
    PutTextField(block.data(), 0, 256, "");
    return block;
}

std::string ParseLine(const TextBlock& block, int* kind = nullptr, int length = 256) {
    char line[1024] = {};
    int cardKind = -1;
    const int result = _SDT_ParseIDCardTextInfo(block.data(), length, &cardKind, line);
    if (kind) *kind = cardKind;
    return std::to_string(result) + ":" + line;
}

TEST(CardIdentityText, ParsesEachCardKindIntoItsLine) {
    struct Case {
        CardKind card;
        int kind;
        const char* line;
    } cases[] = {
        {CardKind::kResident, 0,
         "0:张伟|男|汉|19900307|北京市东城区正义路1号|11010119900307123X|北京市公安局东城分局|"
         "20200101|20400101||"},
        {CardKind::kForeign, 1,
         "0:SMITH JOHN|男|USA110090030712|USA|史密斯|20200101|20300101|19900307|20|1100|I||"},
        {CardKind::kHKMoTw, 2,
         "0:陈大文|女||19900307|香港特别行政区|810000199003071234|公安部出入境管理局|20200101|"
         "20250101|H12345678|01||J||"},
    };
    for (const Case& c : cases) {
        const auto card = MakeCard(c.card);
        TextBlock block;
        std::copy(card.text.begin(), card.text.end(), block.begin());
        int kind = -1;
        EXPECT_EQ(ParseLine(block, &kind), c.line);
        EXPECT_EQ(kind, c.kind);
    }
}

TEST(CardIdentityText, NationalityAndSexCodes) {
    struct Case {
        const char* nation;
        const char* sex;
        const char* fields;  // "sex|nationality|"
    } cases[] = {
        {"01", "1", "男|汉|"},   {"57", "2", "女|其他|"},   {"58", "0", "未知||"},
        {"99", "9", "未说明||"}, {"29", "3", "|柯尔克孜|"}, {"00", "", "||"},
    };
    for (const Case& c : cases) {
        TextBlock block = BlankBlock();
        PutTextField(block.data(), 0, 30, "李四");
        PutTextField(block.data(), 30, 2, c.sex);
        PutTextField(block.data(), 32, 4, c.nation);
        const std::string expected = std::string("0:李四|") + c.fields;
        EXPECT_EQ(ParseLine(block).substr(0, expected.size()), expected) << c.nation;
    }
    char nation[32] = "unchanged";
    EXPECT_EQ(GetIDNation("1", 1, nation), 0);  // odd length: entry 0
    EXPECT_STREQ(nation, "");
}

TEST(CardIdentityText, TrailingBlanksGoInnerSpacesStay) {
    TextBlock block = BlankBlock();
    PutTextField(block.data(), 0, 30, "欧阳 娜娜\t\r\n");
    PutTextField(block.data(), 52, 70, "  前导空格保留");
    const std::string line = ParseLine(block);
    EXPECT_EQ(line.substr(0, line.find('|')), "0:欧阳 娜娜");
    EXPECT_NE(line.find("|  前导空格保留|"), std::string::npos) << line;
}

TEST(CardIdentityText, CardKindDecidesTheLayoutWhateverParserIsCalled) {
    TextBlock block = BlankBlock();
    PutTextField(block.data(), 248, 2, "I");
    char fields[14][512] = {};
    EXPECT_EQ(ParseCHNIDTextInfo(block.data(), 256, fields[0], fields[1], fields[2], fields[3],
                                 fields[4], fields[5], fields[6], fields[7], fields[8], fields[9]),
              CARDGATE_BAD_ARGUMENT);
    EXPECT_EQ(ParseForeignerTextInfo(block.data(), 256, fields[0], fields[1], fields[2], fields[3],
                                     fields[4], fields[5], fields[6], fields[7], fields[8],
                                     fields[9], fields[10], fields[11]),
              0);
    EXPECT_STREQ(fields[10], "I");
    EXPECT_EQ(ParseHKMoTwTextInfo(block.data(), 256, fields[0], fields[1], fields[2], fields[3],
                                  fields[4], fields[5], fields[6], fields[7], fields[8], fields[9],
                                  fields[10], fields[11], fields[12], fields[13]),
              CARDGATE_BAD_ARGUMENT);
    int kind = -1;
    EXPECT_EQ(ParseLine(block, &kind).substr(0, 2), "0:");
    EXPECT_EQ(kind, 1);
}

TEST(CardIdentityText, WrongLengthGivesALineOfEmptyFields) {
    TextBlock block = BlankBlock();
    PutTextField(block.data(), 248, 2, "J");
    int kind = -1;
    EXPECT_EQ(ParseLine(block, &kind, 255), "-131:||||||||||||||");
    EXPECT_EQ(kind, 2);
    // Too short to hold the card kind: read as a resident card, never past its end.
    EXPECT_EQ(ParseLine(block, &kind, 10), "-131:||||||||||");
    EXPECT_EQ(kind, 0);
    char line[16] = "unchanged";
    EXPECT_EQ(_SDT_ParseIDCardTextInfo(nullptr, 256, &kind, line), CARDGATE_BAD_ARGUMENT);
    EXPECT_STREQ(line, "unchanged");
}

TEST(CardIdentityText, CountryLookup) {
    struct Case {
        const char* code;
        const char* name;
    } cases[] = {
        {"ZWE", "津巴布韦"},         {"CRI", "哥斯达黎加"}, {"AFG", "阿富汗"},
        {"STp", "圣多美和普林西比"}, {"CHNX", "中国"},      {"XXX", "unchanged"},
        {"stp", "unchanged"},
    };
    for (const Case& c : cases) {
        char name[64] = "unchanged";
        EXPECT_EQ(GetCountry(c.code, name), 0);
        EXPECT_STREQ(name, c.name) << c.code;
    }
    unsigned char ucs2[6];
    PutTextField(ucs2, 0, 6, "USA");
    char name[64] = {};
    EXPECT_EQ(GetIDUnicodeInfo(3, 6, ucs2, name), 0);
    EXPECT_STREQ(name, "美国");
}

}  // namespace
}  // namespace cardgate::testing
