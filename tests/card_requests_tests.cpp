// The card, identity and comparison requests end to end, on a deploy folder of the suite's own
// (so that the card library can be put in and taken out of the working directory):
//  - the face and fingerprint comparisons through the simulated terminal: commands, pushed and
//    pulled files, replies, failures;
//  - the four card reads on the terminal when libSSCardDriver.so is absent, through a test
//    double of it when present, and the library without its entries;
//  - iReadIdentityCard, SetHSMURL, and the reader and recognition requests without their
//    libraries.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <utility>

#include "service_test_base.h"

namespace countermate::testing {
namespace {

namespace fs = std::filesystem;

using Files = std::vector<std::pair<std::string, std::string>>;  // path, content
const std::string kAbsent = "<absent>";

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return kAbsent;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// The suite's deploy folder, without the reader and recognition libraries, and its service on
// the simulated terminal.
struct CardService {
    CardService() : deploy({}) {
        std::error_code ignored;
        fs::remove(fs::path(deploy.path()) / "libcardgate.so", ignored);
        fs::remove(fs::path(deploy.path()) / "libcardvision.so", ignored);
        service = std::make_unique<ServiceOnSimulator>(deploy.path());
    }
    DeployCopy deploy;
    std::unique_ptr<ServiceOnSimulator> service;
};

class CardRequests : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!shared_) shared_ = new CardService();
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(shared_->service->started()) << "the service did not start";
        client_ = shared_->service->connect();
        ASSERT_TRUE(client_->is_open());
        commands_before_ = terminal().Commands().size();
    }
    void TearDown() override {
        for (const std::string& command : scripted_)
            terminal().Script(command, sim::CommandScript{});
        std::error_code ignored;
        for (const std::string& path : touched_) fs::remove(path, ignored);
        fs::remove(card_library(), ignored);
    }

    sim::TerminalSimulator& terminal() { return shared_->service->simulator(); }
    std::string deploy_file(const std::string& name) const {
        return shared_->deploy.path() + "/" + name;
    }
    std::string card_library() const { return deploy_file("libSSCardDriver.so"); }
    void install_card_library(const char* library) {
        std::error_code ignored;
        fs::remove(card_library(), ignored);
        fs::create_symlink(library, card_library());
    }

    std::string call(const std::string& request) { return call_service(*client_, request); }
    std::vector<std::string> commands_received() {
        const auto all = terminal().Commands();
        return std::vector<std::string>(all.begin() + static_cast<long>(commands_before_),
                                        all.end());
    }
    void answer(const std::string& command, const std::string& text) {
        sim::CommandScript how;
        how.answer = text;
        terminal().Script(command, how);
        scripted_.insert(command);
    }
    // The file a path names: "@/" is the test's folder, "/sdcard..." the terminal's storage,
    // "#/" the deploy folder.
    std::string resolve(const std::string& path) {
        std::string file;
        if (path.compare(0, 2, "@/") == 0) {
            file = folder_.path() + path.substr(1);
        } else if (path.compare(0, 2, "#/") == 0) {
            file = shared_->deploy.path() + path.substr(1);
        } else {
            file = terminal().StoragePath(path);
        }
        touched_.insert(file);
        return file;
    }
    std::string local(std::string text) const {
        for (size_t at = text.find("@/"); at != std::string::npos; at = text.find("@/", at)) {
            text.replace(at, 2, folder_.path() + "/");
        }
        return text;
    }

    static CardService* shared_;
    TemporaryFolder folder_;
    std::unique_ptr<WsClientConnection> client_;
    size_t commands_before_ = 0;
    std::set<std::string> scripted_;
    std::set<std::string> touched_;
};

CardService* CardRequests::shared_ = nullptr;

// ---- comparisons on the terminal ----

struct ComparisonRow {
    const char* name;
    std::string request;
    Files answers;                      // command name, the terminal's whole answer
    std::vector<std::string> commands;  // as the terminal received them
    std::string reply;
    Files before = {};
    Files after = {};
};

void PrintTo(const ComparisonRow& row, std::ostream* out) { *out << row.name; }

