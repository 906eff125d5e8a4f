#include "platform/ui/Slider.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"

namespace platform {

Slider::Slider(const Rect& frame) : Control(frame) { setOpaque(false); }

void Slider::setValue(double value, bool) {
  value_ = std::clamp(value, min_, std::max(min_, max_));
  setNeedsDisplay();
}

void Slider::setMinimumValue(double v) {
  min_ = v;
  setValue(value_);
}

void Slider::setMaximumValue(double v) {
  max_ = v;
  setValue(value_);
}

void Slider::setThumbImage(std::shared_ptr<Image> image, unsigned state) {
  if (state == ControlState::Normal) thumb_ = std::move(image);
}

void Slider::setMinimumTrackImage(std::shared_ptr<Image> image, unsigned state) {
  if (state == ControlState::Normal) minTrack_ = std::move(image);
}

void Slider::setMaximumTrackImage(std::shared_ptr<Image> image, unsigned state) {
  if (state == ControlState::Normal) maxTrack_ = std::move(image);
}

void Slider::userSlide(double value) {
  if (!isEnabled()) return;
  auto keep = shared_from_this();
  sendActionsForControlEvents(ControlEvent::TouchDown);
  setValue(value);
  sendActionsForControlEvents(ControlEvent::ValueChanged);
  sendActionsForControlEvents(ControlEvent::TouchUpInside);
}

void Slider::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  double fraction = max_ > min_ ? (value_ - min_) / (max_ - min_) : 0;
  double thumb = 23;
  double track = b.width() - thumb;
  double x = b.x() + thumb / 2 + track * fraction;
  Rect minRect{b.x() + thumb / 2, b.midY() - 4.5, x - b.x() - thumb / 2, 9};
  Rect maxRect{x, b.midY() - 4.5, b.maxX() - thumb / 2 - x, 9};
  context.setFillColor(Color::rgb255(0, 127, 234));
  if (minTrack_ && !minTrack_->isMissing())
    context.drawImage(*minTrack_, minRect);
  else
    context.fillRoundedRect(minRect, 4.5);
  context.setFillColor(Color::rgb255(200, 200, 200));
  if (maxTrack_ && !maxTrack_->isMissing())
    context.drawImage(*maxTrack_, maxRect);
  else
    context.fillRoundedRect(maxRect, 4.5);
  Rect thumbRect{x - thumb / 2, b.midY() - thumb / 2, thumb, thumb};
  if (thumb_) {
    context.drawImage(*thumb_, thumbRect);
  } else {
    context.setFillColor(Color::whiteColor());
    context.fillEllipse(thumbRect);
  }
}

}  // namespace platform
