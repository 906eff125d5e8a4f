#include "platform/ui/Screen.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/UINotifications.h"

namespace platform {

namespace {
constexpr double kStatusBarHeight = 20;
}  // namespace

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
  double bar = kStatusBarHeight;
  switch (orientation_) {
    case InterfaceOrientation::LandscapeRight:  // interface top along the right edge
      return {0, 0, b.width() - bar, b.height()};
    case InterfaceOrientation::LandscapeLeft:  // interface top along the left edge
      return {bar, 0, b.width() - bar, b.height()};
    case InterfaceOrientation::PortraitUpsideDown:
      return {0, 0, b.width(), b.height() - bar};
    default:
      return {0, bar, b.width(), b.height() - bar};
  }
}

void Screen::setTall(bool tall) { tall_ = tall; }

void Screen::setStatusBarHidden(bool hidden) { statusBarHidden_ = hidden; }

void Screen::setStatusBarOrientation(InterfaceOrientation orientation) {
  assertMainThread("Screen::setStatusBarOrientation");
  if (orientation == orientation_) return;
  auto& center = NotificationCenter::defaultCenter();
  center.post(
      kApplicationWillChangeStatusBarOrientationNotification, Value(),
      {{kApplicationStatusBarOrientationUserInfoKey, Value(static_cast<int>(orientation))}});
  InterfaceOrientation old = orientation_;
  orientation_ = orientation;
  center.post(kApplicationDidChangeStatusBarOrientationNotification, Value(),
              {{kApplicationStatusBarOrientationUserInfoKey, Value(static_cast<int>(old))}});
}

Size Screen::interfaceSize() const {
  Size s = bounds().size;
  return isLandscape(orientation_) ? Size{s.height, s.width} : s;
}

Size Screen::interfaceApplicationSize() const {
  Size s = applicationFrame().size;
  return isLandscape(orientation_) ? Size{s.height, s.width} : s;
}

AffineTransform Screen::interfaceTransform() const {
  return AffineTransform::rotation(interfaceRotation(orientation_));
}

Point Screen::screenPointFromInterface(Point p) const {
  Size inner = interfaceSize();
  Point screenCenter = bounds().center();
  Point turned = interfaceTransform().apply({p.x - inner.width / 2, p.y - inner.height / 2});
  return {screenCenter.x + turned.x, screenCenter.y + turned.y};
}

Point Screen::interfacePointFromScreen(Point p) const {
  Size inner = interfaceSize();
  Point screenCenter = bounds().center();
  Point turned =
      interfaceTransform().inverted().apply({p.x - screenCenter.x, p.y - screenCenter.y});
  return {turned.x + inner.width / 2, turned.y + inner.height / 2};
}

}  // namespace platform
