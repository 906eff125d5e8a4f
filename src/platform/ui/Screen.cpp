#include "platform/ui/Screen.h"

namespace platform {

Screen& Screen::mainScreen() {
  static Screen screen;
  return screen;
}

Rect Screen::bounds() const { return {0, 0, 320, tall_ ? 568.0 : 480.0}; }

std::optional<Size> Screen::currentModeSize() const { return Size{640, tall_ ? 1136.0 : 960.0}; }

bool Screen::isTallMode() const {
  auto mode = currentModeSize();
  return mode && *mode == Size{640, 1136};
}

Rect Screen::applicationFrame() const {
  Rect b = bounds();
  if (statusBarHidden_) return b;
  return {0, 20, b.width(), b.height() - 20};
}

void Screen::setTall(bool tall) { tall_ = tall; }

void Screen::setStatusBarHidden(bool hidden) { statusBarHidden_ = hidden; }

}  // namespace platform
