#include "platform/ui/TapGestureRecognizer.h"

namespace platform {

bool TapGestureRecognizer::handleTap(Point windowLocation, int tapCount) {
  if (!isEnabled() || tapCount != tapsRequired_ || touchesRequired_ != 1) return false;
  location_ = windowLocation;
  state_ = State::Ended;
  fire();
  return true;
}

}  // namespace platform
