// The calling interface between the service and the driver, the factory, the port and the
// configured packet size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "CCounterMate.h"
#include "DEV_CounterMate.h"
#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

// The virtual-table slot a pointer to a virtual member function designates. Under the Itanium
// C++ ABI such a pointer holds 1 plus the slot's byte offset in the table.
template <class Member>
size_t SlotOf(Member member) {
    static_assert(sizeof(member) == 2 * sizeof(uintptr_t), "Itanium member function pointer");
    uintptr_t words[2];
    std::memcpy(words, &member, sizeof words);
    EXPECT_EQ(words[0] % sizeof(void*), 1u) << "not a virtual function";
    return (words[0] - 1) / sizeof(void*);
}

// The service calls the driver by slot, so every operation must sit at its fixed place.
TEST(TerminalInterface, EveryOperationSitsAtItsSlot) {
    EXPECT_EQ(SlotOf(&CCounterMate::HIDOpenPort), 0u);
    EXPECT_EQ(SlotOf(&CCounterMate::HIDClosePort), 1u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetErrMsg), 2u);
    EXPECT_EQ(SlotOf(&CCounterMate::SetForcedReturn), 3u);
    EXPECT_EQ(SlotOf(&CCounterMate::CancelOpt), 4u);
    EXPECT_EQ(SlotOf(&CCounterMate::PlayVoice), 5u);
    EXPECT_EQ(SlotOf(&CCounterMate::PlaySound), 6u);
    EXPECT_EQ(SlotOf(&CCounterMate::StopService), 7u);
    EXPECT_EQ(SlotOf(&CCounterMate::RestoreService), 8u);
    EXPECT_EQ(SlotOf(&CCounterMate::Reboot), 9u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetSerialNo), 10u);
    EXPECT_EQ(SlotOf(&CCounterMate::SetSerialNo), 11u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetDevID), 12u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetApkVersion), 13u);
    EXPECT_EQ(SlotOf(&CCounterMate::SetVolume), 14u);
    EXPECT_EQ(SlotOf(&CCounterMate::InputNumber), 15u);
    EXPECT_EQ(SlotOf(&CCounterMate::UpdateApk), 16u);
    EXPECT_EQ(SlotOf(&CCounterMate::Evaluate), 17u);
    EXPECT_EQ(SlotOf(&CCounterMate::EvaluateSix), 18u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfAndConfirm), 19u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowInformation), 20u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowAndConfirmInformation), 21u);
    EXPECT_EQ(SlotOf(&CCounterMate::PushFile), 22u);
    EXPECT_EQ(SlotOf(&CCounterMate::PullFile), 23u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSign), 24u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSign_Base64), 25u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSignAndFingerPoint), 26u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSignAndFingerPoint_Base64), 27u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSignOrFingerCoordinates), 28u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSignOrFingerCoordinates_Base64), 29u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerPoints), 30u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerCoordinates), 31u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerPoints_Base64), 32u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerCoordinates_Base64), 33u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerPointsWithCms), 34u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerCoordinatesWithCms), 35u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerPointsWithCms_Base64), 36u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowDocumentSignOrFingerCoordinatesWithCms_Base64), 37u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSignOrFingerMultiDoc), 38u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPdfSignOrFingerMultiDoc_Base64), 39u);
    EXPECT_EQ(SlotOf(&CCounterMate::ReadIDCard), 40u);
    EXPECT_EQ(SlotOf(&CCounterMate::ReadIDCard_Base64), 41u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetFingerPrint), 42u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetFingerPrint_Base64), 43u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetSignName), 44u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetSignName_Base64), 45u);
    EXPECT_EQ(SlotOf(&CCounterMate::ReadQR), 46u);
    EXPECT_EQ(SlotOf(&CCounterMate::ReadQR_Qinglan), 47u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetPhoto_Base64), 48u);
    EXPECT_EQ(SlotOf(&CCounterMate::SignaturePlayback), 49u);
    EXPECT_EQ(SlotOf(&CCounterMate::PictureOCR), 50u);
    EXPECT_EQ(SlotOf(&CCounterMate::ShowPictures), 51u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetDevAndModulesInfo), 52u);
    EXPECT_EQ(SlotOf(&CCounterMate::FaceValidateWithIdCard_Base64), 53u);
    EXPECT_EQ(SlotOf(&CCounterMate::FingerValidateWithIdCard_Base64), 54u);
    EXPECT_EQ(SlotOf(&CCounterMate::FaceValidateWithIdCard), 55u);
    EXPECT_EQ(SlotOf(&CCounterMate::FaceValidateWithIdCardPhoto_Base64), 56u);
    EXPECT_EQ(SlotOf(&CCounterMate::FaceValidateWithPCPhoto), 57u);
    EXPECT_EQ(SlotOf(&CCounterMate::FaceValidateWithFacePhoto), 58u);
    EXPECT_EQ(SlotOf(&CCounterMate::Login), 59u);
    EXPECT_EQ(SlotOf(&CCounterMate::Logout), 60u);
    EXPECT_EQ(SlotOf(&CCounterMate::DownLoadFile), 61u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetFileInfo), 62u);
    EXPECT_EQ(SlotOf(&CCounterMate::DeleteFile), 63u);
    EXPECT_EQ(SlotOf(&CCounterMate::LoginByHtml), 64u);
    EXPECT_EQ(SlotOf(&CCounterMate::EvaluateByHtml), 65u);
    EXPECT_EQ(SlotOf(&CCounterMate::LogoutByHtml), 66u);
    EXPECT_EQ(SlotOf(&CCounterMate::OpenPrinter), 67u);
    EXPECT_EQ(SlotOf(&CCounterMate::ClosePrinter), 68u);
    EXPECT_EQ(SlotOf(&CCounterMate::PrintReceipt), 69u);
    EXPECT_EQ(SlotOf(&CCounterMate::PrintQR), 70u);
    EXPECT_EQ(SlotOf(&CCounterMate::GenerateQRCode), 71u);
    EXPECT_EQ(SlotOf(&CCounterMate::StartVideo), 72u);
    EXPECT_EQ(SlotOf(&CCounterMate::StopVideo), 73u);
    EXPECT_EQ(SlotOf(&CCounterMate::PauseVideo), 74u);
    EXPECT_EQ(SlotOf(&CCounterMate::KeepVideo), 75u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetVideoData), 76u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetVideoData_Base64), 77u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetCapturedImage), 78u);
    EXPECT_EQ(SlotOf(&CCounterMate::GetCapturedImageAndBase64), 79u);
    EXPECT_EQ(SlotOf(&CCounterMate::HIDSend), 80u);
    EXPECT_EQ(SlotOf(&CCounterMate::HidRead), 81u);
    EXPECT_EQ(SlotOf(&CCounterMate::HidWrite), 82u);
    EXPECT_EQ(SlotOf(&CCounterMate::PullFileAndBase64), 83u);
    EXPECT_EQ(SlotOf(&CCounterMate::iReadCardBas), 84u);
    EXPECT_EQ(SlotOf(&CCounterMate::iReadCardBas_HSM_Step1), 85u);
    EXPECT_EQ(SlotOf(&CCounterMate::iReadCardBas_HSM_Step2), 86u);
    EXPECT_EQ(SlotOf(&CCounterMate::iReadICCardNum), 87u);
    EXPECT_EQ(SlotOf(&CCounterMate::ReadIdentityCard), 88u);
    EXPECT_EQ(SlotOf(&CCounterMate::FileBase64Encode_GetLength), 89u);
    EXPECT_EQ(SlotOf(&CCounterMate::FileBase64Encode), 90u);
    EXPECT_EQ(SlotOf(&CCounterMate::FileBase64Decode), 91u);
    EXPECT_EQ(SlotOf(&CCounterMate::Base64Encode), 92u);
    EXPECT_EQ(SlotOf(&CCounterMate::Base64Decode), 93u);
    EXPECT_EQ(SlotOf(&CCounterMate::CamReadBarCode), 94u);
    EXPECT_EQ(SlotOf(&CCounterMate::StartInstallTool), 95u);
    EXPECT_EQ(SlotOf(&CCounterMate::WriteDeviceInfo), 96u);
    EXPECT_EQ(SlotOf(&CCounterMate::ReadDeviceInfo), 97u);
    EXPECT_EQ(SlotOf(&CCounterMate::SignNameScreen_Start), 98u);
    EXPECT_EQ(SlotOf(&CCounterMate::SignNameScreen_GetScreen), 99u);
    EXPECT_EQ(SlotOf(&CCounterMate::SignNameScreen_GetScreenBase64), 100u);
    EXPECT_EQ(SlotOf(&CCounterMate::SignNameScreen_End), 101u);
    EXPECT_EQ(SlotOf(&CCounterMate::StartComputerScreen), 102u);
    EXPECT_EQ(SlotOf(&CCounterMate::StopComputerScreen), 103u);
    EXPECT_EQ(SlotOf(&CCounterMate::PushFiles), 104u);
    EXPECT_EQ(SlotOf(&CCounterMate::UpdateApk_AfterPushAPK), 105u);
}