class Comparisons : public CardRequests, public ::testing::WithParamInterface<ComparisonRow> {};

TEST_P(Comparisons, SendTheCommandMoveTheFilesAndReply) {
    const ComparisonRow& row = GetParam();
    for (const auto& [path, content] : row.before) write_file(resolve(path), content);
    for (const auto& [command, text] : row.answers) answer(command, text);
    EXPECT_EQ(call(local(row.request)), row.reply);
    EXPECT_EQ(commands_received(), row.commands);
    for (const auto& [path, content] : row.after)
        EXPECT_EQ(read_file(resolve(path)), content) << path;
}

const char* const kFaceAnswer =
    R"({"success":true,"statusCode":0,"data":{"score":0.91,"name":"张三","id_num":"110101199001011234"}})";
const std::string kTemp = "/sdcard/ZR/CounterMate/temp/";

INSTANTIATE_TEST_SUITE_P(
    Requests, Comparisons,
    ::testing::Values(
        // The infrared camera on the second reader; the card's answer embedded as it is.
        ComparisonRow{
            "FaceWithIdCard",
            R"({"method":"FaceValidateWithIdCard","args":{"outTimes":15,"cameraType":1,"cardReader":1}})",
            {{"FaceValidateWithIdCardIR_TY", kFaceAnswer}},
            {R"({"command":"FaceValidateWithIdCardIR_TY","param":{"timeOut":15}})"},
            std::string(
                R"({"method":"FaceValidateWithIdCard","retVal":0,"score":0.910000,"idInfo":)") +
                kFaceAnswer +
                R"(,"idPhotoBase64":"UEhPVE8=","scenceBase64":"U0NFTkU=","errMsg":"操作成功"})",
            {{kTemp + "idcard_photo.png", "PHOTO"}, {kTemp + "scence_photo.png", "SCENE"}}},
        // Without arguments: 30 seconds, the ordinary camera and reader. A failed comparison
        // carries no card data.
        ComparisonRow{
            "FaceWithIdCardTimedOut",
            R"({"method":"FaceValidateWithIdCard","args":{}})",
            {{"FaceValidateWithIdCard", R"({"success":true,"statusCode":2,"data":{"score":0.2}})"}},
            {R"({"command":"FaceValidateWithIdCard","param":{"timeOut":30}})"},
            R"({"method":"FaceValidateWithIdCard","retVal":-2,"score":0.000000,"idInfo":{},"idPhotoBase64":"","scenceBase64":"","errMsg":"超时"})"},
        ComparisonRow{
            "FingerWithIdCard",
            R"({"method":"FingerValidateWithIdCard","args":{"outTimes":20}})",
            {{"FingerValidateWithIdCard", kFaceAnswer}},
            {R"({"command":"FingerValidateWithIdCard","param":{"timeOut":20}})"},
            std::string(
                R"({"method":"FingerValidateWithIdCard","retVal":0,"score":0.910000,"idInfo":)") +
                kFaceAnswer +
                R"(,"fingerImgBase64":"RklOR0VS","cardFingerData":"Q0FSREZQ","errMsg":"操作成功"})",
            {{kTemp + "finger_photo.jpg", "FINGER"}, {kTemp + "card_finger.txt", "CARDFP"}}},
        // The card data is embedded in every case: "{}" when the terminal gave none.
        ComparisonRow{
            "FingerWithIdCardRefused",
            R"({"method":"FingerValidateWithIdCard","args":{}})",
            {{"FingerValidateWithIdCard", R"({"success":false,"statusCode":0})"}},
            {R"({"command":"FingerValidateWithIdCard","param":{"timeOut":30}})"},
            R"({"method":"FingerValidateWithIdCard","retVal":-11,"score":0.000000,"idInfo":{},"fingerImgBase64":"","cardFingerData":"","errMsg":"设备执行失败"})"},
        // A Base64 card photo is decoded, pushed and removed.
        ComparisonRow{
            "FaceWithPhotoFromBase64",
            R"({"method":"FaceValidateWithPhoto","args":{"outTimes":10,"fileForm":1,"fileData":"Q0FSRFBIT1RP"}})",
            {{"FaceValidateWithIdCardPhoto",
              R"({"success":true,"statusCode":0,"data":{"score":0.81}})"}},
            {R"({"command":"FaceValidateWithIdCardPhoto","param":{"timeOut":10}})"},
            R"({"method":"FaceValidateWithPhoto","retVal":0,"score":0.810000,"scencePicBase64":"U0NFTkU=","errMsg":"操作成功"})",
            {{kTemp + "scence_photo.png", "SCENE"}},
            {{kTemp + "idcardPhotoFromPC.png", "CARDPHOTO"}, {"#/Temp/temp.jpg", kAbsent}}},
        ComparisonRow{
            "FaceWithPhotoOfIdCardFromFile",
            R"({"method":"FaceValidateWithPhotoIdCard","args":{"outTimes":10,"fileData":"@/face.png"}})",
            {{"FaceValidateWithFacePhoto",
              R"({"success":true,"statusCode":0,"data":{"score":0.5}})"}},
            {R"({"command":"FaceValidateWithFacePhoto","param":{"timeOut":10}})"},
            R"({"method":"FaceValidateWithPhotoIdCard","retVal":0,"score":0.500000,"errMsg":"操作成功"})",
            {{"@/face.png", "FACE"}},
            {{kTemp + "facePhotoFromPC.png", "FACE"}}},
        ComparisonRow{
            "FaceWithTwoPhotos",
            R"({"method":"FaceValidateWithTwoPhotos","args":{"outTimes":10,"fileForm":1,"file1Data":"Q0FSRA==","file2Data":"RkFDRQ=="}})",
            {{"FaceValidateWithPCPhoto",
              R"({"success":true,"statusCode":0,"data":{"score":0.78}})"}},
            {R"({"command":"FaceValidateWithPCPhoto","param":{"timeOut":10}})"},
            R"({"method":"FaceValidateWithTwoPhotos","retVal":0,"score":0.780000,"errMsg":"操作成功"})",
            {},
            {{kTemp + "idcardPhotoFromPC.png", "CARD"},
             {kTemp + "facePhotoFromPC.png", "FACE"},
             {"#/Temp/temp1.jpg", kAbsent},
             {"#/Temp/temp2.jpg", kAbsent}}},
        // The first photo does not decode: the terminal is not used.
        ComparisonRow{
            "FaceWithTwoPhotosUndecodable",
            R"({"method":"FaceValidateWithTwoPhotos","args":{"fileForm":1,"file1Data":"@@@@","file2Data":"RkFDRQ=="}})",
            {},
            {},
            R"({"method":"FaceValidateWithTwoPhotos","retVal":-8,"score":0.000000,"errMsg":"操作文件失败"})",
            {},
            {{"#/Temp/temp1.jpg", kAbsent}, {"#/Temp/temp2.jpg", kAbsent}}},
        // A photo path that is a folder is refused before the terminal is used.
        ComparisonRow{
            "FaceWithPhotoNotAFile",
            R"({"method":"FaceValidateWithPhotoIdCard","args":{"fileData":"@/"}})",
            {},
            {},
            R"({"method":"FaceValidateWithPhotoIdCard","retVal":-1,"score":0.000000,"errMsg":"参数 fileData 不是普通文件"})"}),
    [](const ::testing::TestParamInfo<ComparisonRow>& info) {
        return std::string(info.param.name);
    });

