#include "platform/ui/TextView.h"

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextField.h"

namespace platform {

TextView::TextView(const Rect& frame) : ScrollView(frame) {
  setBackgroundColor(Color::whiteColor());
}

void TextView::setText(std::string text) {
  text_ = std::move(text);
  setNeedsDisplay();
}

void TextView::setDelegate(std::weak_ptr<TextViewDelegate> d) {
  delegate_ = d;
  ScrollView::setDelegate(std::weak_ptr<ScrollViewDelegate>(d.lock()));
}

bool TextView::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  auto d = textDelegate();
  if (d && !d->textViewShouldBeginEditing(*this)) return false;
  if (!ScrollView::becomeFirstResponder()) return false;
  if (auto d2 = textDelegate()) d2->textViewDidBeginEditing(*this);
  return true;
}

bool TextView::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  auto d = textDelegate();
  if (d && !d->textViewShouldEndEditing(*this)) return false;
  if (!ScrollView::resignFirstResponder()) return false;
  if (auto d2 = textDelegate()) d2->textViewDidEndEditing(*this);
  return true;
}

void TextView::touchesEnded(const std::vector<Touch>&) {
  if (editable_) becomeFirstResponder();
}

bool TextView::change(std::size_t location, std::size_t length, const std::string& replacement) {
  auto d = textDelegate();
  if (d && !d->shouldChangeTextInRange(*this, location, length, replacement)) return false;
  text_.replace(location, length, replacement);
  setNeedsDisplay();
  if (auto d2 = textDelegate()) d2->textViewDidChange(*this);
  return true;
}

bool TextView::insertText(const std::string& text) {
  if (!isFirstResponder()) return false;
  for (const auto& c : utf8Characters(text)) change(text_.size(), 0, c);
  return true;
}

bool TextView::deleteBackward() {
  if (!isFirstResponder() || text_.empty()) return false;
  std::size_t length = utf8Characters(text_).back().size();
  return change(text_.size() - length, length, "");
}

void TextView::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  context.drawText(text_, {b.x() + 8, b.y() + 8, b.width() - 16, b.height() - 8}, font_, textColor_,
                   alignment_, LineBreakMode::WordWrap, 0);
}

}  // namespace platform
