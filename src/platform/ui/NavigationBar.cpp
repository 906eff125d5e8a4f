#include "platform/ui/NavigationBar.h"

#include "platform/foundation/Thread.h"
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

NavigationBar::~NavigationBar() { stopFollowing(); }

void NavigationBar::stopFollowing() {
  if (item_) item_->onChange_ = nullptr;
}

void NavigationBar::showItem(std::shared_ptr<NavigationItem> item,
                             std::optional<std::string> backTitle, std::function<void()> onBack) {
  assertMainThread("NavigationBar::showItem");
  stopFollowing();
  item_ = std::move(item);
  backTitle_ = std::move(backTitle);
  onBack_ = std::move(onBack);
  if (item_) {
    std::weak_ptr<NavigationBar> weak =
        std::static_pointer_cast<NavigationBar>(weak_from_this().lock());
    item_->onChange_ = [weak] {
      if (auto bar = weak.lock()) bar->refresh();
    };
  }
  refresh();
}

void NavigationBar::setItems(std::vector<std::shared_ptr<NavigationItem>> items, bool) {
  assertMainThread("NavigationBar::setItems");
  items_.clear();
  for (auto& item : items) {
    if (item) items_.push_back(std::move(item));
  }
  showTopItem();
}

void NavigationBar::pushNavigationItem(std::shared_ptr<NavigationItem> item, bool) {
  assertMainThread("NavigationBar::pushNavigationItem");
  if (!item) return;
  items_.push_back(std::move(item));
  showTopItem();
}

std::shared_ptr<NavigationItem> NavigationBar::popNavigationItemAnimated(bool) {
  assertMainThread("NavigationBar::popNavigationItemAnimated");
  if (items_.size() <= 1) return nullptr;
  auto popped = items_.back();
  items_.pop_back();
  showTopItem();
  return popped;
}

std::shared_ptr<NavigationItem> NavigationBar::backItem() const {
  return items_.size() > 1 ? items_[items_.size() - 2] : nullptr;
}

void NavigationBar::showTopItem() {
  std::optional<std::string> back;
  if (auto below = backItem()) {
    auto item = below->backBarButtonItem();
    back = item && item->title() ? *item->title() : below->title().value_or("返回");
  }
  std::weak_ptr<NavigationBar> weak =
      std::static_pointer_cast<NavigationBar>(weak_from_this().lock());
  showItem(items_.empty() ? nullptr : items_.back(), back, [weak] {
    if (auto bar = weak.lock()) bar->popNavigationItemAnimated(true);
  });
}

void NavigationBar::refresh() {
  for (auto* v : {&shownTitleView_, &shownLeft_, &shownRight_}) {
    if (*v && (*v)->superviewPointer() == this) (*v)->removeFromSuperview();
    v->reset();
  }
  titleLabel_->removeFromSuperview();
  if (backButton_) backButton_->removeFromSuperview();
  backButton_.reset();
  if (!item_) return;
  NavigationItem& item = *item_;
  if (item.titleView()) {
    shownTitleView_ = item.titleView();
  } else {
    titleLabel_->setText(item.title().value_or(""));
    shownTitleView_ = titleLabel_;
  }
  // Behind the bar items, as the platform keeps the title.
  insertSubview(shownTitleView_, 0);
  if (auto left = item.leftBarButtonItem()) {
    shownLeft_ = left->customView();
    if (!shownLeft_) {
      auto button = Button::create(Rect{0, 0, 60, 30}, ButtonType::Custom);
      button->setTitle(left->title());
      button->addAction([left] { left->trigger(); }, ControlEvent::TouchUpInside);
      shownLeft_ = button;
    }
  } else if (backTitle_ && !item.hidesBackButton()) {
    backButton_ = Button::create(Rect{0, 0, 60, 30}, ButtonType::Custom);
    backButton_->setTitle(*backTitle_);
    backButton_->setBackgroundColor(Color::blackColor().withAlpha(0.25));
    backButton_->layer().setCornerRadius(5);
    if (onBack_) backButton_->addAction(onBack_, ControlEvent::TouchUpInside);
    shownLeft_ = backButton_;
  }
  if (auto right = item.rightBarButtonItem()) {
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
