#include "platform/ui/NavigationBar.h"

#include "platform/ui/Button.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationItem.h"

namespace platform {

NavigationBar::NavigationBar(const Rect& frame) : View(frame) {
  titleLabel_ = Label::create();
  titleLabel_->setBackgroundColor(Color::clearColor());
  titleLabel_->setFont(Font::boldSystemFont(20));
  titleLabel_->setTextColor(Color::whiteColor());
  titleLabel_->setTextAlignment(TextAlignment::Center);
  setAutoresizingMask(Autoresizing::FlexibleWidth);
}

void NavigationBar::setTintColor(std::optional<Color> color) {
  tintColor_ = color;
  setNeedsDisplay();
}

void NavigationBar::setBackgroundImage(std::shared_ptr<Image> image) {
  backgroundImage_ = std::move(image);
  setNeedsDisplay();
}

void NavigationBar::showItem(NavigationItem* item, std::optional<std::string> backTitle,
                             std::function<void()> onBack) {
  for (auto* v : {&shownTitleView_, &shownLeft_, &shownRight_}) {
    if (*v && (*v)->superviewPointer() == this) (*v)->removeFromSuperview();
    v->reset();
  }
  titleLabel_->removeFromSuperview();
  if (backButton_) backButton_->removeFromSuperview();
  backButton_.reset();
  item_ = item;
  if (!item) return;
  if (item->titleView()) {
    shownTitleView_ = item->titleView();
  } else {
    titleLabel_->setText(item->title().value_or(""));
    shownTitleView_ = titleLabel_;
  }
  // Behind the bar items, as the platform keeps the title.
  insertSubview(shownTitleView_, 0);
  if (auto left = item->leftBarButtonItem()) {
    shownLeft_ = left->customView();
    if (!shownLeft_) {
      auto button = Button::create(Rect{0, 0, 60, 30}, ButtonType::Custom);
      button->setTitle(left->title());
      button->addAction([left] { left->trigger(); }, ControlEvent::TouchUpInside);
      shownLeft_ = button;
    }
  } else if (backTitle && !item->hidesBackButton()) {
    backButton_ = Button::create(Rect{0, 0, 60, 30}, ButtonType::Custom);
    backButton_->setTitle(*backTitle);
    backButton_->setBackgroundColor(Color::blackColor().withAlpha(0.25));
    backButton_->layer().setCornerRadius(5);
    backButton_->addAction(std::move(onBack), ControlEvent::TouchUpInside);
    shownLeft_ = backButton_;
  }
  if (auto right = item->rightBarButtonItem()) {
    shownRight_ = right->customView();
    if (!shownRight_) {
      auto button = Button::create(Rect{0, 0, 60, 30}, ButtonType::Custom);
      button->setTitle(right->title());
      button->addAction([right] { right->trigger(); }, ControlEvent::TouchUpInside);
      shownRight_ = button;
    }
  }
  if (shownLeft_) addSubview(shownLeft_);
  if (shownRight_) addSubview(shownRight_);
  setNeedsLayout();
  layoutSubviews();
}

void NavigationBar::layoutSubviews() {
  Rect b = bounds();
  if (shownLeft_) {
    Rect f = shownLeft_->frame();
    shownLeft_->setFrame({5, (b.height() - f.height()) / 2, f.width(), f.height()});
  }
  if (shownRight_) {
    Rect f = shownRight_->frame();
    shownRight_->setFrame(
        {b.width() - 5 - f.width(), (b.height() - f.height()) / 2, f.width(), f.height()});
  }
  if (shownTitleView_ == titleLabel_) {
    titleLabel_->setFrame({70, 0, b.width() - 140, b.height()});
  } else if (shownTitleView_) {
    Rect f = shownTitleView_->frame();
    shownTitleView_->setFrame(
        {(b.width() - f.width()) / 2, (b.height() - f.height()) / 2, f.width(), f.height()});
  }
}

void NavigationBar::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  if (backgroundImage_) {
    context.drawImage(*backgroundImage_, b);
    return;
  }
  Color tint =
      tintColor_.value_or(barStyle_ == 0 ? Color::rgb255(110, 132, 162) : Color::blackColor());
  context.setFillColor(tint);
  context.fillRect(b);
}

}  // namespace platform
