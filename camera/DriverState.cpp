#include "DriverState.h"

namespace docscope {

DriverState& Driver() {
  static DriverState state;
  return state;
}

std::string CameraName(int camNo) {
  DriverState& driver = Driver();
  std::lock_guard<std::mutex> guard(driver.cameraNamesLock);
  return camNo == 1 ? driver.documentCameraName : camNo == 2 ? driver.personCameraName : "";
}

}  // namespace docscope