TEST(TerminalFactory, DestroyIgnoresNull) { DestroyCounterMate(nullptr); }

// Without its HID library the driver cannot work at all: the process ends, naming the cause.
TEST(TerminalFactoryDeathTest, MissingHidLibraryEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (chdir("/") != 0) std::abort();
            CreateCounterMate();
        },
        ::testing::ExitedWithCode(1), "libHid\\.so");
}

using TerminalPort = SimulatedTerminal;

TEST_F(TerminalPort, OpenTwiceAndCloseTwiceSucceed) {
    EXPECT_EQ(m_driver->HIDOpenPort(), 0);  // already open
    EXPECT_EQ(m_driver->HIDClosePort(), 0);
    EXPECT_EQ(m_driver->HIDClosePort(), 0);  // never asks the device again
}

TEST_F(TerminalPort, UnreachableDeviceGivesPortError) {
    DestroyCounterMate(m_driver);
    setenv("COUNTERMATE_HID_SIM", (m_folder + "/nobody.sock").c_str(), 1);
    m_driver = static_cast<CDEV_CounterMate*>(CreateCounterMate());
    EXPECT_EQ(m_driver->HIDOpenPort(), -3);
    // A command on a closed port fails in the link at once: its send fails.
    unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(m_driver->HIDSend(data, 4, 0), -4);
}

TEST(TerminalConfiguration, PacketSizeComesFromDeviceSection) {
    char folder[] = "/tmp/countermate-config-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/CONFIG.ini";
    struct Case {
        const char* device_section;
        int packet_size;
    } cases[] = {
        {"[DEVICE]\n", 512},  // key missing
        {"[DEVICE]\nHID_DATAPACKET_SIZE=64\n", 64},
        {"[DEVICE]\nHID_DATAPACKET_SIZE=1024\n", 1024},  // the largest report buffer
        {"[DEVICE]\nHID_DATAPACKET_SIZE=1025\n", 512},   // cannot be framed: default
        {"[DEVICE]\nHID_DATAPACKET_SIZE=3\n", 512},      // no room for one data byte
        {"[DEVICE]\nHID_DATAPACKET_SIZE=large\n", 512},
    };
    for (const Case& c : cases) {
        FILE* file = std::fopen(path.c_str(), "w");
        std::fputs(c.device_section, file);
        std::fclose(file);
        EXPECT_EQ(ReadPacketSize(path.c_str()), c.packet_size) << c.device_section;
    }
    std::remove(path.c_str());
    rmdir(folder);
}

}  // namespace
}  // namespace countermate::terminal::testing
