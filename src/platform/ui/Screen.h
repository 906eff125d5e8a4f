#pragma once
// Screen: the phone's one screen. Portrait, 320 points wide at scale 2: 640 x 960 pixels, or the
// tall 640 x 1136 mode that tests switch on with `setTall`. The status bar takes the top 20
// points of the application frame while it is shown.

#include <optional>

#include "platform/ui/Geometry.h"

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
  // The area below the status bar (the whole screen when the status bar is hidden).
  Rect applicationFrame() const;

  void setTall(bool tall);
  void setStatusBarHidden(bool hidden);
  bool statusBarHidden() const { return statusBarHidden_; }

 private:
  Screen() = default;
  bool tall_ = false;
  bool statusBarHidden_ = false;
};

}  // namespace platform
