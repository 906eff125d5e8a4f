#include "platform/ui/ActivityIndicatorView.h"

#include <cmath>

#include "platform/ui/GraphicsContext.h"

namespace platform {

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorStyle style) : style_(style) {
  setOpaque(false);
  setUserInteractionEnabled(false);
  Size s = sizeThatFits({});
  setFrame({0, 0, s.width, s.height});
  setHidden(true);
}

void ActivityIndicatorView::setStyle(ActivityIndicatorStyle style) {
  style_ = style;
  Rect f = frame();
  Size s = sizeThatFits({});
  setFrame({f.midX() - s.width / 2, f.midY() - s.height / 2, s.width, s.height});
}

void ActivityIndicatorView::startAnimating() {
  animating_ = true;
  setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
  animating_ = false;
  if (hidesWhenStopped_) setHidden(true);
}

void ActivityIndicatorView::setHidesWhenStopped(bool h) {
  hidesWhenStopped_ = h;
  setHidden(h && !animating_);
}

Size ActivityIndicatorView::sizeThatFits(Size) const {
  return style_ == ActivityIndicatorStyle::WhiteLarge ? Size{37, 37} : Size{20, 20};
}

void ActivityIndicatorView::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  Color base = color_.value_or(style_ == ActivityIndicatorStyle::Gray ? Color::grayColor()
                                                                      : Color::whiteColor());
  double r = std::min(b.width(), b.height()) / 2;
  context.setLineWidth(r / 5);
  context.setLineCap(GraphicsContext::LineCap::Round);
  for (int i = 0; i < 12; ++i) {
    double angle = i * M_PI / 6;
    context.setStrokeColor(base.withAlpha(0.25 + 0.75 * i / 11));
    context.beginPath();
    context.moveTo(b.midX() + std::cos(angle) * r * 0.5, b.midY() + std::sin(angle) * r * 0.5);
    context.lineTo(b.midX() + std::cos(angle) * r * 0.9, b.midY() + std::sin(angle) * r * 0.9);
    context.strokePath();
  }
}

}  // namespace platform
