// Base64 texts that the signing operations allocate: handed over whole, an allocated empty text
// where there is nothing to pull, and released by the driver when their pull fails (under the
// sanitizer build a text not released is reported as a leak).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

class TerminalSigningOperations : public SimulatedTerminal {
protected:
    void Store(const std::string& terminal_path, const std::string& content) {
        const std::string path = m_simulator->StoragePath(terminal_path);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteTestFile(path, content);
    }
    void Answer(const std::string& data) {
        sim::CommandScript script;
        script.answer = R"({"success":true,"data":)" + data + "}";
        m_simulator->Script("ShowPdfSignOrFinger", script);
    }
    struct Outputs {
        char* signed_pdf = nullptr;
        char* sign_image = nullptr;
        char* finger_image = nullptr;
        ~Outputs() {
            std::free(signed_pdf);
            std::free(sign_image);
            std::free(finger_image);
        }
    };
    int Sign(Outputs& outputs) {
        std::string pdf = LocalFile("contract.pdf", "%PDF-1.4 contract");
        return m_driver->ShowPdfSignAndFingerPoint_Base64(
            30, 3, &pdf[0], &outputs.signed_pdf, &outputs.sign_image, &outputs.finger_image);
    }
};

TEST_F(TerminalSigningOperations, PullsEachOutputAndReleasesTheOneThatFails) {
    Store("/sdcard/ZR/CounterMate/out/sign/pdf/4", "SIGNED");
    Store("/sdcard/ZR/CounterMate/out/sign/signImg/0", "SIGN");
    std::remove(m_simulator->StoragePath("/sdcard/ZR/CounterMate/out/sign/fingerImg/0").c_str());
    Answer(R"({"statusCode":0,"pdfCount":4,"signImgCount":2,"fingerImgCount":1})");
    Outputs outputs;
    EXPECT_EQ(Sign(outputs), -11);  // the terminal has no fingerprint image to send
    ASSERT_NE(outputs.signed_pdf, nullptr);
    EXPECT_STREQ(outputs.signed_pdf, "U0lHTkVE");
    ASSERT_NE(outputs.sign_image, nullptr);
    EXPECT_STREQ(outputs.sign_image, "U0lHTg==");  // the first image, not the last
    EXPECT_EQ(outputs.finger_image, nullptr);
}

TEST_F(TerminalSigningOperations, NoImageGivesAnAllocatedEmptyText) {
    Store("/sdcard/ZR/CounterMate/out/sign/pdf/1", "SIGNED");
    Answer(R"({"statusCode":0,"pdfCount":1,"signImgCount":0,"fingerImgCount":0})");
    Outputs outputs;
    EXPECT_EQ(Sign(outputs), 0);
    EXPECT_STREQ(outputs.signed_pdf, "U0lHTkVE");
    ASSERT_NE(outputs.sign_image, nullptr);
    EXPECT_STREQ(outputs.sign_image, "");
    ASSERT_NE(outputs.finger_image, nullptr);
    EXPECT_STREQ(outputs.finger_image, "");
}

TEST_F(TerminalSigningOperations, AFailedDocumentPullLeavesNothingAllocated) {
    std::remove(m_simulator->StoragePath("/sdcard/ZR/CounterMate/out/sign/pdf/9").c_str());
    Answer(R"({"statusCode":0,"pdfCount":9,"signImgCount":1,"fingerImgCount":1})");
    Outputs outputs;
    EXPECT_EQ(Sign(outputs), -11);
    EXPECT_EQ(outputs.signed_pdf, nullptr);
    EXPECT_EQ(outputs.sign_image, nullptr);
    EXPECT_EQ(outputs.finger_image, nullptr);
}

}  // namespace
}  // namespace countermate::terminal::testing
