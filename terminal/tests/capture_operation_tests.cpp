// Identity cards, biometrics, codes, photos and face comparison: the exact command texts, the
// results, the files pushed before and pulled after, the statusCode rules and the waits.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <string>
#include <vector>

#include "OperationTable.h"

namespace countermate::terminal::testing {
namespace {

using TerminalCaptureOperations = OperationTable;

constexpr char kTemp[] = "/sdcard/ZR/CounterMate/temp/";
std::string Temp(const char* name) { return std::string(kTemp) + name; }

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// The card answer as the simulator sends it.
const std::string kCardAnswer =
    R"({"success":true,"statusCode":0,"data":{"name":"张三","sex":"男","nation":"汉",)"
    R"("birthday":"19900307","address":"北京市东城区正义路1号","id_num":"11010119900307803X",)"
    R"("maker":"北京市公安局东城分局","startData":"20200101","endDate":"20400101"}})";

class Outputs {
public:
    Outputs() : m_pictures(4, std::string(2 * 1024 * 1024, '\0')) {}
    char* text() { return m_text; }
    char* picture(int index) { return &m_pictures[index][0]; }

private:
    char m_text[3000] = {};
    std::vector<std::string> m_pictures;
};

TEST_F(TerminalCaptureOperations, CommandsResultsAndFiles) {
    const std::string local = m_folder + "/out-";
    const std::string track = LocalFile("track.txt", "1,2,512,0\n");
    const std::string picture = LocalFile("picture.png", "picture bytes");
    const std::string face = LocalFile("face.png", "face bytes");
    auto path = [&](const char* name) { return local + name; };
    Outputs out;
    double score = 0;
    RunRows({
        {"ReadIDCard from source 1",
         [&](std::string& o) {
             const int result = m_driver->ReadIDCard(0, 1, out.text(), path("photo").c_str(),
                                                     path("back").c_str(), path("front").c_str());
             o = std::string(out.text()) + "|" + Pulled(path("photo"), Temp("idcard_photo.png")) +
                 "|" + Pulled(path("back"), Temp("idcard_negative_photo.png")) + "|" +
                 Pulled(path("front"), Temp("idcard_positive_photo.png"));
             return result;
         },
         {R"({"command":"idcard_TY","param":{"timeOut":60}})"},
         0,
         kCardAnswer + "|pulled|pulled|pulled"},
        {"ReadIDCard from source 2 without local copies",
         [&](std::string&) { return m_driver->ReadIDCard(20, 2, out.text(), "", nullptr, ""); },
         {R"({"command":"idcard","param":{"timeOut":20}})"},
         0,
         ""},
        {"ReadIDCard_Base64",
         [&](std::string& o) {
             const int result = m_driver->ReadIDCard_Base64(15, 0, out.text(), out.picture(0),
                                                            out.picture(1), out.picture(2));
             o = PulledBase64(out.picture(0), Temp("idcard_photo.png")) + "|" +
                 PulledBase64(out.picture(1), Temp("idcard_positive_photo.png")) + "|" +
                 PulledBase64(out.picture(2), Temp("idcard_negative_photo.png"));
             return result;
         },
         {R"({"command":"idcard","param":{"timeOut":15}})"},
         0,
         "pulled|pulled|pulled"},
        {"GetFingerPrint",
         [&](std::string& o) {
             const int result =
                 m_driver->GetFingerPrint(0, 256, 360, &path("finger.png")[0], out.text());
             o = std::to_string(std::string(out.text()).size()) + "|" +
                 Pulled(path("finger.png"), Temp("bitmaRed.png"));
             return result;
         },
         {R"({"command":"Fingerprint","param":{"timeOut":60,"picType":"ptPng","picWidth":256,"picHeight":360,"isPicEqual":0}})"},
         0,
         "684|pulled"},
        {"GetFingerPrint_Base64",
         [&](std::string& o) {
             const int result =
                 m_driver->GetFingerPrint_Base64(10, 128, 128, out.picture(0), out.text());
             o = PulledBase64(out.picture(0), Temp("bitmaRed.png"));
             return result;
         },
         {R"({"command":"Fingerprint","param":{"timeOut":10,"picType":"ptPng","picWidth":128,"picHeight":128,"isPicEqual":0}})"},
         0,
         "pulled"},
        {"GetSignName",
         [&](std::string& o) {
             const int result =
                 m_driver->GetSignName(30, &path("sign.png")[0], &path("sign.txt")[0]);
             o = Pulled(path("sign.png"), Temp("voice_decl_signatrue.png")) + "|" +
                 Pulled(path("sign.txt"), Temp("voice_signatrue.txt"));
             return result;
         },
         {R"({"command":"SigningStatement","param":{"timeOut":30,"voiceText":"请在指定位置签名","picHeight":480,)"
          R"("picWidth":640,"picType":"ptPng","isPicEqual":1,"declText":"签名区域"}})"},
         0,
         "pulled|pulled"},
        {"GetSignName_Base64",
         [&](std::string& o) {
             const int result = m_driver->GetSignName_Base64(0, out.picture(0));
             o = PulledBase64(out.picture(0), Temp("voice_decl_signatrue.png"));
             return result;
         },
         {R"({"command":"SigningStatement","param":{"timeOut":60,"voiceText":"请在指定位置签名","picHeight":480,)"
          R"("picWidth":640,"picType":"ptPng","isPicEqual":1,"declText":"签名区域"}})"},
         0,
         "pulled"},
        {"ReadQR",
         [&](std::string& o) {
             const int result = m_driver->ReadQR(15, out.text());
             o = out.text();
             return result;
         },
         {R"({"command":"ReadQR","param":{"timeOut":15}})"},
         0,
         "https://counter.example/queue/A017"},
        {"ReadQR_Qinglan",
         [&](std::string& o) {
             const int result = m_driver->ReadQR_Qinglan(0, out.text());
             o = out.text();
             return result;
         },
         {R"({"command":"ReadQR_Qinglan","param":{"timeOut":0}})"},
         0,
         R"({"type":"queue","ticket":"A017"})"},
        {"GetPhoto_Base64",
         [&](std::string& o) {
             const int result = m_driver->GetPhoto_Base64(0, out.picture(0));
             o = std::string(out.picture(0)).substr(0, 11);
             return result;
         },
         {R"({"command":"TakePhoto","param":{"timeOut":60}})"},
         0,
         "iVBORw0KGgo"},
        {"SignaturePlayback",
         [&](std::string& o) {
             const int result = m_driver->SignaturePlayback(12, &std::string(track)[0]);
             o = Pushed(track, "/sdcard/ZR/Countermate/temp/signatrue_playback.txt");
             return result;
         },
         {R"({"command":"SignaturePlayback","param":{"timeOut":12}})"},
         0,
         "pushed"},
        {"PictureOCR",
         [&](std::string& o) {
             const int result = m_driver->PictureOCR(12, &std::string(picture)[0], out.text());
             o = std::string(out.text()) + "|" +
                 Pushed(picture, "/sdcard/ZR/Countermate/temp/ocr.png");
             return result;
         },
         {R"({"command":"OCR","param":{"timeOut":12}})"},
         0,
         "中华人民共和国居民身份证|pushed"},
        {"CamReadBarCode",
         [&](std::string& o) {
             const int result = m_driver->CamReadBarCode(&std::string(picture)[0], 0, out.text());
             o = std::string(out.text()) + "|" +
                 Pushed(picture, "/sdcard/ZR/Countermate/temp/qrcode_photo.jpg");
             return result;
         },
         {R"({"command":"CamReadQRCode","param":{"timeOut":60}})"},
         0,
         "6217000010001234567|pushed"},
        {"FaceValidateWithIdCard infrared without the scene",
         [&](std::string& o) {
             char empty[] = "";
             const size_t pulls = m_simulator->PullRequests().size();
             const int result = m_driver->FaceValidateWithIdCard(
                 20, 1, &score, out.text(), &path("p")[0], &path("b")[0], &path("f")[0], empty);
             o = Number(score) + "|" + std::to_string(PulledPaths(pulls).size()) + "|" +
                 Pulled(path("f"), Temp("idcard_positive_photo.png"));
             return result;
         },
         {R"({"command":"FaceValidateWithIdCardIR","param":{"timeOut":20}})"},
         0,
         "0.87|3|pulled"},
        {"FingerValidateWithIdCard_Base64",
         [&](std::string& o) {
             const int result = m_driver->FingerValidateWithIdCard_Base64(
                 25, &score, out.text(), out.picture(0), out.picture(1));
             o = Number(score) + "|" + PulledBase64(out.picture(0), Temp("finger_photo.jpg")) +
                 "|" + PulledBase64(out.picture(1), Temp("card_finger.txt"));
             return result;
         },
         {R"({"command":"FingerValidateWithIdCard","param":{"timeOut":25}})"},
         0,
         "0.92|pulled|pulled"},
        {"FaceValidateWithIdCardPhoto_Base64",
         [&](std::string& o) {
             const int result = m_driver->FaceValidateWithIdCardPhoto_Base64(
                 25, &std::string(picture)[0], &score, out.picture(0));
             o = Number(score) + "|" + PulledBase64(out.picture(0), Temp("scence_photo.png")) +
                 "|" + Pushed(picture, Temp("idcardPhotoFromPC.png"));
             return result;
         },
         {R"({"command":"FaceValidateWithIdCardPhoto","param":{"timeOut":25}})"},
         0,
         "0.81|pulled|pushed"},
        {"FaceValidateWithPCPhoto",
         [&](std::string& o) {
             const int result = m_driver->FaceValidateWithPCPhoto(25, &std::string(picture)[0],
                                                                  &std::string(face)[0], &score);
             o = Number(score) + "|" + Pushed(face, Temp("facePhotoFromPC.png"));
             return result;
         },
         {R"({"command":"FaceValidateWithPCPhoto","param":{"timeOut":25}})"},
         0,
         "0.78|pushed"},
        {"FaceValidateWithFacePhoto",
         [&](std::string& o) {
             const int result =
                 m_driver->FaceValidateWithFacePhoto(25, &std::string(face)[0], &score);
             o = Number(score);
             return result;
         },
         {R"({"command":"FaceValidateWithFacePhoto","param":{"timeOut":25}})"},
         0,
         "0.83"},
        {"iReadCardBas",
         [&](std::string& o) {
             const int result = m_driver->iReadCardBas(3, out.text());
             o = out.text();
             return result;
         },
         {R"({"command":"iReadCardBas","param":{"iType":3}})"},
         0,
         "110100|A12345678|张三|1|"},
        {"iReadCardBas_HSM_Step1",
         [&](std::string& o) {
             const int result = m_driver->iReadCardBas_HSM_Step1(1, out.text());
             o = out.text();
             return result;
         },
         {R"({"command":"iReadCardBas_HSM_Step1","param":{"iType":1}})"},
         0,
         "110100|A12345678|3F00|9F2E1A|"},
        {"iReadCardBas_HSM_Step2",
         [&](std::string& o) {
             char key[] = "9F2E1A00";
             const int result = m_driver->iReadCardBas_HSM_Step2(key, out.text());
             o = out.text();
             return result;
         },
         {R"({"command":"iReadCardBas_HSM_Step2","param":{"Key":"9F2E1A00"}})"},
         0,
         "110100|A12345678|张三|1|"},
        {"iReadICCardNum",
         [&](std::string& o) {
             const int result = m_driver->iReadICCardNum(30, out.text());
             o = out.text();
             return result;
         },
         {R"({"command":"iReadICCardNum","param":{"timeOut":30}})"},
         0,
         "6217000010001234567"},
    });
}

TEST_F(TerminalCaptureOperations, FaceComparisonWithCardChoosesItsCommandAndPulls) {
    struct Case {
        int infrared, source;
        const char* command;
    } cases[] = {{1, 1, "FaceValidateWithIdCardIR_TY"},
                 {1, 0, "FaceValidateWithIdCardIR"},
                 {0, 1, "FaceValidateWithIdCard_TY"},
                 {0, 2, "FaceValidateWithIdCard"}};
    Outputs out;
    for (const Case& c : cases) {
        double score = 0;
        const size_t pulls = m_simulator->PullRequests().size();
        // Null back and front outputs: only the photo and the scene are pulled.
        ASSERT_EQ(m_driver->FaceValidateWithIdCard_Base64(30, c.infrared, c.source, &score,
                                                          out.text(), out.picture(0), nullptr,
                                                          nullptr, out.picture(1)),
                  0);
        EXPECT_EQ(m_simulator->Commands().back(),
                  std::string(R"({"command":")") + c.command + R"(","param":{"timeOut":30}})");
        EXPECT_EQ(PulledPaths(pulls),
                  (std::vector<std::string>{Temp("idcard_photo.png"), Temp("scence_photo.png")}));
        EXPECT_EQ(PulledBase64(out.picture(1), Temp("scence_photo.png")), "pulled");
        EXPECT_EQ(score, 0.87);
        CJsonObject answer(std::string(out.text()));
        std::string name;
        EXPECT_TRUE(answer["data"].Get("name", name)) << out.text();
    }
}

TEST_F(TerminalCaptureOperations, PulledPicturesAreRealImages) {
    Outputs out;
    const std::string photo = m_folder + "/photo.png", front = m_folder + "/front.png",
                      finger = m_folder + "/finger.png", sign = m_folder + "/sign.png";
    ASSERT_EQ(m_driver->ReadIDCard(10, 0, out.text(), photo.c_str(), nullptr, front.c_str()), 0);
    ASSERT_EQ(m_driver->GetFingerPrint(10, 200, 300, &std::string(finger)[0], out.text()), 0);
    ASSERT_EQ(m_driver->GetSignName(10, &std::string(sign)[0], nullptr), 0);
    const struct {
        const std::string& path;
        int width, height;
    } pictures[] = {{photo, 102, 126}, {front, 214, 135}, {finger, 200, 300}, {sign, 640, 480}};
    for (const auto& picture : pictures) {
        const cv::Mat image = cv::imread(picture.path, cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(image.empty()) << picture.path;
        EXPECT_EQ(image.cols, picture.width) << picture.path;
        EXPECT_EQ(image.rows, picture.height) << picture.path;
    }
    double score = 0;
    ASSERT_EQ(m_driver->FingerValidateWithIdCard_Base64(10, &score, out.text(), nullptr, nullptr),
              0);
    const std::string jpeg = Stored(Temp("finger_photo.jpg"));
    EXPECT_FALSE(
        cv::imdecode(std::vector<unsigned char>(jpeg.begin(), jpeg.end()), cv::IMREAD_UNCHANGED)
            .empty());
}

TEST_F(TerminalCaptureOperations, StatusCodeRules) {
    // Reads that go on after statusCode -1 (the terminal's files decide) and those that fail.
    Outputs out;
    double score = 0;
    const std::string photo = m_folder + "/photo.png";
    struct Case {
        const char* command;
        std::function<int()> run;
        int result_for_failed_status;  // statusCode -1
    } cases[] = {
        {"idcard",
         [&] { return m_driver->ReadIDCard(10, 0, out.text(), photo.c_str(), nullptr, nullptr); },
         0},
        {"Fingerprint",
         [&] { return m_driver->GetFingerPrint_Base64(10, 64, 64, out.picture(0), out.text()); },
         0},
        {"SigningStatement", [&] { return m_driver->GetSignName_Base64(10, out.picture(0)); }, 0},
        {"iReadCardBas", [&] { return m_driver->iReadCardBas(3, out.text()); }, 0},
        {"TakePhoto", [&] { return m_driver->GetPhoto_Base64(10, out.picture(0)); }, -19},
        {"iReadICCardNum", [&] { return m_driver->iReadICCardNum(10, out.text()); }, -19},
        {"FaceValidateWithFacePhoto",
         [&] { return m_driver->FaceValidateWithFacePhoto(10, &std::string(photo)[0], &score); },
         -19},
    };
    LocalFile("photo.png", "face");
    for (const auto& c : cases) {
        const std::pair<int, int> outcomes[] = {{1, -9}, {2, -2}, {-1, c.result_for_failed_status}};
        for (const auto& [status_code, result] : outcomes) {
            sim::CommandScript script;
            script.status_code = status_code;
            m_simulator->Script(c.command, script);
            const size_t pulls = m_simulator->PullRequests().size();
            EXPECT_EQ(c.run(), result) << c.command << " " << status_code;
            if (result != 0) {
                EXPECT_EQ(PulledPaths(pulls).size(), 0u) << c.command << " pulls nothing";
            }
        }
        sim::CommandScript failing;
        failing.fail = true;
        m_simulator->Script(c.command, failing);
        EXPECT_EQ(c.run(), -11) << c.command;
        m_simulator->Script(c.command, sim::CommandScript());
    }
}

TEST_F(TerminalCaptureOperations, PullAndPushFailures) {
    Outputs out;
    // A card answer without the terminal's files: the answer is handed over, the pull fails.
    sim::CommandScript answer_only;
    answer_only.answer = kCardAnswer;
    m_simulator->Script("idcard", answer_only);
    const std::string photo = m_folder + "/photo.png";
    EXPECT_EQ(m_driver->ReadIDCard(10, 0, out.text(), photo.c_str(), nullptr, nullptr), -11);
    EXPECT_EQ(out.text(), kCardAnswer);
    // Files that must be pushed first: a missing local file sends no command.
    char missing[] = "/nonexistent/file";
    double score = 0;
    const size_t commands = m_simulator->Commands().size();
    EXPECT_EQ(m_driver->SignaturePlayback(10, missing), -6);
    EXPECT_EQ(m_driver->PictureOCR(10, missing, out.text()), -6);
    EXPECT_EQ(m_driver->CamReadBarCode(missing, 10, out.text()), -6);
    EXPECT_EQ(m_driver->FaceValidateWithIdCardPhoto_Base64(10, missing, &score, out.picture(0)),
              -6);
    EXPECT_EQ(m_driver->FaceValidateWithPCPhoto(10, &std::string(photo)[0], missing, &score), -6);
    EXPECT_EQ(m_simulator->Commands().size(), commands);
}

TEST_F(TerminalCaptureOperations, ReadIdentityCardFieldsAndMessage) {
    Outputs out;
    char message[200] = {};
    std::string fields(2 * 1024 * 1024, '\0');
    ASSERT_EQ(m_driver->ReadIdentityCard(&fields[0], message), 0);
    EXPECT_EQ(m_simulator->Commands().back(), R"({"command":"KVIdcard","param":{"timeOut":60}})");
    const std::string prefix =
        "张三|男|19900307|北京市东城区正义路1号|11010119900307803X|北京市公安局东城分局|20200101|20400101|";
    const std::string text = fields.c_str();
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text.substr(0, 200);
    EXPECT_EQ(PulledBase64(text.substr(prefix.size(), text.size() - prefix.size() - 1),
                           Temp("idcard_photo.png")),
              "pulled");
    EXPECT_EQ(text.back(), '|');
    EXPECT_STREQ(message, "操作成功");

    // A cancelled read leaves the fields alone and says why.
    sim::CommandScript cancelled;
    cancelled.status_code = 1;
    m_simulator->Script("KVIdcard", cancelled);
    char untouched[] = "previous";
    EXPECT_EQ(m_driver->ReadIdentityCard(untouched, message), -9);
    EXPECT_STREQ(untouched, "previous");
    EXPECT_STREQ(message, "取消当前操作");
}

TEST_F(TerminalCaptureOperations, WaitsForTheAnswer) {
    Outputs out;
    double score = 0;
    // Looks at the clock = seconds the answer is awaited + 3 (see LooksUntilTimedOut).
    EXPECT_EQ(LooksUntilTimedOut(
                  "Fingerprint",
                  [&] { return m_driver->GetFingerPrint(0, 64, 64, nullptr, out.text()); }),
              64u + 3);
    EXPECT_EQ(LooksUntilTimedOut("iReadICCardNum",
                                 [&] { return m_driver->iReadICCardNum(100, out.text()); }),
              7u + 3);
    EXPECT_EQ(
        LooksUntilTimedOut("KVIdcard",
                           [&] { return m_driver->ReadIdentityCard(out.picture(0), out.text()); }),
        64u + 3);
    EXPECT_EQ(
        LooksUntilTimedOut("iReadCardBas", [&] { return m_driver->iReadCardBas(1, out.text()); }),
        32u + 3);
    // A face comparison is awaited as long as the terminal is given, and at least 12 seconds.
    EXPECT_EQ(LooksUntilTimedOut("FaceValidateWithIdCard",
                                 [&] {
                                     return m_driver->FaceValidateWithIdCard(
                                         30, 0, &score, out.text(), nullptr, nullptr, nullptr,
                                         nullptr);
                                 }),
              34u + 3);
    EXPECT_EQ(LooksUntilTimedOut("FaceValidateWithIdCard",
                                 [&] {
                                     return m_driver->FaceValidateWithIdCard(
                                         3, 0, &score, out.text(), nullptr, nullptr, nullptr,
                                         nullptr);
                                 }),
              12u + 3);
}

}  // namespace
}  // namespace countermate::terminal::testing
