#pragma once
// Screen: the phone's one screen, 320 x 480 points at scale 2 (640 x 960 pixels), or the tall
// 640 x 1136 mode that tests switch on with `setTall`. Its bounds stay portrait whatever the
// interface orientation; the status bar (20 points while shown) lies along the top edge of the
// interface, so in a landscape orientation it runs down one long side of the portrait screen.
//
// Coordinates here are the screen's (the window's): portrait, origin top left. The `interface`
// values say how full-screen content is laid out in the current interface orientation: its size
// as the content sees it, and the turn that puts it on the portrait screen.

#include <optional>

#include "platform/ui/Geometry.h"
#include "platform/ui/Orientation.h"

namespace platform {

class Screen {
 public:
  static Screen& mainScreen();

  Rect bounds() const;
  double scale() const { return 2; }
  // Size in pixels of the current display mode.
  std::optional<Size> currentModeSize() const;
  // True when the current mode measures exactly 640 x 1136 pixels.
  bool isTallMode() const;
  // The area below the status bar, in screen coordinates (the whole screen when the status bar
  // is hidden).
  Rect applicationFrame() const;

  void setTall(bool tall);
  void setStatusBarHidden(bool hidden);
  bool statusBarHidden() const { return statusBarHidden_; }

  InterfaceOrientation statusBarOrientation() const { return orientation_; }
  // Turns the status bar (and with it the interface) and posts the will- and did-change
  // notifications when the orientation changes. Windows lay their content out again through
  // `Window::updateInterfaceOrientation`, which calls this.
  void setStatusBarOrientation(InterfaceOrientation orientation);
  // Back to portrait without notifications (between tests).
  void resetOrientation() { orientation_ = InterfaceOrientation::Portrait; }

  // The whole screen as the interface sees it: 320 x 480 portrait, 480 x 320 landscape.
  Size interfaceSize() const;
  // The application frame as the interface sees it: 320 x 460 portrait, 480 x 300 landscape.
  Size interfaceApplicationSize() const;
  // The rotation that turns interface content onto the portrait screen.
  AffineTransform interfaceTransform() const;
  // A point of the screen as a person sees it in the current orientation (what a snapshot
  // shows, in points) in screen coordinates, and back.
  Point screenPointFromInterface(Point p) const;
  Point interfacePointFromScreen(Point p) const;

 private:
  Screen() = default;
  bool tall_ = false;
  bool statusBarHidden_ = false;
  InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
};

}  // namespace platform
