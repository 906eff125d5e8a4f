#pragma once
// Device: the phone itself, as far as the screens ask about it: which way it is held. Turning
// it (`setOrientation`, which the test drivers call) lets every window turn its interface when
// the screen on show allows that orientation, and then posts
// "UIDeviceOrientationDidChangeNotification", so observers read the new interface orientation.
//
// Main thread only.

#include "platform/ui/Orientation.h"

namespace platform {

class Device {
 public:
  static Device& currentDevice();

  DeviceOrientation orientation() const { return orientation_; }
  void setOrientation(DeviceOrientation orientation);
  // Back to portrait without notifications (between tests).
  void resetOrientation() { orientation_ = DeviceOrientation::Portrait; }

 private:
  Device() = default;
  DeviceOrientation orientation_ = DeviceOrientation::Portrait;
};

}  // namespace platform
