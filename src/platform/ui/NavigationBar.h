#pragma once
// NavigationBar: the 44-point bar at the top of a navigation controller, or a stand-alone bar
// on a screen. It shows one navigation item: its title view (centred) or its title, its left
// item (or a back button when there is something to go back to) and its right item, and shows
// it again whenever the item changes. A bar item's custom view is placed as it is, vertically
// centred, 5 points from its edge.
//
// A navigation controller tells its bar what to show (`showItem`). A stand-alone bar owns a
// stack of items (`pushNavigationItem`, `setItems`) and shows the top one, with a back button
// titled after the item below it that pops the top item.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace platform {

class Button;
class Label;
class NavigationItem;

class NavigationBar : public View {
  CH_SHARED_OBJECT(NavigationBar)

 public:
  std::optional<Color> tintColor() const { return tintColor_; }
  void setTintColor(std::optional<Color> color);
  int barStyle() const { return barStyle_; }
  void setBarStyle(int style) { barStyle_ = style; }
  void setBackgroundImage(std::shared_ptr<Image> image);

  // Shows `item` (null: nothing); `backTitle` present means a back button that runs `onBack`.
  void showItem(std::shared_ptr<NavigationItem> item, std::optional<std::string> backTitle,
                std::function<void()> onBack);
  // The item shown.
  std::shared_ptr<NavigationItem> topItem() const { return item_; }

  // The stand-alone bar's own items, bottom first.
  const std::vector<std::shared_ptr<NavigationItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<NavigationItem>> items, bool animated);
  void pushNavigationItem(std::shared_ptr<NavigationItem> item, bool animated);
  // The popped item; null when one item or none is left.
  std::shared_ptr<NavigationItem> popNavigationItemAnimated(bool animated);
  std::shared_ptr<NavigationItem> backItem() const;

  std::shared_ptr<Button> backButton() const { return backButton_; }
  std::shared_ptr<Label> titleLabel() const { return titleLabel_; }

  void layoutSubviews() override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

  ~NavigationBar() override;

 protected:
  explicit NavigationBar(const Rect& frame = {0, 0, 320, 44});

 private:
  // Builds the shown views from the item, the back title and the back action.
  void refresh();
  // Shows the top of `items_`.
  void showTopItem();
  void stopFollowing();

  std::optional<Color> tintColor_;
  int barStyle_ = 0;
  std::shared_ptr<Image> backgroundImage_;
  std::vector<std::shared_ptr<NavigationItem>> items_;
  std::shared_ptr<NavigationItem> item_;
  std::optional<std::string> backTitle_;
  std::function<void()> onBack_;
  std::shared_ptr<Label> titleLabel_;
  std::shared_ptr<Button> backButton_;
  std::shared_ptr<View> shownTitleView_, shownLeft_, shownRight_;
};

}  // namespace platform
