#pragma once
// Slider: a value between a minimum and a maximum, moved by dragging its thumb. A drag (the
// test driver's `slide`) sets the value and sends ValueChanged; setting the value by code sends
// nothing. The value is kept within the range.

#include <memory>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"

namespace platform {

class Slider : public Control {
  CH_SHARED_OBJECT(Slider)

 public:
  double value() const { return value_; }
  void setValue(double value, bool animated = false);
  double minimumValue() const { return min_; }
  void setMinimumValue(double v);
  double maximumValue() const { return max_; }
  void setMaximumValue(double v);
  bool isContinuous() const { return continuous_; }
  void setContinuous(bool c) { continuous_ = c; }
  void setThumbImage(std::shared_ptr<Image> image, unsigned state = ControlState::Normal);
  void setMinimumTrackImage(std::shared_ptr<Image> image, unsigned state = ControlState::Normal);
  void setMaximumTrackImage(std::shared_ptr<Image> image, unsigned state = ControlState::Normal);
  std::shared_ptr<Image> thumbImage() const { return thumb_; }

  // A user's drag to `value`.
  void userSlide(double value);

  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit Slider(const Rect& frame = {});

 private:
  double value_ = 0;
  double min_ = 0;
  double max_ = 1;
  bool continuous_ = true;
  std::shared_ptr<Image> thumb_, minTrack_, maxTrack_;
};

}  // namespace platform
