#include "request_table.h"

#include <algorithm>
#include <unordered_map>

#include "DEV_HUB.h"

namespace countermate {

namespace {

const std::unordered_map<std::string, RequestHandler>& request_handlers() {
    static const std::unordered_map<std::string, RequestHandler> handlers = {
        {"PlayVoice", &CDEV_HUB::PlayVoice},
        {"StopService", &CDEV_HUB::StopService},
        {"RestoreService", &CDEV_HUB::RestoreService},
        {"Reboot", &CDEV_HUB::Reboot},
        {"GetApkVersion", &CDEV_HUB::GetApkVersion},
        {"GetDevID", &CDEV_HUB::GetDevID},
        {"SetSerialNo", &CDEV_HUB::SetSerialNo},
        {"GetSerialNo", &CDEV_HUB::GetSerialNo},
        {"InputNumber", &CDEV_HUB::InputNumber},
        {"SetVolume", &CDEV_HUB::SetVolume},
        {"PlaySound", &CDEV_HUB::PlaySound},
        {"GetDevAndModulesInfo", &CDEV_HUB::GetDevAndModulesInfo},
        {"WriteDeviceInfo", &CDEV_HUB::WriteDeviceInfo},
        {"ReadDeviceInfo", &CDEV_HUB::ReadDeviceInfo},
        {"StartInstallTool", &CDEV_HUB::StartInstallTool},
        {"OpenPrinter", &CDEV_HUB::OpenPrinter},
        {"ClosePrinter", &CDEV_HUB::ClosePrinter},
        {"PrintReceipt", &CDEV_HUB::PrintReceipt},
        {"PrintQR", &CDEV_HUB::PrintQR},
        {"Evaluate", &CDEV_HUB::Evaluate},
        {"EvaluateSix", &CDEV_HUB::EvaluateSix},
        {"EvaluateByHtml", &CDEV_HUB::EvaluateByHtml},
        {"ShowInformation", &CDEV_HUB::ShowInformation},
        {"ShowAndConfirmInformation", &CDEV_HUB::ShowAndConfirmInformation},
        {"ShowPdfAndConfirm", &CDEV_HUB::ShowPdfAndConfirm},
        {"ShowPdfSignOrFinger", &CDEV_HUB::ShowPdfSignOrFinger},
        {"ShowPdfSignOrFinger_Base64", &CDEV_HUB::ShowPdfSignOrFinger_Base64},
        {"ShowPdfSignOrFingerPoint", &CDEV_HUB::ShowPdfSignOrFingerPoint},
        {"ShowPdfSignOrFingerPoint_Base64", &CDEV_HUB::ShowPdfSignOrFingerPoint_Base64},
        {"ShowPdfSignOrFingerCoordinates", &CDEV_HUB::ShowPdfSignOrFingerCoordinates},
        {"ShowPdfSignOrFingerCoordinates_Base64", &CDEV_HUB::ShowPdfSignOrFingerCoordinates_Base64},
        {"ShowPdfSignOrFingerMultiDoc", &CDEV_HUB::ShowPdfSignOrFingerMultiDoc},
        {"ShowPdfSignOrFingerMultiDoc_Base64", &CDEV_HUB::ShowPdfSignOrFingerMultiDoc_Base64},
        {"ShowDocumentSignOrFingerPoints", &CDEV_HUB::ShowDocumentSignOrFingerPoints},
        {"ShowDocumentSignOrFingerCoordinates", &CDEV_HUB::ShowDocumentSignOrFingerCoordinates},
        {"ShowDocumentSignOrFingerPoints_Base64", &CDEV_HUB::ShowDocumentSignOrFingerPoints_Base64},
        {"ShowDocumentSignOrFingerCoordinates_Base64",
         &CDEV_HUB::ShowDocumentSignOrFingerCoordinates_Base64},
        {"ShowDocumentSignOrFingerPointsWithCms", &CDEV_HUB::ShowDocumentSignOrFingerPointsWithCms},
        {"ShowDocumentSignOrFingerCoordinatesWithCms",
         &CDEV_HUB::ShowDocumentSignOrFingerCoordinatesWithCms},
        {"ShowDocumentSignOrFingerPointsWithCms_Base64",
         &CDEV_HUB::ShowDocumentSignOrFingerPointsWithCms_Base64},
        {"ShowDocumentSignOrFingerCoordinatesWithCms_Base64",
         &CDEV_HUB::ShowDocumentSignOrFingerCoordinatesWithCms_Base64},
        {"ShowPictures", &CDEV_HUB::ShowPictures},
        {"SignaturePlayback", &CDEV_HUB::SignaturePlayback},
        {"PictureOCR", &CDEV_HUB::PictureOCR},
        {"ReadQR", &CDEV_HUB::ReadQR},
        {"ReadQR_Qinglan", &CDEV_HUB::ReadQR_Qinglan},
        {"GenerateQRCode", &CDEV_HUB::GenerateQRCode},
        {"Login", &CDEV_HUB::Login},
        {"Logout", &CDEV_HUB::Logout},
        {"LoginByHtml", &CDEV_HUB::LoginByHtml},
        {"LogoutByHtml", &CDEV_HUB::LogoutByHtml},
        {"ReadIDCard", &CDEV_HUB::ReadIDCard},
        {"ReadIDCard_Base64", &CDEV_HUB::ReadIDCard_Base64},
        {"GetFingerPrint", &CDEV_HUB::GetFingerPrint},
        {"GetFingerPrint_Base64", &CDEV_HUB::GetFingerPrint_Base64},
        {"GetSignName", &CDEV_HUB::GetSignName},
        {"GetSignName_Base64", &CDEV_HUB::GetSignName_Base64},
        {"GetPhoto_Base64", &CDEV_HUB::GetPhoto_Base64},
        {"DownLoadFile", &CDEV_HUB::DownLoadFile},
        {"GetFileInfo", &CDEV_HUB::GetFileInfo},
        {"DeleteFile", &CDEV_HUB::DeleteDevFile},
        {"UpdateApk", &CDEV_HUB::UpdateApk},
        {"FileBase64Encode", &CDEV_HUB::FileBase64Encode},
        {"FileBase64Decode", &CDEV_HUB::FileBase64Decode},
        {"SDT_ReadIDCard", &CDEV_HUB::SDT_ReadIDCard},
        {"iReadIdentityCard", &CDEV_HUB::ReadIdentityCard},
        {"SetHSMURL", &CDEV_HUB::SetHSMURL},
        {"iReadCardBas", &CDEV_HUB::iReadCardBas},
        {"iReadCardBas_HSM_Step1", &CDEV_HUB::iReadCardBas_HSM_Step1},
        {"iReadCardBas_HSM_Step2", &CDEV_HUB::iReadCardBas_HSM_Step2},
        {"iReadICCardNum", &CDEV_HUB::iReadICCardNum},
        {"IDCardOCR", &CDEV_HUB::IDCardOCR},
        {"ImageOCR", &CDEV_HUB::ImageOCR},
        {"FaceValidateWithIdCard", &CDEV_HUB::FaceValidateWithIdCard},
        {"FingerValidateWithIdCard", &CDEV_HUB::FingerValidateWithIdCard},
        {"FaceValidateWithPhoto", &CDEV_HUB::FaceValidateWithPhoto},
        {"FaceValidateWithPhotoIdCard", &CDEV_HUB::FaceValidateWithPhotoIdCard},
        {"FaceValidateWithTwoPhotos", &CDEV_HUB::FaceValidateWithTwoPhotos},
        {"SignNameScreen_Start", &CDEV_HUB::SignNameScreen_Start},
        {"SignNameScreen_Get", &CDEV_HUB::SignNameScreen_Get},
        {"SignNameScreen_Status", &CDEV_HUB::SignNameScreen_Status},
        {"SignNameScreen_Stop", &CDEV_HUB::SignNameScreen_Stop},
        {"StartComputerScreen", &CDEV_HUB::StartComputerScreen},
        {"StopComputerScreen", &CDEV_HUB::StopComputerScreen},
        {"CamInit", &CDEV_HUB::CamInit},
        {"CamDeinit", &CDEV_HUB::CamDeinit},
        {"CamOpen", &CDEV_HUB::CamOpen},
        {"CamGetResolutionList", &CDEV_HUB::CamGetResolutionList},
        {"CamSetResolution", &CDEV_HUB::CamSetResolution},
        {"CamGetCurrentResolution", &CDEV_HUB::CamGetCurrentResolution},
        {"CamSetColor", &CDEV_HUB::CamSetColor},
        {"CamSetCutType", &CDEV_HUB::CamSetCutType},
        {"CamGetVideoStream", &CDEV_HUB::CamGetVideoStream},
        {"CamClose", &CDEV_HUB::CamClose},
        {"CamGetCameraImage", &CDEV_HUB::CamGetCameraImage},
        {"CamSetRotateLeft", &CDEV_HUB::CamSetRotateLeft},
        {"CamSetRotateRight", &CDEV_HUB::CamSetRotateRight},
        {"CamZoomOut", &CDEV_HUB::CamZoomOut},
        {"CamZoomIn", &CDEV_HUB::CamZoomIn},
        {"VideoStart", &CDEV_HUB::VideoStart},
        {"VideoStop", &CDEV_HUB::VideoStop},
        {"VideoGetImage", &CDEV_HUB::VideoGetImage},
        {"VideoRotate", &CDEV_HUB::VideoRotate},
    };
    return handlers;
}

}  // namespace

std::vector<std::string> request_names() {
    std::vector<std::string> names = {"CancelOpt", "GetServiceStatus"};
    for (const auto& entry : request_handlers()) names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    return names;
}

RequestHandler find_request_handler(const std::string& method) {
    const auto& handlers = request_handlers();
    const auto found = handlers.find(method);
    return found == handlers.end() ? nullptr : found->second;
}

}  // namespace countermate
