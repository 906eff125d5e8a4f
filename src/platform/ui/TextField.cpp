#include "platform/ui/TextField.h"

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextMeasurer.h"

namespace platform {

std::vector<std::string> utf8Characters(const std::string& text) {
  std::vector<std::string> result;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80         ? 1
                      : (c >> 5) == 6  ? 2
                      : (c >> 4) == 14 ? 3
                      : (c >> 3) == 30 ? 4
                                       : 1;
    result.push_back(text.substr(i, len));
    i += len;
  }
  return result;
}

TextField::TextField(const Rect& frame) : Control(frame) { setOpaque(false); }

void TextField::setText(std::string text) {
  text_ = std::move(text);
  setNeedsDisplay();
}

void TextField::setPlaceholder(std::optional<std::string> p) {
  placeholder_ = std::move(p);
  setNeedsDisplay();
}

void TextField::setLeftView(std::shared_ptr<View> view) {
  if (leftView_) leftView_->removeFromSuperview();
  leftView_ = std::move(view);
  if (leftView_) addSubview(leftView_);
  setNeedsLayout();
}

bool TextField::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  auto d = delegate();
  if (d && !d->textFieldShouldBeginEditing(*this)) return false;
  if (!Control::becomeFirstResponder()) return false;
  sendActionsForControlEvents(ControlEvent::EditingDidBegin);
  if (auto d2 = delegate()) d2->textFieldDidBeginEditing(*this);
  setNeedsLayout();
  return true;
}

bool TextField::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  auto d = delegate();
  if (d && !d->textFieldShouldEndEditing(*this)) return false;
  if (!Control::resignFirstResponder()) return false;
  sendActionsForControlEvents(ControlEvent::EditingDidEnd);
  if (auto d2 = delegate()) d2->textFieldDidEndEditing(*this);
  setNeedsLayout();
  return true;
}

void TextField::didTap(const Touch&) { becomeFirstResponder(); }

bool TextField::insertCharacter(const std::string& character) {
  auto d = delegate();
  if (d && !d->shouldChangeCharactersInRange(*this, text_.size(), 0, character)) return false;
  text_ += character;
  sendActionsForControlEvents(ControlEvent::EditingChanged);
  setNeedsDisplay();
  return true;
}

bool TextField::insertText(const std::string& text) {
  if (!isFirstResponder()) return false;
  for (const auto& c : utf8Characters(text)) insertCharacter(c);
  return true;
}

bool TextField::deleteBackward() {
  if (!isFirstResponder() || text_.empty()) return false;
  auto chars = utf8Characters(text_);
  std::size_t length = chars.back().size();
  auto d = delegate();
  if (d && !d->shouldChangeCharactersInRange(*this, text_.size() - length, length, ""))
    return false;
  text_.resize(text_.size() - length);
  sendActionsForControlEvents(ControlEvent::EditingChanged);
  return true;
}

bool TextField::pressReturn() {
  if (!isFirstResponder()) return false;
  auto keep = shared_from_this();
  auto d = delegate();
  bool shouldReturn = d ? d->textFieldShouldReturn(*this) : true;
  if (shouldReturn && (allControlEvents() & ControlEvent::EditingDidEndOnExit)) {
    sendActionsForControlEvents(ControlEvent::EditingDidEndOnExit);
    resignFirstResponder();
  }
  return true;
}

bool TextField::clear() {
  auto d = delegate();
  if (d && !d->textFieldShouldClear(*this)) return false;
  text_.clear();
  sendActionsForControlEvents(ControlEvent::EditingChanged);
  return true;
}

void TextField::layoutSubviews() {
  if (!leftView_) return;
  bool editing = isFirstResponder();
  bool shown = leftViewMode_ == TextFieldViewMode::Always ||
               (leftViewMode_ == TextFieldViewMode::WhileEditing && editing) ||
               (leftViewMode_ == TextFieldViewMode::UnlessEditing && !editing);
  leftView_->setHidden(!shown);
  Rect f = leftView_->frame();
  leftView_->setFrame({0, (bounds().height() - f.height()) / 2, f.width(), f.height()});
}

std::string TextField::displayedText() const {
  if (!secure_) return text_;
  std::string dots;
  for (std::size_t i = 0; i < utf8Characters(text_).size(); ++i) dots += "\u25CF";
  return dots;
}

void TextField::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  if (border_ == TextBorderStyle::RoundedRect || border_ == TextBorderStyle::Bezel) {
    context.setFillColor(Color::whiteColor());
    context.fillRoundedRect(b, border_ == TextBorderStyle::RoundedRect ? 6 : 0);
  }
  if (border_ != TextBorderStyle::None) {
    context.setStrokeColor(Color::grayColor());
    context.setLineWidth(1);
    context.beginPath();
    context.addRoundedRect(b.insetBy(0.5, 0.5), border_ == TextBorderStyle::RoundedRect ? 6 : 0);
    context.strokePath();
  }
  double left = leftView_ && !leftView_->isHidden() ? leftView_->frame().maxX() : 0;
  if (border_ != TextBorderStyle::None) left += 7;
  bool empty = text_.empty();
  std::string shown = empty ? placeholder_.value_or("") : displayedText();
  Color color = empty ? Color::rgb255(180, 180, 180) : textColor_;
  double lineHeight = TextMeasurer::sizeOfLine("Ag", font_).height;
  double y = vertical_ == ContentVerticalAlignment::Center ? (b.height() - lineHeight) / 2 : 0;
  context.drawText(shown, {left, y, b.width() - left - 4, lineHeight}, font_, color, alignment_,
                   LineBreakMode::TruncatingTail, 1);
}

}  // namespace platform
