#include "CameraProbe.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace docscope {
namespace {

std::string FolderFromEnvironment(const char* variable, const char* standard) {
  const char* folder = std::getenv(variable);
  return folder != nullptr && folder[0] != '\0' ? folder : standard;
}

bool IsVideo4LinuxNode(const char* name) {
  for (const char* prefix : {"video", "radio", "vbi", "v4l-subdev"}) {
    if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return true;
  }
  return false;
}

// The USB vendor and product of a modalias word such as "usb:v0C45p6366d0100…".
bool ParseUsbModalias(const std::string& word, std::string& vid, std::string& pid) {
  if (word.size() < 14 || word.compare(0, 5, "usb:v") != 0 || word[9] != 'p') return false;
  vid = word.substr(5, 4);
  pid = word.substr(10, 4);
  return true;
}

}  // namespace

std::string DeviceFolder() { return FolderFromEnvironment("COUNTERMATE_DEV_ROOT", "/dev"); }

std::string Video4LinuxFolder() {
  return FolderFromEnvironment("COUNTERMATE_SYSFS_ROOT", "/sys/class/video4linux");
}

int GetStatus(const char* pid, const char* vid, std::string& nameOut) {
  const std::string devices = DeviceFolder();
  DIR* folder = opendir(devices.c_str());
  if (folder == nullptr) return 1;
  const std::string video4linux = Video4LinuxFolder();
  bool matched = false;
  while (const dirent* entry = readdir(folder)) {
    if (!IsVideo4LinuxNode(entry->d_name)) continue;
    const std::string modaliasPath = video4linux + "/" + entry->d_name + "/device/modalias";
    std::printf("%s\n", modaliasPath.c_str());
    std::ifstream modalias(modaliasPath);
    std::string word;
    if (!(modalias >> word)) std::printf("fail to read modalias\n");
    std::string vendor, product;
    if (!ParseUsbModalias(word, vendor, product)) {
      std::printf("not a usb format modalias\n");
      continue;
    }
    const std::string device = devices + "/" + entry->d_name;
    std::printf("name = %s, vid = %s, pid = %s\n", device.c_str(), vendor.c_str(), product.c_str());
    if (product == pid && vendor == vid) {
      nameOut = device;
      matched = true;
    }
  }
  closedir(folder);
  return matched ? 0 : 1;
}

int ProbeCamera(int camNo, std::string& nameOut) {
  if (camNo == 1) return GetStatus(kDocumentCamera.pid, kDocumentCamera.vid, nameOut);
  if (camNo != 2) return 1;
  if (GetStatus(kPersonCamera.pid, kPersonCamera.vid, nameOut) == 0) return 0;
  return GetStatus(kPersonCameraAlternative.pid, kPersonCameraAlternative.vid, nameOut);
}

std::string DeviceNumberText(const std::string& device) {
  std::size_t start = device.size();
  while (start > 0 && device[start - 1] >= '0' && device[start - 1] <= '9') --start;
  return device.substr(start);
}

}  // namespace docscope
