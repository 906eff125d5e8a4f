#include "platform/ui/BarButtonItem.h"

#include "platform/ui/View.h"

namespace platform {

BarButtonItem::BarButtonItem(std::shared_ptr<View> customView)
    : customView_(std::move(customView)) {}

BarButtonItem::BarButtonItem(std::string title, Style style, std::function<void()> action)
    : title_(std::move(title)), style_(style), action_(std::move(action)) {}

void BarButtonItem::trigger() const {
  if (enabled_ && action_) action_();
}

}  // namespace platform
