// The terminal as a device, its simple interactions and the teller's sign-in: the exact command
// texts, the results and the files pushed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OperationTable.h"

namespace countermate::terminal::testing {
namespace {

using TerminalDeviceOperations = OperationTable;

std::string Number(int value) { return std::to_string(value); }

TEST_F(TerminalDeviceOperations, CommandsResultsAndPushedFiles) {
    const std::string picture = LocalFile("picture.png", "picture bytes");
    const std::string package = LocalFile("app.apk", "package bytes");
    const std::string media = LocalFile("ad.mp4", "media bytes");
    Store("/mnt/sdcard/ZR/CounterMate/style/a.css", "a");
    Store("/mnt/sdcard/ZR/CounterMate/style/b.css", "b");
    Store("/mnt/sdcard/ZR/CounterMate/soundData/bell.wav", "ding");
    char text[4][1024] = {};
    int value = -100;
    auto reset = [&] {
        for (auto& buffer : text) buffer[0] = '\0';
        value = -100;
    };
    auto with_reset = [&](std::function<int(std::string&)> run) {
        return [reset, run](std::string& output) {
            reset();
            return run(output);
        };
    };
    char sound[] = "bell.wav", info[] = "一号窗口 A017", html[] = "<p>请核对</p>",
         url[] = "https://bank.example/terms";
    char modules[] = "idcard,finger", folder[] = "/sdcard/ZR/CounterMate/custom", empty[] = "",
         name[] = "ad.mp4", key[] = "branch", stored_value[] = "0101", user[] = "李四",
         user_no[] = "007";
    RunRows({
        {"PlaySound",
         with_reset([&](std::string&) { return m_driver->PlaySound(sound); }),
         {R"({"command":"PlaySound","param":{"fn":"bell.wav"}})"},
         0,
         ""},
        {"StopService",
         with_reset([&](std::string&) { return m_driver->StopService(); }),
         {R"({"command":"Notice","param":{"textsize":120,"text":"暂停服务","color":"#FFFFFFFF"}})"},
         0,
         ""},
        {"UpdateApk",
         with_reset([&](std::string& out) {
             const int result = m_driver->UpdateApk(&std::string(package)[0]);
             out = Pushed(package, "/sdcard/ZR/CounterMate/temp/temp.apk");
             return result;
         }),
         {R"({"command":"UpdateApk"})"},
         0,
         "pushed"},
        {"UpdateApk_AfterPushAPK",
         with_reset([&](std::string&) { return m_driver->UpdateApk_AfterPushAPK(); }),
         {R"({"command":"UpdateApk"})"},
         0,
         ""},
        {"Evaluate keeps 3 keys",
         with_reset([&](std::string& out) {
             const int result = m_driver->Evaluate(3, 15, &value);
             out = Number(value);
             return result;
         }),
         {R"({"command":"Evaluate","param":{"to":15,"tc":"","ky":3,"uid":0}})"},
         0,
         "1"},
        {"Evaluate sends 2 keys as 4 and time-out 0 as 30",
         with_reset([&](std::string&) { return m_driver->Evaluate(2, 0, &value); }),
         {R"({"command":"Evaluate","param":{"to":30,"tc":"","ky":4,"uid":0}})"},
         0,
         ""},
        {"Evaluate sends 6 keys as 4",
         with_reset([&](std::string&) { return m_driver->Evaluate(6, 20, &value); }),
         {R"({"command":"Evaluate","param":{"to":20,"tc":"","ky":4,"uid":0}})"},
         0,
         ""},
        {"EvaluateSix",
         with_reset([&](std::string& out) {
             const int result = m_driver->EvaluateSix(-5, &value);
             out = Number(value);
             return result;
         }),
         {R"({"command":"AppraiseSix","param":{"timeOut":30}})"},
         0,
         "1"},
        {"ShowInformation",
         with_reset([&](std::string&) { return m_driver->ShowInformation(0, html, 0); }),
         {R"({"command":"Information","param":{"timeOut":60,"html":"<p>请核对</p>","isUrl":false}})"},
         0,
         ""},
        {"ShowAndConfirmInformation",
         with_reset([&](std::string& out) {
             const int result = m_driver->ShowAndConfirmInformation(25, url, 7, &value);
             out = Number(value);
             return result;
         }),
         {R"({"command":"Interactive","param":{"timeOut":25,"html":"https://bank.example/terms","isUrl":true}})"},
         0,
         "1"},
        {"ShowPictures type 1",
         with_reset([&](std::string& out) {
             const int result = m_driver->ShowPictures(&std::string(picture)[0], 1, 20, &value);
             out = Pushed(picture, "/sdcard/ZR/CounterMate/ordos/confirmation.png") + "|" +
                   Number(value);
             return result;
         }),
         {R"({"command":"ShowPictures","param":{"timeOut":20,"type":1}})"},
         0,
         "pushed|1"},
        {"ShowPictures type 0",
         with_reset([&](std::string& out) {
             const int result = m_driver->ShowPictures(&std::string(picture)[0], 0, 5, &value);
             out = Pushed(picture, "/sdcard/ZR/CounterMate/ordos/collection_code.png");
             return result;
         }),
         {R"({"command":"ShowPictures","param":{"timeOut":5,"type":0}})"},
         0,
         "pushed"},
        {"ShowPictures type 2 is refused",
         with_reset([&](std::string& out) {
             const int result = m_driver->ShowPictures(&std::string(picture)[0], 2, 5, &value);
             out = Number(value);
             return result;
         }),
         {},
         -1,
         "-100"},
        {"GetDevAndModulesInfo",
         with_reset([&](std::string& out) {
             const int result =
                 m_driver->GetDevAndModulesInfo(modules, text[0], text[1], text[2], text[3]);
             out = std::string(text[0]) + "|" + text[1] + "|" + text[2] + "|" + text[3];
             return result;
         }),
         {R"({"command":"GetDevAndModulesInfo","param":{"modules":"idcard,finger"}})"},
         0,
         "SIMDEV-0001|sim-1.0|FW-2.3.1|idcard:1,finger:1"},
        {"DownLoadFile media reloads the media",
         with_reset([&](std::string& out) {
             const int result = m_driver->DownLoadFile(1, &std::string(media)[0], name);
             out = Pushed(media, "/mnt/sdcard/ZR/CounterMate/mediaData/ad.mp4");
             return result;
         }),
         {R"({"command":"ReloadMedia"})"},
         0,
         "pushed"},
        {"DownLoadFile to a full terminal path",
         with_reset([&](std::string& out) {
             char full[] = "/sdcard/ZR/CounterMate/custom/ad.mp4";
             const int result = m_driver->DownLoadFile(4, &std::string(media)[0], full);
             out = Pushed(media, full);
             return result;
         }),
         {},
         0,
         "pushed"},
        {"DownLoadFile without a name",
         with_reset([&](std::string&) {
             return m_driver->DownLoadFile(1, &std::string(media)[0], empty);
         }),
         {},
         -1,
         ""},
        {"DownLoadFile of an unknown kind",
         with_reset(
             [&](std::string&) { return m_driver->DownLoadFile(5, &std::string(media)[0], name); }),
         {},
         0,
         ""},
        {"GetFileInfo sound",
         with_reset([&](std::string& out) {
             const int result = m_driver->GetFileInfo(3, nullptr, text[0]);
             out = text[0];
             return result;
         }),
         {R"({"command":"GetFileInfos","param":{"remotePath":"/mnt/sdcard/ZR/CounterMate/soundData/"}})"},
         0,
         R"(["bell.wav"])"},
        {"GetFileInfo of the caller's folder",
         with_reset([&](std::string& out) {
             const int result = m_driver->GetFileInfo(4, folder, text[0]);
             out = text[0];
             return result;
         }),
         {R"({"command":"GetFileInfos","param":{"remotePath":"/sdcard/ZR/CounterMate/custom"}})"},
         0,
         R"(["ad.mp4"])"},
        {"GetFileInfo of an unknown kind",
         with_reset([&](std::string&) { return m_driver->GetFileInfo(8, folder, text[0]); }),
         {R"({"command":"GetFileInfos","param":{"remotePath":""}})"},
         0,
         ""},
        {"DeleteFile all style files",
         with_reset([&](std::string& out) {
             const int result = m_driver->DeleteFile(2, nullptr, empty, &value);
             out = Number(value);
             return result;
         }),
         {R"({"command":"RemoveFiles","param":{"remotePath":"/mnt/sdcard/ZR/CounterMate/style/*.*"}})"},
         0,
         "2"},
        {"DeleteFile one file of the caller's folder",
         with_reset([&](std::string& out) {
             char file_name[] = "/ad.mp4";
             const int result = m_driver->DeleteFile(4, folder, file_name, &value);
             out = Number(value);
             return result;
         }),
         {R"({"command":"RemoveFiles","param":{"remotePath":"/sdcard/ZR/CounterMate/custom/ad.mp4"}})"},
         0,
         "1"},
        {"DeleteFile all of the caller's folder",
         with_reset([&](std::string&) { return m_driver->DeleteFile(4, folder, empty, &value); }),
         {R"({"command":"RemoveFiles","param":{"remotePath":"/sdcard/ZR/CounterMate/custom/*.*"}})"},
         0,
         ""},
        {"OpenPrinter",
         with_reset([&](std::string&) { return m_driver->OpenPrinter(); }),
         {R"({"command":"OpenPrinter"})"},
         0,
         ""},
        {"ClosePrinter",
         with_reset([&](std::string&) { return m_driver->ClosePrinter(); }),
         {R"({"command":"ClosePrinter"})"},
         0,
         ""},
        {"PrintReceipt",
         with_reset([&](std::string&) { return m_driver->PrintReceipt(info); }),
         {R"({"command":"PrintReceipt","param":{"info":"一号窗口 A017"}})"},
         0,
         ""},
        {"PrintQR",
         with_reset([&](std::string&) { return m_driver->PrintQR(url); }),
         {R"({"command":"PrintQR","param":{"info":"https://bank.example/terms"}})"},
         0,
         ""},
        {"GenerateQRCode",
         with_reset([&](std::string&) { return m_driver->GenerateQRCode(30, url); }),
         {R"({"command":"QRCodeWriter","param":{"timeOut":30,"qrContent":"https://bank.example/terms"}})"},
         0,
         ""},
        {"StartInstallTool",
         with_reset([&](std::string&) { return m_driver->StartInstallTool(); }),
         {R"({"command":"StartInstallTool"})"},
         0,
         ""},
        {"WriteDeviceInfo",
         with_reset([&](std::string&) { return m_driver->WriteDeviceInfo(key, stored_value); }),
         {R"({"command":"WriteDeviceInfo","param":{"branch":"0101"}})"},
         0,
         ""},
        {"ReadDeviceInfo reads the stored value",
         with_reset([&](std::string& out) {
             const int result = m_driver->ReadDeviceInfo(key, text[0]);
             out = text[0];
             return result;
         }),
         {R"({"command":"ReadDeviceInfo","param":{"infoKey":"branch"}})"},
         0,
         "0101"},
        {"Login",
         with_reset([&](std::string&) { return m_driver->Login(user, user_no, 4); }),
         {R"({"command":"SignIn","param":{"uid":0,"uno":"007","uname":"李四","orgname":"","level":4,)"
          R"("upicurl":"userImg/007.jpg","motto":"","logourl":"","picplaytime":30,"userPosition":"","checkevms":0}})"},
         0,
         ""},
        {"Logout",
         with_reset([&](std::string&) { return m_driver->Logout(); }),
         {R"({"command":"SignOut"})"},
         0,
         ""},
    });
}

TEST_F(TerminalDeviceOperations, StatusCodesOfInteractions) {
    // InputNumber, Evaluate, EvaluateSix and ShowPictures judge statusCode; the others only
    // `success`.
    const std::string picture = LocalFile("picture.png", "picture bytes");
    struct Case {
        const char* command;
        std::function<int()> run;
        bool judges_status;
    };
    int value = 0;
    char number[200] = {};
    const Case cases[] = {
        {"InputNumber", [&] { return m_driver->InputNumber(2, 0, 6, 30, number); }, true},
        {"Evaluate", [&] { return m_driver->Evaluate(5, 30, &value); }, true},
        {"AppraiseSix", [&] { return m_driver->EvaluateSix(30, &value); }, true},
        {"ShowPictures",
         [&] { return m_driver->ShowPictures(&std::string(picture)[0], 0, 9, &value); }, true},
        {"Interactive", [&] { return m_driver->ShowAndConfirmInformation(9, nullptr, 0, &value); },
         false},
        {"Information", [&] { return m_driver->ShowInformation(9, nullptr, 0); }, false},
        {"QRCodeWriter", [&] { return m_driver->GenerateQRCode(9, nullptr); }, false},
    };
    const std::pair<int, int> common[] = {{1, -9}, {2, -2}, {-1, -19}, {3, 0}};
    for (const Case& c : cases) {
        for (const auto& [status_code, result] : common) {
            sim::CommandScript script;
            script.status_code = status_code;
            m_simulator->Script(c.command, script);
            EXPECT_EQ(c.run(), c.judges_status ? result : 0) << c.command << " " << status_code;
        }
        sim::CommandScript failing;
        failing.fail = true;
        m_simulator->Script(c.command, failing);
        EXPECT_EQ(c.run(), -11) << c.command;
        m_simulator->Script(c.command, sim::CommandScript());
    }
}

TEST_F(TerminalDeviceOperations, FailedPushSendsNoCommand) {
    char missing[] = "/nonexistent/picture.png";
    char name[] = "x.png";
    int value = 0;
    EXPECT_EQ(m_driver->ShowPictures(missing, 0, 5, &value), -6);
    EXPECT_EQ(m_driver->UpdateApk(missing), -6);
    EXPECT_EQ(m_driver->DownLoadFile(1, missing, name), -6);
    EXPECT_TRUE(m_simulator->Commands().empty());
}

TEST_F(TerminalDeviceOperations, InteractionWaitsForTheAnswer) {
    int value = 0;
    char html[] = "x";
    // Looks at the clock = seconds the answer is awaited + 3 (see LooksUntilTimedOut).
    EXPECT_EQ(LooksUntilTimedOut("Evaluate", [&] { return m_driver->Evaluate(4, 0, &value); }),
              32u + 3);
    EXPECT_EQ(
        LooksUntilTimedOut("Information", [&] { return m_driver->ShowInformation(0, html, 1); }),
        62u + 3);
    EXPECT_EQ(LooksUntilTimedOut(
                  "Interactive",
                  [&] { return m_driver->ShowAndConfirmInformation(20, html, 1, &value); }),
              24u + 3);
}

TEST_F(TerminalDeviceOperations, ShowPdfAndConfirmGivesTheOutcomeAsConfirmation) {
    const std::string pdf = LocalFile("contract.pdf", "%PDF-1.4 contract");
    int confirmation = -1;
    ASSERT_EQ(m_driver->ShowPdfAndConfirm(0, &std::string(pdf)[0], &confirmation), 0);
    EXPECT_EQ(m_simulator->Commands().back(),
              R"({"command":"ShowPdfSignOrFinger","param":{"timeout":60,"signtype":0}})");
    EXPECT_EQ(Pushed(pdf, "/sdcard/ZR/CounterMate/temp/srcPdf.pdf"), "pushed");
    EXPECT_EQ(confirmation, 1);

    const std::pair<int, int> outcomes[] = {{0, 1}, {1, 2},   {2, 3}, {3, 3},
                                            {4, 4}, {-1, -1}, {9, -1}};
    for (const auto& [status_code, expected] : outcomes) {
        sim::CommandScript script;
        script.answer = R"({"success":true,"data":{"statusCode":)" + std::to_string(status_code) +
                        "}}";
        m_simulator->Script("ShowPdfSignOrFinger", script);
        confirmation = -1;
        EXPECT_EQ(m_driver->ShowPdfAndConfirm(30, &std::string(pdf)[0], &confirmation), 0);
        EXPECT_EQ(confirmation, expected) << status_code;
    }
    // Without an answer there is no outcome to report.
    sim::CommandScript failing;
    failing.answer = R"({"success":false,"data":{"statusCode":0}})";
    m_simulator->Script("ShowPdfSignOrFinger", failing);
    confirmation = -1;
    EXPECT_EQ(m_driver->ShowPdfAndConfirm(30, &std::string(pdf)[0], &confirmation), -11);
    EXPECT_EQ(confirmation, -1);
    char missing[] = "/nonexistent.pdf";
    EXPECT_EQ(m_driver->ShowPdfAndConfirm(30, missing, &confirmation), -6);
}

}  // namespace
}  // namespace countermate::terminal::testing
