#include "platform/ui/Label.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextMeasurer.h"

namespace platform {

Label::Label(const Rect& frame) : View(frame) {
  setUserInteractionEnabled(false);
  setBackgroundColor(Color::whiteColor());
}

void Label::setText(std::string text) {
  text_ = std::move(text);
  setNeedsDisplay();
}

void Label::setFont(const Font& font) {
  font_ = font;
  setNeedsDisplay();
}

void Label::setTextColor(Color color) {
  textColor_ = color;
  setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment alignment) {
  alignment_ = alignment;
  setNeedsDisplay();
}

void Label::setLineBreakMode(LineBreakMode mode) {
  lineBreakMode_ = mode;
  setNeedsDisplay();
}

void Label::setNumberOfLines(int lines) {
  numberOfLines_ = lines;
  setNeedsDisplay();
}

Font Label::fontForDrawing() const {
  if (!adjustsFontSize_ || numberOfLines_ != 1 || text_.empty()) return font_;
  double minimum = minimumFontSize_ > 0 ? minimumFontSize_ : std::min(font_.pointSize(), 4.0);
  return font_.withSize(TextMeasurer::fittingFontSize(text_, font_, minimum, bounds().width()));
}

Size Label::sizeThatFits(Size size) const {
  if (text_.empty()) return {};
  if (numberOfLines_ == 1) return TextMeasurer::sizeOfLine(text_, font_);
  double width = size.width > 0 ? size.width : 0;
  Size measured = TextMeasurer::sizeOfText(text_, font_, {width, 0}, LineBreakMode::WordWrap);
  if (numberOfLines_ > 1) {
    double line = TextMeasurer::sizeOfLine("Ag", font_).height;
    measured.height = std::min(measured.height, line * numberOfLines_);
  }
  return measured;
}

void Label::drawRect(GraphicsContext& context, const Rect&) {
  if (text_.empty()) return;
  Font font = fontForDrawing();
  Rect b = bounds();
  Color color = highlighted_ && highlightedTextColor_ ? *highlightedTextColor_ : textColor_;
  if (!enabled_) color = color.withAlpha(color.alpha() * 0.5);
  // Text is centred vertically in the label, as the platform draws it.
  Size needed = numberOfLines_ == 1 ? TextMeasurer::sizeOfLine(text_, font)
                                    : TextMeasurer::sizeOfText(text_, font, {b.width(), 0},
                                                               LineBreakMode::WordWrap);
  if (numberOfLines_ > 1) {
    double line = TextMeasurer::sizeOfLine("Ag", font).height;
    needed.height = std::min(needed.height, line * numberOfLines_);
  }
  double height = std::min(needed.height, b.height());
  Rect textRect{b.x(), b.y() + (b.height() - height) / 2, b.width(), height};
  context.drawText(text_, textRect, font, color, alignment_, lineBreakMode_, numberOfLines_);
}

}  // namespace platform
