// Every terminal request end to end: arguments and their defaults, the exact command texts the
// terminal received, the reply, and the files pushed to the terminal or pulled from it; then the
// failures (no terminal, refused commands, statusCode mappings, failed pulls, undecodable files)
// and the teller page made from the deployed template.
//
// Answers are scripted per row, so each row states what the terminal said. In the file lists a
// path under "/sdcard" or "/mnt/sdcard" is the terminal's storage and a path starting with "@/"
// is in the test's own folder on this machine ("@/" also stands for that folder in requests).
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

#include "service_test_base.h"

namespace countermate::testing {
namespace {

using Files = std::vector<std::pair<std::string, std::string>>;  // path, content
// As an expected content: the file must not exist.
const std::string kAbsent = "<absent>";
const std::string kDeployFolder = COUNTERMATE_DEPLOY_DIR;

const char* const kOk = R"({"success":true,"statusCode":0,"data":{}})";

struct Row {
    const char* name;
    std::string request;
    Files answers;                      // command name, the terminal's whole answer
    std::vector<std::string> commands;  // as the terminal received them, in order
    std::string reply;
    Files before = {};  // files in place before the request
    Files after = {};   // files expected after it
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return kAbsent;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A service test with a local folder, scripted answers and files on both sides, all undone at
// the end of the test.
class TerminalHandlerTest : public ServiceTest {
protected:
    void TearDown() override {
        for (const std::string& command : scripted_)
            terminal().Script(command, sim::CommandScript{});
        std::error_code ignored;
        for (const std::string& path : touched_) std::filesystem::remove(path, ignored);
        ServiceTest::TearDown();
    }

    std::string local(const std::string& text) const {
        return replace_all(text, "@/", folder_.path() + "/");
    }

    // The file that `path` names: in the test's folder, in the terminal's storage, or as it is.
    std::string resolve(const std::string& path) {
        std::string file = path.compare(0, 2, "@/") == 0 ? local(path)
                                                         : terminal().StoragePath(path);
        if (file.empty()) file = path;
        touched_.insert(file);
        return file;
    }

    void script(const std::string& command, const sim::CommandScript& how) {
        terminal().Script(command, how);
        scripted_.insert(command);
    }
    void answer(const std::string& command, const std::string& text) {
        sim::CommandScript how;
        how.answer = text;
        script(command, how);
    }

    void run(const Row& row) {
        for (const auto& [path, content] : row.before) write_file(resolve(path), content);
        for (const auto& [command, text] : row.answers) answer(command, text);
        EXPECT_EQ(call(local(row.request)), local(row.reply));
        EXPECT_EQ(commands_received(), row.commands);
        for (const auto& [path, content] : row.after) {
            EXPECT_EQ(read_file(resolve(path)), content) << path;
        }
    }

