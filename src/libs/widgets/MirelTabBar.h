#pragma once
// MirelTabBar: the bar of buttons under the four-tab main screen. Each tab is an 80-point
// custom button (tag = its index) holding its icon and its white bold 11-point title; an
// orange-brown highlight, 60 x 49, sits behind the selected one at x 80 x index + 10. The bar
// places itself at y 455 on the tall screen mode and 367 otherwise, whatever y it is given.
//
// Gate: made with index 1, a tap on the first tab is only reported to the delegate; the bar
// keeps its selection and highlight. The selected button takes no touches, so the selected
// tab is never reported.
//
// Image dictionaries, one per tab: "Default" holds the icon the bar shows (a picture name or an
// image object); "Highlighted" and "Seleted" are read only by `insertTabWithImageDic`. Main
// thread only.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/View.h"

class MirelTabBar;

class MirelTabBarDelegate {
 public:
  virtual ~MirelTabBarDelegate() = default;
  virtual void tabBar(MirelTabBar&, unsigned /*index*/) {}
};

class MirelTabBar : public platform::View {
  CH_SHARED_OBJECT(MirelTabBar)

 public:
  static constexpr double kButtonWidth = 80;
  static constexpr double kHighlightWidth = 60;
  static constexpr double kHighlightHeight = 49;
  static constexpr double kBarWidth = 320;
  static constexpr platform::Color kHighlightColor = platform::Color::rgb255(210, 118, 13);
  static constexpr platform::Color kBackgroundColor = platform::Color::rgb255(240, 142, 59);

  std::shared_ptr<platform::ImageView> backgroundView() const { return _backgroundView; }
  void setBackgroundView(std::shared_ptr<platform::ImageView> view);
  std::shared_ptr<platform::View> buttonBgView() const { return _buttonBgView; }
  const std::vector<std::shared_ptr<platform::Button>>& buttons() const { return _buttons; }
  void setButtons(std::vector<std::shared_ptr<platform::Button>> buttons);
  unsigned notSelectIndex() const { return _notSelectIndex; }
  void setNotSelectIndex(unsigned index) { _notSelectIndex = index; }
  std::shared_ptr<MirelTabBarDelegate> delegate() const { return _delegate.lock(); }
  void setDelegate(std::weak_ptr<MirelTabBarDelegate> delegate) { _delegate = std::move(delegate); }

  // Ignores the image: the bar is painted the application's orange.
  void setBackgroundImage(std::shared_ptr<platform::Image> image);
  void tabBarButtonClicked(platform::Button& button);
  // Every button becomes unselected and touchable, then the one at `index` selected and
  // untouchable.
  void selectTabAtIndex(unsigned index);
  void removeTabAtIndex(unsigned index);
  void insertTabWithImageDic(const platform::Dictionary& dictionary, unsigned index);

  // The image a dictionary holds under `key`: a picture name or an image object.
  static std::shared_ptr<platform::Image> imageIn(const platform::Dictionary& dictionary,
                                                  const std::string& key);

 protected:
  MirelTabBar(const platform::Rect& frame, const std::vector<platform::Dictionary>& buttonImages,
              const std::vector<std::string>& titleName, unsigned selectIndex);

 private:
  std::shared_ptr<platform::Button> makeButton(unsigned tag, const platform::Rect& frame);
  // Lays every button out in equal shares of the bar's width, by tag.
  void spreadButtons(double width);

  std::shared_ptr<platform::ImageView> _backgroundView;
  std::shared_ptr<platform::View> _buttonBgView;
  std::vector<std::shared_ptr<platform::Button>> _buttons;
  unsigned _notSelectIndex = 0;
  std::weak_ptr<MirelTabBarDelegate> _delegate;
};
