#include "platform/ui/Switch.h"

#include "platform/ui/GraphicsContext.h"

namespace platform {

Switch::Switch(const Rect& frame) : Control({frame.x(), frame.y(), 79, 27}) { setOpaque(false); }

void Switch::setOn(bool on, bool) {
  on_ = on;
  setNeedsDisplay();
}

void Switch::didTap(const Touch&) {
  setOn(!on_);
  sendActionsForControlEvents(ControlEvent::ValueChanged);
}

void Switch::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  context.setFillColor(on_ ? onTint_.value_or(Color::rgb255(0, 127, 234))
                           : Color::rgb255(238, 238, 238));
  context.fillRoundedRect(b, b.height() / 2);
  context.setFillColor(Color::whiteColor());
  double d = b.height() - 2;
  context.fillEllipse({on_ ? b.maxX() - d - 1 : b.x() + 1, b.y() + 1, d, d});
  context.drawText(on_ ? "I" : "O",
                   {on_ ? b.x() + 8 : b.midX(), b.y(), b.width() / 2 - 8, b.height()},
                   Font::boldSystemFont(14), on_ ? Color::whiteColor() : Color::grayColor(),
                   TextAlignment::Center, LineBreakMode::Clip, 1);
}

}  // namespace platform