// ---- card reads: on the terminal, or through the card library ----

struct CardReadCase {
    std::string request;
    std::string terminal_command;  // what the terminal receives without the library
    std::string terminal_reply;
    std::string library_reply;
};

const CardReadCase kCardReads[] = {
    {R"({"method":"iReadCardBas","args":{"icType":2}})",
     R"({"command":"iReadCardBas","param":{"iType":2}})",
     R"({"method":"iReadCardBas","retVal":0,"outInfo":"110100|A12345678|张三|1|"})",
     R"({"method":"iReadCardBas","retVal":0,"outInfo":"library|iReadCardBas|2|"})"},
    {R"({"method":"iReadCardBas_HSM_Step1","args":{"icType":1}})",
     R"({"command":"iReadCardBas_HSM_Step1","param":{"iType":1}})",
     R"({"method":"iReadCardBas_HSM_Step1","retVal":0,"outInfo":"110100|A12345678|3F00|9F2E1A|"})",
     R"({"method":"iReadCardBas_HSM_Step1","retVal":0,"outInfo":"library|Step1|1|"})"},
    {R"({"method":"iReadCardBas_HSM_Step2","args":{"key":"K1"}})",
     R"({"command":"iReadCardBas_HSM_Step2","param":{"Key":"K1"}})",
     R"({"method":"iReadCardBas_HSM_Step2","retVal":0,"outInfo":"110100|A12345678|张三|1|"})",
     R"({"method":"iReadCardBas_HSM_Step2","retVal":0,"outInfo":"library|Step2|K1|"})"},
    // The terminal is given outTimes; the library reads a bank card (kind 3) whatever it is.
    {R"({"method":"iReadICCardNum","args":{"outTimes":9}})",
     R"({"command":"iReadICCardNum","param":{"timeOut":9}})",
     R"({"method":"iReadICCardNum","retVal":0,"CardNum":"6217000010001234567"})",
     R"({"method":"iReadICCardNum","retVal":0,"CardNum":"library|bank|3|"})"},
};

