#pragma once
// TapGestureRecognizer: recognizes a tap (a touch that begins and ends on its view) with the
// required number of taps.

#include "platform/ui/GestureRecognizer.h"

namespace platform {

class TapGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;

  int numberOfTapsRequired() const { return tapsRequired_; }
  void setNumberOfTapsRequired(int n) { tapsRequired_ = n; }
  int numberOfTouchesRequired() const { return touchesRequired_; }
  void setNumberOfTouchesRequired(int n) { touchesRequired_ = n; }

  bool handleTap(Point windowLocation, int tapCount) override;

 private:
  int tapsRequired_ = 1;
  int touchesRequired_ = 1;
};

}  // namespace platform
