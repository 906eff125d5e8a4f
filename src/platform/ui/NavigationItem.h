#pragma once
// NavigationItem: what a navigation bar shows for one view controller: a title (or a title
// view) and the items on the left and right. The bar shows a back button on the left when the
// item has no left item, is not the bottom one and does not hide it.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/BarButtonItem.h"

namespace platform {

class View;

class NavigationItem {
 public:
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  std::shared_ptr<View> titleView() const { return titleView_; }
  void setTitleView(std::shared_ptr<View> view) { titleView_ = std::move(view); }
  std::shared_ptr<BarButtonItem> leftBarButtonItem() const { return left_; }
  void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item) { left_ = std::move(item); }
  std::shared_ptr<BarButtonItem> rightBarButtonItem() const { return right_; }
  void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) { right_ = std::move(item); }
  std::shared_ptr<BarButtonItem> backBarButtonItem() const { return back_; }
  void setBackBarButtonItem(std::shared_ptr<BarButtonItem> item) { back_ = std::move(item); }
  bool hidesBackButton() const { return hidesBackButton_; }
  void setHidesBackButton(bool h) { hidesBackButton_ = h; }

 private:
  std::optional<std::string> title_;
  std::shared_ptr<View> titleView_;
  std::shared_ptr<BarButtonItem> left_;
  std::shared_ptr<BarButtonItem> right_;
  std::shared_ptr<BarButtonItem> back_;
  bool hidesBackButton_ = false;
};

}  // namespace platform
