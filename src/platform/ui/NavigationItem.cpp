#include "platform/ui/NavigationItem.h"

namespace platform {

void NavigationItem::setTitle(std::optional<std::string> title) {
  title_ = std::move(title);
  changed();
}

void NavigationItem::setTitleView(std::shared_ptr<View> view) {
  titleView_ = std::move(view);
  changed();
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item) {
  left_ = std::move(item);
  changed();
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) {
  right_ = std::move(item);
  changed();
}

void NavigationItem::setBackBarButtonItem(std::shared_ptr<BarButtonItem> item) {
  back_ = std::move(item);
  changed();
}

void NavigationItem::setHidesBackButton(bool h) {
  hidesBackButton_ = h;
  changed();
}

void NavigationItem::changed() {
  // A copy: showing the item again may replace the callback.
  if (auto onChange = onChange_) onChange();
}

}  // namespace platform
