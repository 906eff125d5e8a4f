#include "platform/ui/Button.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextMeasurer.h"

namespace platform {

Button::Button(const Rect& frame, ButtonType type) : Control(frame), type_(type) {
  setOpaque(false);
  titleLabel_ = Label::create();
  titleLabel_->setBackgroundColor(Color::clearColor());
  titleLabel_->setFont(Font::boldSystemFont(15));
  titleLabel_->setTextAlignment(TextAlignment::Center);
  titleLabel_->setLineBreakMode(LineBreakMode::TruncatingMiddle);
  imageView_ = ImageView::create();
  addSubview(imageView_);
  addSubview(titleLabel_);
  if (type_ == ButtonType::RoundedRect) {
    titleColors_[ControlState::Normal] = Color::rgb(0.196, 0.310, 0.522);
    titleColors_[ControlState::Highlighted] = Color::whiteColor();
  } else {
    titleColors_[ControlState::Normal] = Color::whiteColor();
  }
  refreshContent();
}

std::shared_ptr<Button> Button::buttonWithType(ButtonType type) {
  return Button::create(Rect{}, type);
}

template <class T>
const T* Button::lookup(const std::map<unsigned, T>& values, unsigned state) {
  auto it = values.find(state);
  if (it != values.end()) return &it->second;
  if (state & ControlState::Selected) {
    it = values.find(ControlState::Selected);
    if (it != values.end()) return &it->second;
  }
  it = values.find(ControlState::Normal);
  return it == values.end() ? nullptr : &it->second;
}

void Button::setTitle(std::optional<std::string> title, unsigned state) {
  if (title) {
    titles_[state] = *title;
  } else {
    titles_.erase(state);
  }
  refreshContent();
}

std::optional<std::string> Button::titleForState(unsigned state) const {
  const std::string* t = lookup(titles_, state);
  return t ? std::optional<std::string>(*t) : std::nullopt;
}

void Button::setTitleColor(std::optional<Color> color, unsigned state) {
  if (color) {
    titleColors_[state] = *color;
  } else {
    titleColors_.erase(state);
  }
  refreshContent();
}

std::optional<Color> Button::titleColorForState(unsigned state) const {
  const Color* c = lookup(titleColors_, state);
  return c ? std::optional<Color>(*c) : std::nullopt;
}

Color Button::currentTitleColor() const {
  return titleColorForState(state()).value_or(Color::whiteColor());
}

void Button::setImage(std::shared_ptr<Image> image, unsigned state) {
  if (image) {
    images_[state] = std::move(image);
  } else {
    images_.erase(state);
  }
  refreshContent();
}

std::shared_ptr<Image> Button::imageForState(unsigned state) const {
  auto* i = lookup(images_, state);
  return i ? *i : nullptr;
}

void Button::setBackgroundImage(std::shared_ptr<Image> image, unsigned state) {
  if (image) {
    backgrounds_[state] = std::move(image);
  } else {
    backgrounds_.erase(state);
  }
  refreshContent();
}

std::shared_ptr<Image> Button::backgroundImageForState(unsigned state) const {
  auto* i = lookup(backgrounds_, state);
  return i ? *i : nullptr;
}

void Button::setEnabled(bool enabled) {
  Control::setEnabled(enabled);
  refreshContent();
}

void Button::setSelected(bool selected) {
  Control::setSelected(selected);
  refreshContent();
}

void Button::setHighlighted(bool highlighted) {
  Control::setHighlighted(highlighted);
  refreshContent();
}

void Button::refreshContent() {
  updateSubviews();
  setNeedsLayout();
  setNeedsDisplay();
}

void Button::updateSubviews() {
  titleLabel_->setText(currentTitle().value_or(""));
  titleLabel_->setTextColor(currentTitleColor());
  imageView_->setImage(currentImage());
}

void Button::layoutSubviews() {
  updateSubviews();
  Rect b = bounds();
  Rect content{b.x() + contentInsets_.left, b.y() + contentInsets_.top,
               b.width() - contentInsets_.left - contentInsets_.right,
               b.height() - contentInsets_.top - contentInsets_.bottom};
  auto image = currentImage();
  Size imageSize = image ? image->size() : Size{};
  if (image && image->isMissing())
    imageSize = {std::min(content.width(), content.height()),
                 std::min(content.width(), content.height())};
  imageSize.width = std::min(imageSize.width, content.width());
  imageSize.height = std::min(imageSize.height, content.height());
  Size titleSize = titleLabel_->text().empty()
                       ? Size{}
                       : TextMeasurer::sizeOfLine(titleLabel_->text(), titleLabel_->font());
  titleSize.width = std::min(titleSize.width, std::max(0.0, content.width() - imageSize.width));
  titleSize.height = std::min(titleSize.height, content.height());
  double total = imageSize.width + titleSize.width;
  double x = content.midX() - total / 2;
  imageView_->setFrame(
      {x + imageInsets_.left - imageInsets_.right,
       content.midY() - imageSize.height / 2 + imageInsets_.top - imageInsets_.bottom,
       imageSize.width, imageSize.height});
  titleLabel_->setFrame(
      {x + imageSize.width + titleInsets_.left - titleInsets_.right,
       content.midY() - titleSize.height / 2 + titleInsets_.top - titleInsets_.bottom,
       titleSize.width, titleSize.height});
}

Size Button::sizeThatFits(Size) const {
  Size size;
  if (auto bg = currentBackgroundImage()) size = bg->size();
  Size image = currentImage() ? currentImage()->size() : Size{};
  auto title = currentTitle();
  Size text = title ? TextMeasurer::sizeOfLine(*title, titleLabel_->font()) : Size{};
  size.width =
      std::max(size.width, image.width + text.width + contentInsets_.left + contentInsets_.right);
  size.height = std::max({size.height, image.height, text.height}) + contentInsets_.top +
                contentInsets_.bottom;
  return size;
}

void Button::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  if (type_ == ButtonType::RoundedRect) {
    context.setFillColor(isHighlighted() ? Color::rgb255(80, 120, 200) : Color::whiteColor());
    context.fillRoundedRect(b.insetBy(0.5, 0.5), 9);
    context.setStrokeColor(Color::grayColor());
    context.setLineWidth(1);
    context.beginPath();
    context.addRoundedRect(b.insetBy(0.5, 0.5), 9);
    context.strokePath();
  }
  if (auto background = currentBackgroundImage()) context.drawImage(*background, b);
}

}  // namespace platform
