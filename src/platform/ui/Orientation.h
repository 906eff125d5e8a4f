#pragma once
// Orientations of the device and of the interface, with the platform's raw values. The device
// turning left shows the interface turned right: device landscape left (3) is interface landscape
// right (3), with the home button on the right.
//
// The interface of a landscape orientation is the portrait screen's content turned a quarter:
// full-screen views get the rotation `interfaceRotation` gives, and their x axis runs along the
// screen's long side.

#include <optional>

namespace platform {

namespace InterfaceOrientationMask {
enum : unsigned {
  Portrait = 1 << 1,
  LandscapeLeft = 1 << 4,
  LandscapeRight = 1 << 3,
  PortraitUpsideDown = 1 << 2,
  Landscape = LandscapeLeft | LandscapeRight,
  All = Portrait | Landscape | PortraitUpsideDown,
  AllButUpsideDown = Portrait | Landscape,
};
}

enum class InterfaceOrientation {
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeLeft = 4,
  LandscapeRight = 3
};

enum class DeviceOrientation {
  Unknown = 0,
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeLeft = 3,
  LandscapeRight = 4,
  FaceUp = 5,
  FaceDown = 6
};

bool isLandscape(InterfaceOrientation orientation);
// The mask bit of one orientation.
unsigned orientationMask(InterfaceOrientation orientation);
// The interface orientation a device held this way asks for; none when it lies flat or is
// unknown.
std::optional<InterfaceOrientation> interfaceOrientationForDevice(DeviceOrientation orientation);
// The angle (radians, clockwise on screen) by which full-screen views are turned: landscape
// right pi/2, landscape left -pi/2, upside down pi, portrait 0.
double interfaceRotation(InterfaceOrientation orientation);

}  // namespace platform
