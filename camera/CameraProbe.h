// Finding the cameras: the V4L2 nodes of the device folder whose USB identity (from the
// modalias of video4linux) is a camera's.
#pragma once

#include <string>

namespace docscope {

// A camera's USB identity as four uppercase hex digits each, compared as texts.
struct UsbIdentity {
  const char* vid;
  const char* pid;
};

constexpr UsbIdentity kDocumentCamera{"0C45", "6366"};
constexpr UsbIdentity kPersonCamera{"1B17", "0209"};
constexpr UsbIdentity kPersonCameraAlternative{"0C40", "0C80"};

// "/dev", or COUNTERMATE_DEV_ROOT when set; read at every probe.
std::string DeviceFolder();
// "/sys/class/video4linux", or COUNTERMATE_SYSFS_ROOT when set; read at every probe.
std::string Video4LinuxFolder();

// Scans the V4L2 nodes ("video*", "radio*", "vbi*", "v4l-subdev*") of the device folder and
// returns 0 with `nameOut` = "<device folder>/<node>" of the last node in directory order whose
// modalias names (vid, pid); 1 when none does or the folder cannot be read (`nameOut` untouched).
int GetStatus(const char* pid, const char* vid, std::string& nameOut);

// Camera 1: the document camera. Camera 2: the person camera, or its alternative when absent.
int ProbeCamera(int camNo, std::string& nameOut);

// The decimal number that ends a node's path ("12" for ".../video12"), empty when none.
std::string DeviceNumberText(const std::string& device);

}  // namespace docscope