TEST_F(CardRequests, CardReadsUseTheTerminalWithoutTheLibrary) {
    for (const CardReadCase& c : kCardReads) {
        const size_t before = terminal().Commands().size();
        EXPECT_EQ(call(c.request), c.terminal_reply);
        const auto commands = terminal().Commands();
        ASSERT_EQ(commands.size(), before + 1) << c.request;
        EXPECT_EQ(commands.back(), c.terminal_command);
    }
}

TEST_F(CardRequests, CardReadsUseTheLibraryOnceItIsThere) {
    install_card_library(CARD_LIBRARY_DOUBLE);
    for (const CardReadCase& c : kCardReads) EXPECT_EQ(call(c.request), c.library_reply);
    // The library's own failure and text, unchanged.
    EXPECT_EQ(
        call(R"({"method":"iReadCardBas_HSM_Step2","args":{"key":"refused"}})"),
        R"({"method":"iReadCardBas_HSM_Step2","retVal":-25,"outInfo":"密钥校验失败 \"refused\""})");
    EXPECT_TRUE(commands_received().empty());

    // Taken out again, the terminal reads the cards.
    fs::remove(card_library());
    EXPECT_EQ(call(kCardReads[0].request), kCardReads[0].terminal_reply);
}

TEST_F(CardRequests, ReadIdentityCardThroughTheLibrary) {
    EXPECT_EQ(
        call(R"({"method":"iReadIdentityCard","args":{}})"),
        R"({"method":"iReadIdentityCard","retVal":-20,"idCardInfo":"","photoBase64":"","photoFrontBase64":"","photoBackBase64":"","errMsg":""})");
    install_card_library(CARD_LIBRARY_DOUBLE);
    // The library's two leading characters are not part of the identity text.
    EXPECT_EQ(
        call(R"({"method":"iReadIdentityCard","args":{}})"),
        R"({"method":"iReadIdentityCard","retVal":0,"idCardInfo":"01张三|男|汉|19900101|北京市东城区|110101199001011234|","photoBase64":"UEhPVE8=","photoFrontBase64":"","photoBackBase64":"","errMsg":""})");
}

// icType chooses the card: without it nothing is read, on either path.
TEST_F(CardRequests, CardReadWithoutCardKindIsRefused) {
    const std::string refused = R"({"method":"iReadCardBas","retVal":-1,"outInfo":"参数错误"})";
    EXPECT_EQ(call(R"({"method":"iReadCardBas","args":{}})"), refused);
    install_card_library(CARD_LIBRARY_DOUBLE);
    EXPECT_EQ(call(R"({"method":"iReadCardBas","args":{"icType":"2"}})"), refused);
    EXPECT_TRUE(commands_received().empty());
}

// ---- the card module's address ----

