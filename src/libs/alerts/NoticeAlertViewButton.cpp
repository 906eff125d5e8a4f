#include "alerts/NoticeAlertViewButton.h"

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextMeasurer.h"

using platform::Color;
using platform::Font;
using platform::Rect;

NoticeAlertViewButton::NoticeAlertViewButton(std::optional<std::string> title)
    : Button(Rect{0, 0, 100, 40}, platform::ButtonType::Custom), _title(std::move(title)) {
  setBackgroundColor(Color::clearColor());
}

void NoticeAlertViewButton::setAlertButtonType(int type) {
  _alertButtonType = type;
  setNeedsDisplay();
}

void NoticeAlertViewButton::setTitle(std::optional<std::string> title) {
  _title = std::move(title);
  setNeedsDisplay();
}

Color NoticeAlertViewButton::colorForButtonStyle() const {
  switch (_alertButtonType) {
    case 1:
      return Color::redColor();
    case 2:
      return Color::rgb(50 / 255.0, 155 / 255.0, 1.0, 1.0);
    default:
      return Color::whiteColor();
  }
}

Color NoticeAlertViewButton::textColor() const {
  return _alertButtonType == 0 ? Color::white(0.2, 1) : Color::whiteColor();
}

void NoticeAlertViewButton::drawRect(platform::GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  context.setFillColor(colorForButtonStyle());
  context.fillRoundedRect(b, 2);
  if (!_title || _title->empty()) return;
  Font base = Font::boldSystemFont(18);
  Font font =
      base.withSize(platform::TextMeasurer::fittingFontSize(*_title, base, 8, b.width() - 20));
  platform::Size size = platform::TextMeasurer::sizeOfLine(*_title, font);
  context.drawText(
      *_title,
      {b.width() / 2 - size.width / 2, b.height() / 2 - size.height / 2, size.width, size.height},
      font, textColor(), platform::TextAlignment::Left, platform::LineBreakMode::Clip, 1);
}
