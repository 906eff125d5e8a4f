#pragma once
// The pieces of look that many screens share: the bold title label of a navigation item, the
// custom back button, the tall-screen test and the shared colours.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/AlertView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace platform {
class NavigationController;
}

namespace screenlook {

// The accent orange of selected years, the tab highlight and the header line.
inline constexpr platform::Color kAccentOrange = platform::Color::rgb255(240, 142, 59);
// The light band of navigation bars and table rows.
inline constexpr platform::Color kLightBand = platform::Color::rgb255(240, 240, 240);
// The background of a selected row.
inline constexpr platform::Color kSelectedRow = platform::Color::rgb255(224, 224, 224);
// Captions, finished rows and separator lines of the course and lecture rows.
inline constexpr platform::Color kCaptionGrey = platform::Color::rgb255(150, 150, 150);
inline constexpr platform::Color kFinishedGrey = platform::Color::rgb255(200, 200, 200);
inline constexpr platform::Color kSeparator = platform::Color::rgb255(220, 220, 220);

// Whether the main screen's current mode measures exactly 640 x 1136 pixels.
bool isTallScreen();

// A navigation item's title: clear background, black bold 20-point text, centred.
std::shared_ptr<platform::Label> titleLabel(const platform::Rect& frame, const std::string& text);

// A 44 x 44 custom button with the picture "btn_back_2" that runs `action` on touch-up-inside,
// as a bar item.
std::shared_ptr<platform::BarButtonItem> backButtonItem(std::function<void()> action);

// A callback that runs `method` on `self` while `self` lives, for buttons and gestures that must
// not keep their screen alive.
template <class T>
std::function<void()> weakAction(T& self, void (T::*method)()) {
  std::weak_ptr<T> weak = std::static_pointer_cast<T>(self.shared_from_this());
  return [weak, method] {
    if (auto strong = weak.lock()) ((*strong).*method)();
  };
}

// The retry button of a list that could not be loaded: "btn_refresh" ("btn_refresh_p" while
// pressed), hidden until the list needs it, running `action` when tapped.
std::shared_ptr<platform::Button> retryButton(const platform::Rect& frame,
                                              std::function<void()> action);

// A plain white list without separator lines whose data source and delegate is `screen`.
template <class Screen>
std::shared_ptr<platform::TableView> listTable(const platform::Rect& frame, Screen& screen) {
  auto self = std::static_pointer_cast<Screen>(screen.shared_from_this());
  auto table = platform::TableView::create(frame, platform::TableViewStyle::Plain);
  table->setDelegate(std::static_pointer_cast<platform::TableViewDelegate>(self));
  table->setDataSource(std::static_pointer_cast<platform::TableViewDataSource>(self));
  table->setSeparatorStyle(platform::TableViewCellSeparatorStyle::None);
  table->setBackgroundColor(platform::Color::whiteColor());
  return table;
}

// Pops `screen` off its navigation controller, animated, when it is on one.
void popScreen(platform::ViewController& screen);

// The navigation controller the main screen (the tab bar of the current login) is on; null
// before a login.
std::shared_ptr<platform::NavigationController> mainNavigationController();
// Shows `title` in the main screen's navigation item, whose one title label the four tab screens
// share: each writes its own title into it when it appears.
void showTitleOnTabBar(const std::string& title);

// The text of a number the course data may lack: its decimal digits, or "(null)".
std::string numberText(const std::optional<std::int64_t>& number);

// The hidden picture and light-grey centred text a list shows in its place when it is empty,
// added to `view`.
std::pair<std::shared_ptr<platform::ImageView>, std::shared_ptr<platform::Label>> emptyState(
    platform::View& view, const platform::Rect& pictureFrame, const std::string& picture,
    const platform::Rect& textFrame, const std::string& text, platform::Font font);

// A plain view of `color`, for selected-row backgrounds and separator lines.
std::shared_ptr<platform::View> filledView(const platform::Rect& frame, platform::Color color);

// Shows an alert: `cancel` is button 0, `others` follow; `tag` tells the delegate's alerts apart.
std::shared_ptr<platform::AlertView> showAlert(
    std::optional<std::string> title, std::optional<std::string> message, const std::string& cancel,
    std::vector<std::string> others = {}, std::weak_ptr<platform::AlertViewDelegate> delegate = {},
    int tag = 0);

}  // namespace screenlook