TEST_F(CardRequests, SetHsmUrlRewritesTheCardModuleSettings) {
    const std::string settings = resolve("#/CardReader/SIReader.ini");
    EXPECT_EQ(call(R"({"method":"SetHSMURL","args":{"url":"https://hsm.bank.example:8443/api"}})"),
              R"({"method":"SetHSMURL","retVal":-1,"errMsg":""})");
    EXPECT_EQ(read_file(settings), kAbsent);

    write_file(settings, "[WEB]\nURL=\nTimeout=5\n[LOG]\nURL=keep\n");
    EXPECT_EQ(call(R"({"method":"SetHSMURL","args":{"url":"https://hsm.bank.example:8443/api"}})"),
              R"({"method":"SetHSMURL","retVal":0,"errMsg":""})");
    EXPECT_EQ(read_file(settings),
              "[WEB]\nURL= https://hsm.bank.example:8443/api\nTimeout=5\n[LOG]\nURL=keep\n");

    // A line break in the address would add lines of the page's choosing.
    EXPECT_EQ(call(R"({"method":"SetHSMURL","args":{"url":"x\n[WEB]\nTimeout=0"}})"),
              R"({"method":"SetHSMURL","retVal":-1,"errMsg":""})");
    EXPECT_EQ(read_file(settings),
              "[WEB]\nURL= https://hsm.bank.example:8443/api\nTimeout=5\n[LOG]\nURL=keep\n");
}

// The deployed settings hold the key that SetHSMURL rewrites (its value may have been set by
// then: other suites call SetHSMURL on the build's deploy folder).
TEST(CardModuleSettings, DeployedFileHasTheUrlKey) {
    const std::string settings =
        read_file(std::string(COUNTERMATE_DEPLOY_DIR) + "/CardReader/SIReader.ini");
    EXPECT_EQ(settings.rfind("[WEB]\nURL=", 0), 0u) << settings;
}

// ---- requests whose library is not in the working directory ----

TEST_F(CardRequests, ReaderAndRecognitionWithoutTheirLibraries) {
    EXPECT_EQ(
        call(R"({"method":"SDT_ReadIDCard","args":{"outTimes":1}})"),
        R"({"method":"SDT_ReadIDCard","retVal":-20,"idInfo":"","idPhotoBase64":"","errMsg":"加载动态库失败"})");
    for (const char* request : {R"({"method":"IDCardOCR","args":{"fileData":"/tmp/card.jpg"}})",
                                R"({"method":"ImageOCR","args":{"fileData":"/tmp/page.jpg"}})"}) {
        const CJsonObject reply = parse(call(request));
        int code = 0;
        std::string error;
        EXPECT_TRUE(reply.Get("retVal", code));
        EXPECT_TRUE(reply.Get("errMsg", error));
        EXPECT_EQ(code, -20) << request;
        EXPECT_NE(error.find("libcardvision.so"), std::string::npos) << error;
    }
    EXPECT_TRUE(commands_received().empty());
}

// A file of the right name that is not the card library: -20 and the terminal's text for it.
TEST(CardLibraryWithoutEntries, AnswersMinus20) {
    DeployCopy deploy({});
    fs::create_symlink(CARD_LIBRARY_WITHOUT_ENTRIES, deploy.path() + "/libSSCardDriver.so");
    ServiceOnSimulator service(deploy.path());
    ASSERT_TRUE(service.started());
    auto client = service.connect();
    const std::pair<const char*, const char*> cases[] = {
        {R"({"method":"iReadCardBas","args":{"icType":2}})",
         R"({"method":"iReadCardBas","retVal":-20,"outInfo":"其它错误"})"},
        {R"({"method":"iReadICCardNum","args":{}})",
         R"({"method":"iReadICCardNum","retVal":-20,"CardNum":"其它错误"})"},
        {R"({"method":"iReadIdentityCard","args":{}})",
         R"({"method":"iReadIdentityCard","retVal":-20,"idCardInfo":"","photoBase64":"","photoFrontBase64":"","photoBackBase64":"","errMsg":""})"},
    };
    for (const auto& [request, expected] : cases)
        EXPECT_EQ(call_service(*client, request), expected);
    EXPECT_TRUE(service.simulator().Commands().empty());
}

}  // namespace
}  // namespace countermate::testing
