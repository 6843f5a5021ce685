// The service with the camera driver (CameraType 1) on a file-backed document camera, for the
// camera tests and benchmarks: a deploy folder of its own whose CONFIG.ini chooses the camera
// driver, and a camera probe pointed at a folder where the document camera is a synthetic JPEG
// photograph of a tilted document (made by countermate-document-scene).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "service_fixture.h"

namespace countermate::testing {

// A host whose CONFIG.ini chooses the camera driver, with the camera probe pointed at a folder
// where the document camera is a JPEG file of a tilted document.
class DriverCameraService {
public:
    // `scene_size` is the camera frame size, "WxH".
    explicit DriverCameraService(const std::string& scene_size = "1280x960") : deploy_({}) {
        namespace fs = std::filesystem;
        const fs::path config = fs::path(deploy_.path()) / "CONFIG.ini";
        std::stringstream text;
        text << std::ifstream(config).rdbuf();
        std::string content = text.str();
        const size_t at = content.find("CameraType=0");
        if (at != std::string::npos) content.replace(at, 12, "CameraType=1");
        std::ofstream(config, std::ios::trunc) << content;

        const fs::path camera = fs::path(camera_folder_.path());
        fs::create_directories(camera / "dev");
        fs::create_directories(camera / "sys/video0/device");
        std::ofstream(camera / "sys/video0/device/modalias")
            << "usb:v0C45p6366d0100dcEFdsc02dp01ic0Eisc01ip00in00\n";
        const std::string scene = std::string(DOCUMENT_SCENE_TOOL) + " " +
                                  (camera / "document.jpg").string() + " --size " + scene_size +
                                  " --tilt 8";
        scene_made_ = std::system(scene.c_str()) == 0;
        fs::rename(camera / "document.jpg", camera / "dev/video0");
        setenv("COUNTERMATE_DEV_ROOT", (camera / "dev").c_str(), 1);
        setenv("COUNTERMATE_SYSFS_ROOT", (camera / "sys").c_str(), 1);
        service_ = std::make_unique<ServiceOnSimulator>(deploy_.path());
    }
    bool started() const { return scene_made_ && service_->started(); }
    ServiceOnSimulator& service() { return *service_; }

private:
    DeployCopy deploy_;
    TemporaryFolder camera_folder_;
    bool scene_made_ = false;
    std::unique_ptr<ServiceOnSimulator> service_;
};

}  // namespace countermate::testing
