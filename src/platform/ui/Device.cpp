#include "platform/ui/Device.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Application.h"
#include "platform/ui/UINotifications.h"
#include "platform/ui/Window.h"

namespace platform {

Device& Device::currentDevice() {
  static Device device;
  return device;
}

void Device::setOrientation(DeviceOrientation orientation) {
  assertMainThread("Device::setOrientation");
  if (orientation == orientation_) return;
  orientation_ = orientation;
  for (const auto& window : Application::sharedApplication().windows()) {
    window->updateInterfaceOrientation();
  }
  NotificationCenter::defaultCenter().post(kDeviceOrientationDidChangeNotification);
}

}  // namespace platform
