#pragma once
// NavigationBar: the 44-point bar at the top of a navigation controller. It shows the top
// navigation item: its title view (centred) or its title, its left item (or a back button when
// there is something to go back to) and its right item. A bar item's custom view is placed
// as it is, vertically centred, 5 points from its edge.

#include <functional>
#include <memory>
#include <optional>

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

  // Shows `item`; `backTitle` present means a back button that runs `onBack`.
  void showItem(NavigationItem* item, std::optional<std::string> backTitle,
                std::function<void()> onBack);
  std::shared_ptr<Button> backButton() const { return backButton_; }
  std::shared_ptr<Label> titleLabel() const { return titleLabel_; }

  void layoutSubviews() override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit NavigationBar(const Rect& frame = {0, 0, 320, 44});

 private:
  std::optional<Color> tintColor_;
  int barStyle_ = 0;
  std::shared_ptr<Image> backgroundImage_;
  NavigationItem* item_ = nullptr;
  std::shared_ptr<Label> titleLabel_;
  std::shared_ptr<Button> backButton_;
  std::shared_ptr<View> shownTitleView_, shownLeft_, shownRight_;
};

}  // namespace platform