    TemporaryFolder folder_;
    std::set<std::string> scripted_;
    std::set<std::string> touched_;
};

class TerminalHandlerRows : public TerminalHandlerTest,
                            public ::testing::WithParamInterface<Row> {};

TEST_P(TerminalHandlerRows, SendsTheCommandsMovesTheFilesAndReplies) { run(GetParam()); }

std::string row_name(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

// ---- device, settings and printer ----
INSTANTIATE_TEST_SUITE_P(
    Settings, TerminalHandlerRows,
    ::testing::Values(
        Row{"PlaySoundWithoutName",
            R"({"method":"PlaySound","args":{}})",
            {{"PlaySound", kOk}},
            {R"({"command":"PlaySound","param":{"fn":""}})"},
            R"({"method":"PlaySound","retVal":0,"errMsg":"操作成功"})"},
        Row{"PlaySound",
            R"({"method":"PlaySound","args":{"soundFileName":"welcome.mp3"}})",
            {{"PlaySound", kOk}},
            {R"({"command":"PlaySound","param":{"fn":"welcome.mp3"}})"},
            R"({"method":"PlaySound","retVal":0,"errMsg":"操作成功"})"},
        // Texts with quotes from the terminal stay inside their strings.
        Row{"GetDevAndModulesInfo",
            R"({"method":"GetDevAndModulesInfo","args":{"modules":"idcard,finger"}})",
            {{"GetDevAndModulesInfo",
              R"({"success":true,"statusCode":0,"data":{"devID":"ZR-0042","apkVersion":"3.1.4","firmwareVersion":"fw \"B\"","moduleState":"{\"idcard\":0,\"finger\":1}"}})"}},
            {R"({"command":"GetDevAndModulesInfo","param":{"modules":"idcard,finger"}})"},
            R"({"method":"GetDevAndModulesInfo","retVal":0,"serialNo":"ZR-0042", "apkVersion":"3.1.4", "firmwareVersion":"fw \"B\"", "moduleState":"{\"idcard\":0,\"finger\":1}","errMsg":"操作成功"})"},
        Row{"WriteDeviceInfoReadsTheValueBack",
            R"({"method":"WriteDeviceInfo","args":{"key":"branch","value":"0101"}})",
            {{"WriteDeviceInfo", kOk},
             {"ReadDeviceInfo", R"({"success":true,"statusCode":0,"data":{"result":"0101"}})"}},
            {R"({"command":"WriteDeviceInfo","param":{"branch":"0101"}})",
             R"({"command":"ReadDeviceInfo","param":{"infoKey":"branch"}})"},
            R"({"method":"WriteDeviceInfo","retVal":0,"errMsg":"操作成功"})"},
        Row{"WriteDeviceInfoReadBackMismatch",
            R"({"method":"WriteDeviceInfo","args":{"key":"branch","value":"0101"}})",
            {{"WriteDeviceInfo", kOk},
             {"ReadDeviceInfo", R"({"success":true,"statusCode":0,"data":{"result":"0102"}})"}},
            {R"({"command":"WriteDeviceInfo","param":{"branch":"0101"}})",
             R"({"command":"ReadDeviceInfo","param":{"infoKey":"branch"}})"},
            R"({"method":"WriteDeviceInfo","retVal":-11,"errMsg":"设备执行失败"})"},
        Row{"WriteDeviceInfoRefusedIsNotReadBack",
            R"({"method":"WriteDeviceInfo","args":{"key":"branch","value":"0101"}})",
            {{"WriteDeviceInfo", R"({"success":false,"statusCode":0})"}},
            {R"({"command":"WriteDeviceInfo","param":{"branch":"0101"}})"},
            R"({"method":"WriteDeviceInfo","retVal":-11,"errMsg":"设备执行失败"})"},
        Row{"ReadDeviceInfo",
            R"({"method":"ReadDeviceInfo","args":{"key":"branch"}})",
            {{"ReadDeviceInfo", R"({"success":true,"statusCode":0,"data":{"result":"0101"}})"}},
            {R"({"command":"ReadDeviceInfo","param":{"infoKey":"branch"}})"},
            R"({"method":"ReadDeviceInfo","retVal":0,"value":"0101","errMsg":"操作成功"})"},
        Row{"StartInstallTool",
            R"({"method":"StartInstallTool","args":{}})",
            {{"StartInstallTool", kOk}},
            {R"({"command":"StartInstallTool"})"},
            R"({"method":"StartInstallTool","retVal":0,"errMsg":"操作成功"})"},
        Row{"OpenPrinter",
            R"({"method":"OpenPrinter","args":{}})",
            {{"OpenPrinter", kOk}},
            {R"({"command":"OpenPrinter"})"},
            R"({"method":"OpenPrinter","retVal":0,"errMsg":"操作成功"})"},
        Row{"ClosePrinter",
            R"({"method":"ClosePrinter","args":{}})",
            {{"ClosePrinter", kOk}},
            {R"({"command":"ClosePrinter"})"},
            R"({"method":"ClosePrinter","retVal":0,"errMsg":"操作成功"})"},
        Row{"PrintReceipt",
            R"({"method":"PrintReceipt","args":{"printInfo":"存款 100.00 元"}})",
            {{"PrintReceipt", kOk}},
            {R"({"command":"PrintReceipt","param":{"info":"存款 100.00 元"}})"},
            R"({"method":"PrintReceipt","retVal":0,"errMsg":"操作成功"})"},
        Row{"PrintQR",
            R"({"method":"PrintQR","args":{"qrInfo":"https://bank.example/q/42"}})",
            {{"PrintQR", kOk}},
            {R"({"command":"PrintQR","param":{"info":"https://bank.example/q/42"}})"},
            R"({"method":"PrintQR","retVal":0,"errMsg":"操作成功"})"}),
    row_name);

// ---- customer interactions ----
INSTANTIATE_TEST_SUITE_P(
    Interactions, TerminalHandlerRows,
    ::testing::Values(
        Row{"EvaluateDefaults",
            R"({"method":"Evaluate","args":{}})",
            {{"Evaluate", R"({"success":true,"statusCode":0,"data":{"EvaluateValue":3}})"}},
            {R"({"command":"Evaluate","param":{"to":30,"tc":"","ky":4,"uid":0}})"},
            R"({"method":"Evaluate","retVal":0,"evaluateValue":3,"errMsg":"操作成功"})"},
        Row{"EvaluateTwoKeysSentAsFour",
            R"({"method":"Evaluate","args":{"keyValue":2,"outTimes":15}})",
            {{"Evaluate", R"({"success":true,"statusCode":0,"data":{"EvaluateValue":1}})"}},
            {R"({"command":"Evaluate","param":{"to":15,"tc":"","ky":4,"uid":0}})"},
            R"({"method":"Evaluate","retVal":0,"evaluateValue":1,"errMsg":"操作成功"})"},
        Row{"EvaluateSixKeysSentAsFour",
            R"({"method":"Evaluate","args":{"keyValue":6,"outTimes":15}})",
            {{"Evaluate", R"({"success":true,"statusCode":0,"data":{"EvaluateValue":4}})"}},
            {R"({"command":"Evaluate","param":{"to":15,"tc":"","ky":4,"uid":0}})"},
            R"({"method":"Evaluate","retVal":0,"evaluateValue":4,"errMsg":"操作成功"})"},
        Row{"EvaluateFiveKeys",
            R"({"method":"Evaluate","args":{"keyValue":5,"outTimes":15}})",
            {{"Evaluate", R"({"success":true,"statusCode":0,"data":{"EvaluateValue":5}})"}},
            {R"({"command":"Evaluate","param":{"to":15,"tc":"","ky":5,"uid":0}})"},
            R"({"method":"Evaluate","retVal":0,"evaluateValue":5,"errMsg":"操作成功"})"},
        Row{"EvaluateSix",
            R"({"method":"EvaluateSix","args":{"outTimes":20}})",
            {{"AppraiseSix", R"({"success":true,"statusCode":0,"data":{"AppraiseValue":6}})"}},
            {R"({"command":"AppraiseSix","param":{"timeOut":20}})"},
            R"({"method":"EvaluateSix","retVal":0,"evaluateValue":6,"errMsg":"操作成功"})"},
        Row{"ShowInformationWaitsSixtySecondsByDefault",
            R"({"method":"ShowInformation","args":{"showInfo":"<p>请核对</p>","isUrl":1}})",
            {{"Information", kOk}},
            {R"({"command":"Information","param":{"timeOut":60,"html":"<p>请核对</p>","isUrl":true}})"},
            R"({"method":"ShowInformation","retVal":0,"errMsg":"操作成功"})"},
        Row{"ShowAndConfirmInformation",
            R"({"method":"ShowAndConfirmInformation","args":{"outTimes":10,"showInfo":"http://intranet/terms","isUrl":0}})",
            {{"Interactive", R"({"success":true,"statusCode":0,"data":{"InteractiveValue":1}})"}},
            {R"({"command":"Interactive","param":{"timeOut":10,"html":"http://intranet/terms","isUrl":false}})"},
            R"({"method":"ShowAndConfirmInformation","retVal":0,"interactiveValue":1,"errMsg":"操作成功"})"},
        Row{"ShowPdfAndConfirm",
            R"({"method":"ShowPdfAndConfirm","args":{"outTimes":30,"pdfPath":"@/terms.pdf"}})",
            {{"ShowPdfSignOrFinger", R"({"success":true,"statusCode":0,"data":{"statusCode":0}})"}},
            {R"({"command":"ShowPdfSignOrFinger","param":{"timeout":30,"signtype":0}})"},
            R"({"method":"ShowPdfAndConfirm","retVal":0,"confirmResult":1,"errMsg":"操作成功"})",
            {{"@/terms.pdf", "PDF"}},
            {{"/sdcard/ZR/CounterMate/temp/srcPdf.pdf", "PDF"}}},
        // A Base64 picture is decoded into a temporary file, pushed, and the file removed.
        Row{"ShowPicturesFromBase64",
            R"({"method":"ShowPictures","args":{"outTimes":15,"showType":1,"fileForm":1,"fileData":"UElDVFVSRQ=="}})",
            {{"ShowPictures", R"({"success":true,"statusCode":0,"data":{"interactiveValue":1}})"}},
            {R"({"command":"ShowPictures","param":{"timeOut":15,"type":1}})"},
            R"({"method":"ShowPictures","retVal":0,"interactiveValue":1,"errMsg":"操作成功"})",
            {},
            {{"/sdcard/ZR/CounterMate/ordos/confirmation.png", "PICTURE"},
             {kDeployFolder + "/Temp/temp.jpg", kAbsent}}},
        Row{"ShowPicturesFromFile",
            R"({"method":"ShowPictures","args":{"fileData":"@/code.png"}})",
            {{"ShowPictures", R"({"success":true,"statusCode":0,"data":{"interactiveValue":0}})"}},
            {R"({"command":"ShowPictures","param":{"timeOut":30,"type":0}})"},
            R"({"method":"ShowPictures","retVal":0,"interactiveValue":0,"errMsg":"操作成功"})",
            {{"@/code.png", "PICTURE"}},
            {{"/sdcard/ZR/CounterMate/ordos/collection_code.png", "PICTURE"}}},
        Row{"SignaturePlaybackFromBase64",
            R"({"method":"SignaturePlayback","args":{"outTimes":15,"fileForm":1,"fileData":"VFJBQ0s="}})",
            {{"SignaturePlayback", kOk}},
            {R"({"command":"SignaturePlayback","param":{"timeOut":15}})"},
            R"({"method":"SignaturePlayback","retVal":0,"errMsg":"操作成功"})",
            {},
            {{"/sdcard/ZR/Countermate/temp/signatrue_playback.txt", "TRACK"}}},
        Row{"PictureOCR",
            R"({"method":"PictureOCR","args":{"outTimes":15,"fileData":"@/form.png"}})",
            {{"OCR",
              R"({"success":true,"statusCode":0,"data":{"result":"户名：\"张三\"\\账号"}})"}},
            {R"({"command":"OCR","param":{"timeOut":15}})"},
            R"({"method":"PictureOCR","retVal":0,"text":"户名：\"张三\"\\账号","errMsg":"操作成功"})",
            {{"@/form.png", "PICTURE"}},
            {{"/sdcard/ZR/Countermate/temp/ocr.png", "PICTURE"}}},
        // Without outTimes the customer has 30 seconds.
        Row{"ReadQRText",
            R"({"method":"ReadQR","args":{}})",
            {{"ReadQR", R"({"success":true,"statusCode":0,"data":{"code":"6222020200112233"}})"}},
            {R"({"command":"ReadQR","param":{"timeOut":30}})"},
            R"({"method":"ReadQR","retVal":0,"qrCode":"6222020200112233","errMsg":""})"},
        Row{"ReadQRObjectIsEmbedded",
            R"({"method":"ReadQR","args":{"outTimes":5}})",
            {{"ReadQR", R"({"success":true,"statusCode":0,"data":{"code":"{\"id\":1}"}})"}},
            {R"({"command":"ReadQR","param":{"timeOut":5}})"},
            R"({"method":"ReadQR","retVal":0,"qrCode":{"id":1},"errMsg":""})"},
        Row{"ReadQROpenBraceOnlyIsQuoted",
            R"({"method":"ReadQR","args":{"outTimes":5}})",
            {{"ReadQR", R"({"success":true,"statusCode":0,"data":{"code":"{\"id\":1"}})"}},
            {R"({"command":"ReadQR","param":{"timeOut":5}})"},
            R"({"method":"ReadQR","retVal":0,"qrCode":"{\"id\":1","errMsg":""})"},
        // Braces around text that is not JSON: quoted, so the reply stays JSON.
        Row{"ReadQRBracedTextIsQuoted",
            R"({"method":"ReadQR","args":{"outTimes":5}})",
            {{"ReadQR", R"({"success":true,"statusCode":0,"data":{"code":"{id:1}"}})"}},
            {R"({"command":"ReadQR","param":{"timeOut":5}})"},
            R"({"method":"ReadQR","retVal":0,"qrCode":"{id:1}","errMsg":""})"},
        Row{"ReadQRRefused",
            R"({"method":"ReadQR","args":{"outTimes":5}})",
            {{"ReadQR", R"({"success":false,"statusCode":0})"}},
            {R"({"command":"ReadQR","param":{"timeOut":5}})"},
            R"({"method":"ReadQR","retVal":-11,"qrCode":"","errMsg":"设备执行失败"})"},
        Row{"ReadQR_Qinglan",
            R"({"method":"ReadQR_Qinglan","args":{"outTimes":5}})",
            {{"ReadQR_Qinglan", R"({"success":true,"statusCode":0,"data":{"code":"{\"id\":2}"}})"}},
            {R"({"command":"ReadQR_Qinglan","param":{"timeOut":5}})"},
            R"({"method":"ReadQR_Qinglan","retVal":0,"qrCode":{"id":2},"errMsg":""})"},
        Row{"GenerateQRCode",
            R"({"method":"GenerateQRCode","args":{"outTimes":20,"qrContent":"pay:42"}})",
            {{"QRCodeWriter", kOk}},
            {R"({"command":"QRCodeWriter","param":{"timeOut":20,"qrContent":"pay:42"}})"},
            R"({"method":"GenerateQRCode","retVal":0,"errMsg":"操作成功"})"},
        Row{"Login",
            R"({"method":"Login","args":{"userName":"李明","userNo":"0042","userStar":4}})",
            {{"SignIn", kOk}},
            {R"({"command":"SignIn","param":{"uid":0,"uno":"0042","uname":"李明","orgname":"","level":4,"upicurl":"userImg/0042.jpg","motto":"","logourl":"","picplaytime":30,"userPosition":"","checkevms":0}})"},
            R"({"method":"Login","retVal":0,"errMsg":"操作成功"})"},
        Row{"Logout",
            R"({"method":"Logout","args":{}})",
            {{"SignOut", kOk}},
            {R"({"command":"SignOut"})"},
            R"({"method":"Logout","retVal":0,"errMsg":"操作成功"})"}),
    row_name);

const char* const kCardAnswer =
    R"({"success":true,"statusCode":0,"data":{"name":"张三","sex":"男","birthday":"19900101","id_num":"110101199001011234"}})";

// ---- capture ----
INSTANTIATE_TEST_SUITE_P(
    Capture, TerminalHandlerRows,
    ::testing::Values(
        Row{"ReadIDCardToFiles",
            R"({"method":"ReadIDCard","args":{"idPotoPath":"@/photo.png","idNegativePath":"@/back.png","idPositivePath":"@/front.png"}})",
            {{"idcard", kCardAnswer}},
            {R"({"command":"idcard","param":{"timeOut":20}})"},
            std::string(R"({"method":"ReadIDCard","retVal":0,"idInfo":)") + kCardAnswer +
                R"(,"errMsg":"操作成功"})",
            {{"/sdcard/ZR/CounterMate/temp/idcard_photo.png", "PHOTO"},
             {"/sdcard/ZR/CounterMate/temp/idcard_negative_photo.png", "BACK"},
             {"/sdcard/ZR/CounterMate/temp/idcard_positive_photo.png", "FRONT"}},
            {{"@/photo.png", "PHOTO"}, {"@/back.png", "BACK"}, {"@/front.png", "FRONT"}}},
        Row{"ReadIDCard_Base64FromTheSecondReader",
            R"({"method":"ReadIDCard_Base64","args":{"outTimes":30,"cardReader":1}})",
            {{"idcard_TY", kCardAnswer}},
            {R"({"command":"idcard_TY","param":{"timeOut":30}})"},
            std::string(R"({"method":"ReadIDCard_Base64","retVal":0,"idInfo":)") + kCardAnswer +
                R"(,"idPhotoPicBase64":"UEhPVE8=","idPositivePicBase64":"RlJPTlQ=","idNegativePicBase64":"QkFDSw==","errMsg":"操作成功"})",
            {{"/sdcard/ZR/CounterMate/temp/idcard_photo.png", "PHOTO"},
             {"/sdcard/ZR/CounterMate/temp/idcard_negative_photo.png", "BACK"},
             {"/sdcard/ZR/CounterMate/temp/idcard_positive_photo.png", "FRONT"}}},
        Row{"GetFingerPrint",
            R"({"method":"GetFingerPrint","args":{"picWidth":256,"picHeight":360,"fingerPath":"@/finger.png"}})",
            {{"Fingerprint", R"({"success":true,"statusCode":0,"data":{"fingerDat":"QUJD"}})"}},
            {R"({"command":"Fingerprint","param":{"timeOut":60,"picType":"ptPng","picWidth":256,"picHeight":360,"isPicEqual":0}})"},
            R"({"method":"GetFingerPrint","retVal":0, "fingerDat":"QUJD","errMsg":"操作成功"})",
            {{"/sdcard/ZR/CounterMate/temp/bitmaRed.png", "FINGER"}},
            {{"@/finger.png", "FINGER"}}},
        Row{"GetFingerPrint_Base64",
            R"({"method":"GetFingerPrint_Base64","args":{"outTimes":20,"picWidth":256,"picHeight":360}})",
            {{"Fingerprint", R"({"success":true,"statusCode":0,"data":{"fingerDat":"QUJD"}})"}},
            {R"({"command":"Fingerprint","param":{"timeOut":20,"picType":"ptPng","picWidth":256,"picHeight":360,"isPicEqual":0}})"},
            R"({"method":"GetFingerPrint_Base64","retVal":0,"fingerPicPathBase64":"RklOR0VS", "fingerDat":"QUJD","errMsg":"操作成功"})",
            {{"/sdcard/ZR/CounterMate/temp/bitmaRed.png", "FINGER"}}},
        Row{"GetSignName",
            R"({"method":"GetSignName","args":{"outTimes":20,"signPath":"@/sign.png","signDataPath":"@/sign.txt"}})",
            {{"SigningStatement", kOk}},
            {R"({"command":"SigningStatement","param":{"timeOut":20,"voiceText":"请在指定位置签名","picHeight":480,"picWidth":640,"picType":"ptPng","isPicEqual":1,"declText":"签名区域"}})"},
            R"({"method":"GetSignName","retVal":0,"errMsg":"操作成功"})",
            {{"/sdcard/ZR/CounterMate/temp/voice_decl_signatrue.png", "SIGN"},
             {"/sdcard/ZR/CounterMate/temp/voice_signatrue.txt", "TRACK"}},
            {{"@/sign.png", "SIGN"}, {"@/sign.txt", "TRACK"}}},
        Row{"GetSignName_Base64",
            R"({"method":"GetSignName_Base64","args":{"outTimes":20}})",
            {{"SigningStatement", kOk}},
            {R"({"command":"SigningStatement","param":{"timeOut":20,"voiceText":"请在指定位置签名","picHeight":480,"picWidth":640,"picType":"ptPng","isPicEqual":1,"declText":"签名区域"}})"},
            R"({"method":"GetSignName_Base64","retVal":0,"signPicBase64":"U0lHTg==","errMsg":"操作成功"})",
            {{"/sdcard/ZR/CounterMate/temp/voice_decl_signatrue.png", "SIGN"}}},
        Row{"GetPhoto_Base64",
            R"({"method":"GetPhoto_Base64","args":{"outTimes":10}})",
            {{"TakePhoto", R"({"success":true,"statusCode":0,"data":{"photoBase64":"UEhPVE8="}})"}},
            {R"({"command":"TakePhoto","param":{"timeOut":10}})"},
            R"({"method":"GetPhoto_Base64","retVal":0,"photoBase64":"UEhPVE8=","errMsg":"操作成功"})"}),
    row_name);

// ---- failures ----
const char* const kCardPhoto = "/sdcard/ZR/CounterMate/temp/idcard_photo.png";

INSTANTIATE_TEST_SUITE_P(
    Failures, TerminalHandlerRows,
    ::testing::Values(
        // The common statusCode mapping: 1 cancelled, 2 timed out, -1 a terminal failure; the
        // rating is not read then.
        Row{"EvaluateCancelled",
            R"({"method":"Evaluate","args":{"keyValue":5}})",
            {{"Evaluate", R"({"success":true,"statusCode":1,"data":{"EvaluateValue":3}})"}},
            {R"({"command":"Evaluate","param":{"to":30,"tc":"","ky":5,"uid":0}})"},
            R"({"method":"Evaluate","retVal":-9,"evaluateValue":0,"errMsg":"取消当前操作"})"},
        Row{"EvaluateSixTimedOut",
            R"({"method":"EvaluateSix","args":{}})",
            {{"AppraiseSix", R"({"success":true,"statusCode":2,"data":{"AppraiseValue":3}})"}},
            {R"({"command":"AppraiseSix","param":{"timeOut":30}})"},
            R"({"method":"EvaluateSix","retVal":-2,"evaluateValue":0,"errMsg":"超时"})"},
        Row{"PictureOCRTerminalFailure",
            R"({"method":"PictureOCR","args":{"outTimes":15,"fileData":"@/form.png"}})",
            {{"OCR", R"({"success":true,"statusCode":-1,"data":{"result":"x"}})"}},
            {R"({"command":"OCR","param":{"timeOut":15}})"},
            R"({"method":"PictureOCR","retVal":-19,"text":"","errMsg":"其它错误"})",
            {{"@/form.png", "PICTURE"}}},
        // Where statusCode is not read, only success counts.
        Row{"ShowInformationIgnoresStatusCode",
            R"({"method":"ShowInformation","args":{"outTimes":5,"showInfo":"x"}})",
            {{"Information", R"({"success":true,"statusCode":1,"data":{}})"}},
            {R"({"command":"Information","param":{"timeOut":5,"html":"x","isUrl":false}})"},
            R"({"method":"ShowInformation","retVal":0,"errMsg":"操作成功"})"},
        Row{"ShowAndConfirmInformationRefused",
            R"({"method":"ShowAndConfirmInformation","args":{"outTimes":5,"showInfo":"x"}})",
            {{"Interactive", R"({"success":false,"statusCode":0})"}},
            {R"({"command":"Interactive","param":{"timeOut":5,"html":"x","isUrl":false}})"},
            R"({"method":"ShowAndConfirmInformation","retVal":-11,"interactiveValue":0,"errMsg":"设备执行失败"})"},
        Row{"GetPhoto_Base64Refused",
            R"({"method":"GetPhoto_Base64","args":{"outTimes":10}})",
            {{"TakePhoto", R"({"success":false,"statusCode":0})"}},
            {R"({"command":"TakePhoto","param":{"timeOut":10}})"},
            R"({"method":"GetPhoto_Base64","retVal":-11,"photoBase64":"","errMsg":"设备执行失败"})"},
        // A cancelled card read leaves no card data and pulls nothing.
        Row{"ReadIDCardCancelledHasNoCardData",
            R"({"method":"ReadIDCard","args":{"idPotoPath":"@/photo.png"}})",
            {{"idcard", R"({"success":true,"statusCode":1,"data":{}})"}},
            {R"({"command":"idcard","param":{"timeOut":20}})"},
            R"({"method":"ReadIDCard","retVal":-9,"idInfo":{},"errMsg":"取消当前操作"})",
            {{kCardPhoto, "PHOTO"}},
            {{"@/photo.png", kAbsent}}},
        // statusCode -1 does not end a card read: the files are still pulled.
        Row{"ReadIDCard_Base64WithStatusMinusOne",
            R"({"method":"ReadIDCard_Base64","args":{}})",
            {{"idcard", R"({"success":true,"statusCode":-1,"data":{}})"}},
            {R"({"command":"idcard","param":{"timeOut":20}})"},
            R"({"method":"ReadIDCard_Base64","retVal":0,"idInfo":{"success":true,"statusCode":-1,"data":{}},"idPhotoPicBase64":"UEhPVE8=","idPositivePicBase64":"RlJPTlQ=","idNegativePicBase64":"QkFDSw==","errMsg":"操作成功"})",
            {{kCardPhoto, "PHOTO"},
             {"/sdcard/ZR/CounterMate/temp/idcard_negative_photo.png", "BACK"},
             {"/sdcard/ZR/CounterMate/temp/idcard_positive_photo.png", "FRONT"}}},
        // The card photo is missing on the terminal: the pull's failure is the result.
        Row{"ReadIDCardPullFails",
            R"({"method":"ReadIDCard","args":{"idPotoPath":"@/photo.png","idNegativePath":"@/back.png","idPositivePath":"@/front.png"}})",
            {{"idcard", kCardAnswer}},
            {R"({"command":"idcard","param":{"timeOut":20}})"},
            std::string(R"({"method":"ReadIDCard","retVal":-11,"idInfo":)") + kCardAnswer +
                R"(,"errMsg":"设备执行失败"})",
            {},
            {{"@/photo.png", kAbsent}}},
        // A Base64 picture that does not decode never reaches the terminal.
        Row{"ShowPicturesUndecodable",
            R"({"method":"ShowPictures","args":{"outTimes":15,"showType":1,"fileForm":1,"fileData":"@@@@"}})",
            {},
            {},
            R"({"method":"ShowPictures","retVal":-8,"interactiveValue":0,"errMsg":"操作文件失败"})",
            {},
            {{"/sdcard/ZR/CounterMate/ordos/confirmation.png", kAbsent},
             {kDeployFolder + "/Temp/temp.jpg", kAbsent}}},
        Row{"SignaturePlaybackMissingFile",
            R"({"method":"SignaturePlayback","args":{"outTimes":15,"fileData":"@/none.txt"}})",
            {},
            {},
            R"({"method":"SignaturePlayback","retVal":-6,"errMsg":"文件不存在"})"}),
    row_name);

// A service whose libHid finds no terminal: every request reports the closed port, with its
// results at their start values, and a decoded file is not left behind.
TEST(TerminalHandlersWithoutTerminal, ReportThePortNotOpened) {
    ServiceWithoutTerminal service;
    ASSERT_TRUE(service.started());
    const std::pair<const char*, const char*> cases[] = {
        {R"({"method":"ReadQR","args":{"outTimes":5}})",
         R"({"method":"ReadQR","retVal":-3,"qrCode":"","errMsg":"端口没有打开"})"},
        {R"({"method":"ReadIDCard","args":{}})",
         R"({"method":"ReadIDCard","retVal":-3,"idInfo":{},"errMsg":"端口没有打开"})"},
        {R"({"method":"ReadIDCard_Base64","args":{}})",
         R"({"method":"ReadIDCard_Base64","retVal":-3,"idInfo":{},"idPhotoPicBase64":"","idPositivePicBase64":"","idNegativePicBase64":"","errMsg":"端口没有打开"})"},
        {R"({"method":"EvaluateByHtml","args":{"outTimes":5}})",
         R"({"method":"EvaluateByHtml","retVal":-3,"evaluateValue":{},"errMsg":"端口没有打开"})"},
        {R"({"method":"ShowAndConfirmInformation","args":{}})",
         R"({"method":"ShowAndConfirmInformation","retVal":-3,"interactiveValue":0,"errMsg":"端口没有打开"})"},
        {R"({"method":"ShowPdfAndConfirm","args":{"pdfPath":"/tmp/x.pdf"}})",
         R"({"method":"ShowPdfAndConfirm","retVal":-3,"confirmResult":0,"errMsg":"端口没有打开"})"},
        {R"({"method":"GetDevAndModulesInfo","args":{}})",
         R"({"method":"GetDevAndModulesInfo","retVal":-3,"serialNo":"", "apkVersion":"", "firmwareVersion":"", "moduleState":"","errMsg":"端口没有打开"})"},
        {R"({"method":"WriteDeviceInfo","args":{"key":"k","value":"v"}})",
         R"({"method":"WriteDeviceInfo","retVal":-3,"errMsg":"端口没有打开"})"},
        {R"({"method":"ShowPictures","args":{"fileForm":1,"fileData":"UElDVFVSRQ=="}})",
         R"({"method":"ShowPictures","retVal":-3,"interactiveValue":0,"errMsg":"端口没有打开"})"},
    };
    for (const auto& [request, expected] : cases) {
        EXPECT_EQ(call_service(service.client(), request), expected);
    }
    EXPECT_EQ(read_file(kDeployFolder + "/Temp/temp.jpg"), kAbsent);
}

// The teller page: made from the deployed template at sign-in, completed with the business for
// each rating, and dropped at sign-out.
class TellerPage : public TerminalHandlerTest {
protected:
    static constexpr const char* kPushedPage = "/sdcard/ZR/CounterMate/temp/evaluate.html";
};

TEST_F(TellerPage, SignInRateAndSignOut) {
    answer("SignIn", kOk);
    EXPECT_EQ(
        call(
            R"({"method":"LoginByHtml","args":{"userName":"李明","userNo":"0042","userStar":"4","userPosition":"大堂经理","orgName":"城东支行","headBase64":"SEVBRA=="}})"),
        R"({"method":"LoginByHtml","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(
        commands_received(),
        std::vector<std::string>{
            R"({"command":"SignIn","param":{"uid":0,"uno":"0042","uname":"李明","orgname":"城东支行","level":4,"upicurl":"userImg/0042.jpg","motto":"","logourl":"","picplaytime":30,"userPosition":"大堂经理","checkevms":0}})"});
    EXPECT_EQ(read_file(resolve("/mnt/sdcard/ZR/CounterMate/userImg/0042.jpg")), "HEAD");
    EXPECT_EQ(read_file(kDeployFolder + "/0042.jpg"), kAbsent);

    answer("EvaluateByHtml",
           R"({"success":true,"statusCode":0,"data":{"result":"{\"evaluate\":5}"}})");
    EXPECT_EQ(
        call(R"({"method":"EvaluateByHtml","args":{"outTimes":30,"businessName":"个人存款"}})"),
        R"({"method":"EvaluateByHtml","retVal":0,"evaluateValue":{"evaluate":5},"errMsg":"操作成功"})");
    EXPECT_EQ(commands_received().back(), R"({"command":"EvaluateByHtml","param":{"outTime":30}})");
    const std::string page = read_file(resolve(kPushedPage));
    for (const char* filled :
         {"李明", "0042", "大堂经理", "城东支行", "个人存款", "data:image/jpeg;base64,SEVBRA=="}) {
        EXPECT_NE(page.find(filled), std::string::npos) << filled;
    }
    EXPECT_EQ(page.find('$'), std::string::npos) << "a placeholder was left in the page";
    EXPECT_EQ(read_file(kDeployFolder + "/Temp/Evaluate_temp2.html"), kAbsent);

    // A failed rating carries an empty evaluation, whatever the terminal wrote.
    answer("EvaluateByHtml",
           R"({"success":false,"statusCode":0,"data":{"result":"{\"evaluate\":5}"}})");
    EXPECT_EQ(
        call(R"({"method":"EvaluateByHtml","args":{"outTimes":30,"businessName":"个人存款"}})"),
        R"({"method":"EvaluateByHtml","retVal":-11,"evaluateValue":{},"errMsg":"设备执行失败"})");

