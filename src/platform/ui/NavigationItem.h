#pragma once
// NavigationItem: what a navigation bar shows for one view controller: a title (or a title
// view) and the items on the left and right. The bar shows a back button on the left when the
// item has no left item, is not the bottom one and does not hide it.
//
// A bar that shows an item follows its later changes: every setter tells the bar, which shows
// the item again. Items are shared (a controller's item, or the items a stand-alone bar owns);
// main thread only, like the bar.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/BarButtonItem.h"

namespace platform {

class NavigationBar;
class View;

class NavigationItem {
 public:
  NavigationItem() = default;
  explicit NavigationItem(std::optional<std::string> title) : title_(std::move(title)) {}
  NavigationItem(const NavigationItem&) = delete;
  NavigationItem& operator=(const NavigationItem&) = delete;

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title);
  std::shared_ptr<View> titleView() const { return titleView_; }
  void setTitleView(std::shared_ptr<View> view);
  std::shared_ptr<BarButtonItem> leftBarButtonItem() const { return left_; }
  void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item);
  std::shared_ptr<BarButtonItem> rightBarButtonItem() const { return right_; }
  void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item);
  std::shared_ptr<BarButtonItem> backBarButtonItem() const { return back_; }
  void setBackBarButtonItem(std::shared_ptr<BarButtonItem> item);
  bool hidesBackButton() const { return hidesBackButton_; }
  void setHidesBackButton(bool h);

 private:
  friend class NavigationBar;
  void changed();

  std::optional<std::string> title_;
  std::shared_ptr<View> titleView_;
  std::shared_ptr<BarButtonItem> left_;
  std::shared_ptr<BarButtonItem> right_;
  std::shared_ptr<BarButtonItem> back_;
  bool hidesBackButton_ = false;
  // Set by the bar showing this item while it shows it.
  std::function<void()> onChange_;
};

}  // namespace platform
