// SDT_ReadIDCard end to end: the service loads libcardgate from its working directory and reads
// the simulated reader on the pseudo-terminal that CONFIG.ini's [CARDREADER] SerialPort names.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "Base64.h"
#include "ReaderSimulator.h"
#include "service_test_base.h"

namespace countermate::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<uint8_t> kFindCard = {0x20, 0x01};
const std::vector<uint8_t> kReadWithFingerprint = {0x30, 0x10};
// The simulator's resident card, as the service answers it.
const char* const kResidentCard =
    "张伟|男|汉|19900307|北京市东城区正义路1号|11010119900307123X|北京市公安局东城分局|20200101|20400101||";
// The card photo as a BMP file: 126 rows of 102 pixels padded to 308 bytes, and the headers.
constexpr size_t kPhotoFileSize = 308 * 126 + 54;

std::string file_as_base64(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "<absent>";
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::string text(base64_encoded_length(bytes.size()), '\0');
    base64_encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &text[0]);
    return text;
}

// The reader on its pseudo-terminal, and the service in a deploy folder whose CONFIG.ini
// names it.
struct ReaderService {
    ReaderService() : deploy({}) {
        sim::ReaderSimulator::Options options;
        options.link_path = folder.path() + "/reader";
        reader = std::make_unique<sim::ReaderSimulator>(options);
        reader_started = reader->Start();
        std::ofstream(deploy.path() + "/CONFIG.ini", std::ios::app)
            << "[CARDREADER]\nSerialPort=" << options.link_path << "\nSerialBaud=115200\n";
        service = std::make_unique<ServiceOnSimulator>(deploy.path());
    }
    TemporaryFolder folder;
    DeployCopy deploy;
    std::unique_ptr<sim::ReaderSimulator> reader;
    bool reader_started = false;
    std::unique_ptr<ServiceOnSimulator> service;
};

class CardReaderRequests : public ::testing::Test {
protected:
    static void SetUpTestSuite() { shared_ = new ReaderService(); }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(shared_->reader_started);
        ASSERT_TRUE(shared_->service->started());
        client_ = shared_->service->connect();
        ASSERT_TRUE(client_->is_open());
        commands_before_ = reader().Commands().size();
    }
    void TearDown() override { reader().SetCardPresent(true); }

    sim::ReaderSimulator& reader() { return *shared_->reader; }
    CJsonObject call(const std::string& request) {
        return parse(call_service(*client_, request, 30000));
    }
    // How often the reader was asked for `payload` during this test.
    size_t commands_of(const std::vector<uint8_t>& payload) {
        const auto all = reader().Commands();
        size_t count = 0;
        for (size_t i = commands_before_; i < all.size(); ++i) count += all[i] == payload;
        return count;
    }
    std::string scratch_photo() const { return shared_->deploy.path() + "/Temp/zp.bmp"; }

    static ReaderService* shared_;
    std::unique_ptr<WsClientConnection> client_;
    size_t commands_before_ = 0;
};

ReaderService* CardReaderRequests::shared_ = nullptr;

struct Reply {
    int code = -100;
    std::string identity, photo, error;
};

Reply read_reply(const CJsonObject& reply) {
    Reply read;
    reply.Get("retVal", read.code);
    reply.Get("idInfo", read.identity);
    reply.Get("idPhotoBase64", read.photo);
    reply.Get("errMsg", read.error);
    return read;
}

TEST_F(CardReaderRequests, ReadsTheCardAndLeavesNoPhotoBehind) {
    const Reply reply = read_reply(call(R"({"method":"SDT_ReadIDCard","args":{"outTimes":5}})"));
    EXPECT_EQ(reply.code, 0);
    EXPECT_EQ(reply.identity, kResidentCard);
    EXPECT_EQ(reply.error, "");
    EXPECT_EQ(reply.photo.size(), base64_encoded_length(kPhotoFileSize));
    EXPECT_EQ(reply.photo.compare(0, 2, "Qk"), 0);  // "BM"
    EXPECT_FALSE(fs::exists(scratch_photo()));
}

TEST_F(CardReaderRequests, KeepsThePhotoWhereTheRequestSays) {
    TemporaryFolder folder;
    const std::string photo = folder.path() + "/customer.bmp";
    const Reply reply = read_reply(call(
        R"({"method":"SDT_ReadIDCard","args":{"isReadFP":1,"idPhotoPath":")" + photo + R"("}})"));
    EXPECT_EQ(reply.code, 0);
    EXPECT_EQ(reply.identity, kResidentCard);
    EXPECT_EQ(file_as_base64(photo), reply.photo);
    EXPECT_EQ(commands_of(kReadWithFingerprint), 1u);
}

TEST_F(CardReaderRequests, WithoutACardLooksOnceOrUntilTheWaitIsOver) {
    reader().SetCardPresent(false);
    Reply reply = read_reply(call(R"({"method":"SDT_ReadIDCard","args":{"outTimes":0}})"));
    EXPECT_EQ(reply.code, -11);
    EXPECT_EQ(reply.error, "未寻到卡");
    EXPECT_EQ(reply.identity, "");
    EXPECT_EQ(reply.photo, "");
    EXPECT_EQ(commands_of(kFindCard), 1u);

    commands_before_ = reader().Commands().size();
    reply = read_reply(call(R"({"method":"SDT_ReadIDCard","args":{"outTimes":2}})"));
    EXPECT_EQ(reply.code, -2);
    EXPECT_EQ(reply.error, "寻卡超时");
    EXPECT_GT(commands_of(kFindCard), 1u);
    EXPECT_FALSE(fs::exists(scratch_photo()));
}

}  // namespace
}  // namespace countermate::testing