    answer("SignOut", kOk);
    EXPECT_EQ(call(R"({"method":"LogoutByHtml","args":{}})"),
              R"({"method":"LogoutByHtml","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(commands_received().back(), R"({"command":"SignOut"})");
    EXPECT_EQ(read_file(kDeployFolder + "/Temp/Evaluate_temp.html"), kAbsent);

    // Without a teller page there is nothing to rate on.
    const size_t commands_before = commands_received().size();
    EXPECT_EQ(
        call(R"({"method":"EvaluateByHtml","args":{"outTimes":30}})"),
        R"({"method":"EvaluateByHtml","retVal":-8,"evaluateValue":{},"errMsg":"操作文件失败"})");
    EXPECT_EQ(commands_received().size(), commands_before);
}

// Without a head picture nothing is pushed; a name that holds a placeholder stays as it is.
TEST_F(TellerPage, SignInWithoutHeadPicture) {
    answer("SignIn", kOk);
    answer("EvaluateByHtml", R"({"success":true,"statusCode":0,"data":{"result":"{}"}})");
    answer("SignOut", kOk);
    EXPECT_EQ(call(R"({"method":"LoginByHtml","args":{"userName":"A$userNameB","userNo":"0043"}})"),
              R"({"method":"LoginByHtml","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(read_file(resolve("/mnt/sdcard/ZR/CounterMate/userImg/0043.jpg")), kAbsent);
    EXPECT_EQ(call(R"({"method":"EvaluateByHtml","args":{"outTimes":30}})"),
              R"({"method":"EvaluateByHtml","retVal":0,"evaluateValue":{},"errMsg":"操作成功"})");
    EXPECT_NE(read_file(resolve(kPushedPage)).find("A$userNameB"), std::string::npos);
    call(R"({"method":"LogoutByHtml","args":{}})");
}

// The simulated terminal's own answers, unscripted: a card read with real pictures, a stored
// value read back with its quotes, a code handed over as an object.
TEST_F(TerminalHandlerTest, SimulatedTerminalAnswers) {
    for (const char* file :
         {"idcard_photo.png", "idcard_negative_photo.png", "idcard_positive_photo.png"}) {
        resolve(std::string("/sdcard/ZR/CounterMate/temp/") + file);  // removed at the end
    }
    CJsonObject card = parse(call(R"({"method":"ReadIDCard_Base64","args":{}})"));
    int code = -1;
    std::string name;
    EXPECT_TRUE(card.Get("retVal", code) && code == 0);
    EXPECT_TRUE(card["idInfo"]["data"].Get("name", name) && !name.empty());
    for (const char* picture : {"idPhotoPicBase64", "idPositivePicBase64", "idNegativePicBase64"}) {
        std::string base64;
        card.Get(picture, base64);
        EXPECT_EQ(base64.compare(0, 11, "iVBORw0KGgo"), 0) << picture << " is not a PNG";
    }

    EXPECT_EQ(call(R"({"method":"WriteDeviceInfo","args":{"key":"branch","value":"城东\"01\""}})"),
              R"({"method":"WriteDeviceInfo","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(call(R"({"method":"ReadDeviceInfo","args":{"key":"branch"}})"),
              R"({"method":"ReadDeviceInfo","retVal":0,"value":"城东\"01\"","errMsg":"操作成功"})");

