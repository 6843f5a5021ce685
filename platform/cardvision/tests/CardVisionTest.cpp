// Recognition of pictures made here: the fields of a rendered card's front and back, the text
// of a rendered page, and the failures (missing language data, unreadable or empty pictures).
// The field parsing also runs on its own over noisy texts as the engine gives them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CardFields.h"
#include "SyntheticCard.h"
#include "cardvision.h"

namespace cardvision {
namespace {

using testing::CardBack;
using testing::CardFront;

struct FrontCase {
    const char* name;
    const char* recognised;
    const char* line;
};

void PrintTo(const FrontCase& c, std::ostream* out) { *out << c.name; }

class FrontParsing : public ::testing::TestWithParam<FrontCase> {};

TEST_P(FrontParsing, FindsTheFields) {
    EXPECT_EQ(front_line(parse_front(GetParam().recognised)), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FrontParsing,
    ::testing::Values(
        // Stray quotes between labels and values, an address on two lines.
        FrontCase{
            "NoisyMarksAndAddressOnTwoLines",
            "姓名 ”张三丰\n性别 “男    民族 “ 汉\n出生 “1990年 1月1日\n住址 “北京市东城区景山前街\n4号\n"
            "公民身份号码 110101199001011234\n",
            "张三丰|男|汉|19900101|北京市东城区景山前街4号|110101199001011234|"},
        // The number on a line of its own, a lower-case check character, a date not read whole.
        FrontCase{"NumberOnItsOwnLineAndPartialDate",
                  "姓 名 李 四\n出生 1985年12\n住址 上海市\n公民身份号码\n31010419851231123x\n",
                  "李四|||1985年12|上海市|31010419851231123X|"},
        FrontCase{"NoFields", "中华人民共和国\n居民身份证\n", "||||||"}),
    [](const ::testing::TestParamInfo<FrontCase>& info) { return std::string(info.param.name); });

struct BackCase {
    const char* name;
    const char* recognised;
    const char* line;
};

void PrintTo(const BackCase& c, std::ostream* out) { *out << c.name; }

class BackParsing : public ::testing::TestWithParam<BackCase> {};

TEST_P(BackParsing, FindsTheFields) {
    EXPECT_EQ(back_line(parse_back(GetParam().recognised)), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BackParsing,
    ::testing::Values(
        BackCase{"NoisyMarks", "签发机关 ”北京市公安局东城分局\n有效期限。 2015.03.01-2035.03.01\n",
                 "北京市公安局东城分局|20150301|20350301|"},
        // The dash read as a Chinese character, a card without end.
        BackCase{"DashReadAsCharacterAndNoEnd",
                 "签发机关 广州市公安局\n有效期限 2016.05.20一长期\n",
                 "广州市公安局|20160520|长期|"},
        BackCase{"DatesWithoutStops", "有效期限 20100101 20200101\n", "|20100101|20200101|"}),
    [](const ::testing::TestParamInfo<BackCase>& info) { return std::string(info.param.name); });

// Pictures written into a folder of their own.
class RenderedPictures : public ::testing::Test {
protected:
    void SetUp() override {
        if (testing::card_font().empty()) GTEST_SKIP() << "the Chinese font is not installed";
        char pattern[] = "/tmp/cardvision-test.XXXXXX";
        folder_ = mkdtemp(pattern);
    }
    void TearDown() override {
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }
    std::string file(const char* name) const { return folder_ + "/" + name; }

    std::string folder_;
    std::vector<char> text_ = std::vector<char>(1024 * 1024, 'x');
};

TEST_F(RenderedPictures, FrontFieldsAreRecognised) {
    const std::string picture = file("front.jpg");
    ASSERT_TRUE(testing::write_front({"王小明", "女", "回", "1988", "7", "15", "北京市朝阳区建国路",
                                      "88号院3号楼", "110105198807150023"},
                                     picture));
    EXPECT_EQ(GetFrontInfo(picture.c_str(), text_.data()), 0);
    EXPECT_STREQ(text_.data(),
                 "王小明|女|回|19880715|北京市朝阳区建国路88号院3号楼|110105198807150023|");
}

TEST_F(RenderedPictures, BackFieldsAreRecognised) {
    const std::string picture = file("back.jpg");
    ASSERT_TRUE(testing::write_back({"北京市公安局朝阳分局", "2018.07.15-2038.07.15"}, picture));
    EXPECT_EQ(GetBackInfo(picture.c_str(), text_.data()), 0);
    EXPECT_STREQ(text_.data(), "北京市公安局朝阳分局|20180715|20380715|");
}

TEST_F(RenderedPictures, PageTextIsRecognisedLineByLine) {
    const std::string picture = file("page.jpg");
    ASSERT_TRUE(testing::write_text_lines(
        {"个人客户开户申请书", "账户类型 储蓄账户", "金额 5000元"}, picture));
    EXPECT_EQ(GetJPEGInfo(picture.c_str(), text_.data()), 0);
    const std::string text = text_.data();
    EXPECT_NE(text.find("个人客户开户申请书"), std::string::npos) << text;
    EXPECT_NE(text.find("5000"), std::string::npos) << text;
}

TEST_F(RenderedPictures, FailuresAreCodesWithTheirReason) {
    const std::string not_a_picture = file("notes.txt");
    std::ofstream(not_a_picture) << "not a picture";
    EXPECT_EQ(GetJPEGInfo(not_a_picture.c_str(), text_.data()), -1);
    EXPECT_NE(std::string(text_.data()).find("无法读取图片"), std::string::npos) << text_.data();
    EXPECT_EQ(GetFrontInfo(file("absent.jpg").c_str(), text_.data()), -1);
    EXPECT_EQ(GetBackInfo("", text_.data()), -1);

    // A picture with text but no card on it.
    const std::string page = file("page.jpg");
    ASSERT_TRUE(testing::write_text_lines({"营业时间 九点至五点"}, page));
    EXPECT_EQ(GetFrontInfo(page.c_str(), text_.data()), -4);
    EXPECT_STREQ(text_.data(), "图片中没有识别出身份证正面的信息");
}

TEST_F(RenderedPictures, MissingLanguageDataIsReportedNotFatal) {
    const std::string picture = file("front.jpg");
    ASSERT_TRUE(testing::write_text_lines({"任意文字"}, picture));
    const char* previous = getenv("TESSDATA_PREFIX");
    const std::string kept = previous ? previous : "";
    setenv("TESSDATA_PREFIX", folder_.c_str(), 1);  // a folder without language data
    const int code = GetJPEGInfo(picture.c_str(), text_.data());
    if (previous) {
        setenv("TESSDATA_PREFIX", kept.c_str(), 1);
    } else {
        unsetenv("TESSDATA_PREFIX");
    }
    EXPECT_EQ(code, -2);
    EXPECT_EQ(std::string(text_.data()),
              "缺少文字识别语言数据：" + folder_ + "/chi_sim.traineddata");
}

}  // namespace
}  // namespace cardvision
