// IDCardOCR and ImageOCR end to end: pictures of a card and of a page drawn here, handed to the
// service as files and as Base64 text, recognised by the deployed libcardvision.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Base64.h"
#include "SyntheticCard.h"
#include "service_test_base.h"

namespace countermate::testing {
namespace {

std::string base64_of_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::string text(base64_encoded_length(bytes.size()), '\0');
    base64_encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &text[0]);
    return text;
}

// The suite's service runs in a deploy folder of its own, so that its temporary pictures meet
// no other suite's in the shared Temp/ folder.
class RecognitionRequests : public ServiceTest {
protected:
    static void SetUpTestSuite() {
        static DeployCopy deploy({});
        deploy_ = &deploy;
        if (!service_) service_ = new ServiceOnSimulator(deploy.path());
    }

    void SetUp() override {
        ServiceTest::SetUp();
        if (cardvision::testing::card_font().empty())
            GTEST_SKIP() << "the Chinese font is not installed";
        ASSERT_TRUE(cardvision::testing::write_front(
            {"赵敏", "女", "蒙古", "1995", "10", "3", "内蒙古呼和浩特市新城区", "中山东路12号",
             "150102199510031528"},
            front_));
        ASSERT_TRUE(cardvision::testing::write_back(
            {"呼和浩特市公安局新城分局", "2020.10.03-2030.10.03"}, back_));
    }

    TemporaryFolder folder_;
    const std::string front_ = folder_.path() + "/front.jpg";
    const std::string back_ = folder_.path() + "/back.jpg";
    const std::string temporary_ = deploy_->path() + "/Temp/temp.jpg";
    static DeployCopy* deploy_;
};

DeployCopy* RecognitionRequests::deploy_ = nullptr;

const char* const kFrontReply =
    R"({"method":"IDCardOCR","retVal":0,"idInfo":"赵敏|女|蒙古|19951003|内蒙古呼和浩特市新城区中山东路12号|150102199510031528|","errMsg":""})";

TEST_F(RecognitionRequests, CardSidesFromFilesAndBase64) {
    EXPECT_EQ(call(R"({"method":"IDCardOCR","args":{"fileData":")" + front_ + R"("}})", 60000),
              kFrontReply);
    // imageType 1 is the back; any other value the front.
    EXPECT_EQ(
        call(R"({"method":"IDCardOCR","args":{"imageType":1,"fileForm":1,"fileData":")" +
                 base64_of_file(back_) + R"("}})",
             60000),
        R"({"method":"IDCardOCR","retVal":0,"idInfo":"呼和浩特市公安局新城分局|20201003|20301003|","errMsg":""})");
    EXPECT_EQ(call(R"({"method":"IDCardOCR","args":{"imageType":2,"fileForm":1,"fileData":")" +
                       base64_of_file(front_) + R"("}})",
                   60000),
              kFrontReply);
    EXPECT_FALSE(std::filesystem::exists(temporary_));
    EXPECT_TRUE(commands_received().empty());
}

TEST_F(RecognitionRequests, PageText) {
    const std::string page = folder_.path() + "/page.jpg";
    ASSERT_TRUE(
        cardvision::testing::write_text_lines({"对公账户变更申请", "联系电话 13800138000"}, page));
    const CJsonObject reply =
        parse(call(R"({"method":"ImageOCR","args":{"fileData":")" + page + R"("}})", 60000));
    int code = -100;
    std::string text;
    EXPECT_TRUE(reply.Get("retVal", code));
    EXPECT_TRUE(reply.Get("txtInfo", text));
    EXPECT_EQ(code, 0);
    EXPECT_NE(text.find("对公账户变更申请"), std::string::npos) << text;
    EXPECT_NE(text.find("13800138000"), std::string::npos) << text;
}

// The request's own failures come before the library is asked; the library's come with its text.
TEST_F(RecognitionRequests, Failures) {
    EXPECT_EQ(call(R"({"method":"IDCardOCR","args":{}})"),
              R"({"method":"IDCardOCR","retVal":-1,"idInfo":"","errMsg":""})");
    EXPECT_EQ(call(R"({"method":"ImageOCR","args":{"fileForm":1,"fileData":"@@@@"}})"),
              R"({"method":"ImageOCR","retVal":-8,"txtInfo":"","errMsg":""})");
    EXPECT_FALSE(std::filesystem::exists(temporary_));
    EXPECT_EQ(
        call(R"({"method":"ImageOCR","args":{"fileData":")" + folder_.path() + R"("}})"),
        R"({"method":"ImageOCR","retVal":-1,"txtInfo":"","errMsg":"参数 fileData 不是普通文件"})");
    EXPECT_EQ(
        call(R"({"method":"IDCardOCR","args":{"imageType":1,"fileData":")" + front_ + R"("}})",
             60000),
        R"({"method":"IDCardOCR","retVal":-4,"idInfo":"","errMsg":"图片中没有识别出身份证背面的信息"})");
}

}  // namespace
}  // namespace countermate::testing
