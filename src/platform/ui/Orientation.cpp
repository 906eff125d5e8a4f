#include "platform/ui/Orientation.h"

#include <cmath>

namespace platform {

bool isLandscape(InterfaceOrientation orientation) {
  return orientation == InterfaceOrientation::LandscapeLeft ||
         orientation == InterfaceOrientation::LandscapeRight;
}

unsigned orientationMask(InterfaceOrientation orientation) {
  return 1u << static_cast<unsigned>(orientation);
}

std::optional<InterfaceOrientation> interfaceOrientationForDevice(DeviceOrientation orientation) {
  switch (orientation) {
    case DeviceOrientation::Portrait:
      return InterfaceOrientation::Portrait;
    case DeviceOrientation::PortraitUpsideDown:
      return InterfaceOrientation::PortraitUpsideDown;
    case DeviceOrientation::LandscapeLeft:
      return InterfaceOrientation::LandscapeRight;
    case DeviceOrientation::LandscapeRight:
      return InterfaceOrientation::LandscapeLeft;
    default:
      return std::nullopt;
  }
}

double interfaceRotation(InterfaceOrientation orientation) {
  switch (orientation) {
    case InterfaceOrientation::LandscapeRight:
      return M_PI / 2;
    case InterfaceOrientation::LandscapeLeft:
      return -M_PI / 2;
    case InterfaceOrientation::PortraitUpsideDown:
      return M_PI;
    default:
      return 0;
  }
}

}  // namespace platform