    CJsonObject qr = parse(call(R"({"method":"ReadQR_Qinglan","args":{"outTimes":5}})"));
    std::string ticket;
    EXPECT_TRUE(qr["qrCode"].Get("ticket", ticket)) << qr.ToString();
}

// Three large pictures make a reply past 2 MiB: it is sent whole, as valid JSON.
TEST_F(TerminalHandlerTest, LargeRepliesAreNeverCut) {
    const std::string picture(700 * 1024, 'P');
    const std::string folder = "/sdcard/ZR/CounterMate/temp/";
    for (const char* file :
         {"idcard_photo.png", "idcard_negative_photo.png", "idcard_positive_photo.png"}) {
        write_file(resolve(folder + file), picture);
    }
    answer("idcard", kCardAnswer);
    const std::string reply = call(R"({"method":"ReadIDCard_Base64","args":{}})", 60000);
    EXPECT_GT(reply.size(), size_t(2 * 1024 * 1024));
    CJsonObject parsed = parse(reply);
    std::string base64;
    EXPECT_TRUE(parsed.Get("idNegativePicBase64", base64));
    EXPECT_EQ(base64.size(), (picture.size() + 2) / 3 * 4);
}

// A cancel from another client ends a card read that waits for the customer; the terminal
// serves the next request as usual.
TEST_F(TerminalHandlerTest, CancelEndsAWaitingCardRead) {
    sim::CommandScript waits;
    waits.fault = sim::Fault::kNeverAnswer;
    script("idcard", waits);
    ASSERT_TRUE(client_->send_text(R"({"method":"ReadIDCard","args":{}})"));
    ASSERT_TRUE(terminal().WaitForCommands(commands_before_ + 1, 5000));

    auto canceller = service_->connect();
    std::string cancel_reply;
    ASSERT_TRUE(canceller->send_text(R"({"method":"CancelOpt","args":{}})"));
    ASSERT_TRUE(canceller->receive(cancel_reply, 10000));
    EXPECT_EQ(cancel_reply, R"({"method":"CancelOpt","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(next_message(10000),
              R"({"method":"ReadIDCard","retVal":-9,"idInfo":{},"errMsg":"取消当前操作"})");

    EXPECT_EQ(call(R"({"method":"GetDevID","args":{}})"),
              R"({"method":"GetDevID","retVal":0,"devID":"SIMDEV-0001","errMsg":"操作成功"})");
}

}  // namespace
}  // namespace countermate::testing
