#include "screens/common/ScreenLook.h"

#include "model/GlobalModel.h"
#include "platform/ui/Button.h"
#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "widgets/MirelTabBarController.h"

namespace screenlook {

bool isTallScreen() { return platform::Screen::mainScreen().isTallMode(); }

std::shared_ptr<platform::Label> titleLabel(const platform::Rect& frame, const std::string& text) {
  auto label = platform::Label::create(frame);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setTextColor(platform::Color::blackColor());
  label->setFont(platform::Font::boldSystemFont(20));
  label->setTextAlignment(platform::TextAlignment::Center);
  label->setText(text);
  return label;
}

std::shared_ptr<platform::BarButtonItem> backButtonItem(std::function<void()> action) {
  auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
  button->setFrame({0, 0, 44, 44});
  button->setImage(platform::Image::named("btn_back_2"));
  button->addAction(std::move(action), platform::ControlEvent::TouchUpInside);
  return std::make_shared<platform::BarButtonItem>(button);
}

std::shared_ptr<platform::Button> retryButton(const platform::Rect& frame,
                                              std::function<void()> action) {
  auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
  button->setImage(platform::Image::named("btn_refresh"));
  button->setImage(platform::Image::named("btn_refresh_p"), platform::ControlState::Highlighted);
  button->setFrame(frame);
  button->setHidden(true);
  button->addAction(std::move(action), platform::ControlEvent::TouchUpInside);
  return button;
}

void popScreen(platform::ViewController& screen) {
  if (auto nav = screen.navigationController()) nav->popViewControllerAnimated(true);
}

std::shared_ptr<platform::NavigationController> mainNavigationController() {
  auto tabBar = GlobalModel::sharedModel()->tabBarViewController();
  return tabBar ? tabBar->navigationController() : nullptr;
}

void showTitleOnTabBar(const std::string& title) {
  auto tabBar = GlobalModel::sharedModel()->tabBarViewController();
  if (!tabBar) return;
  auto& item = tabBar->navigationItem();
  auto label = std::dynamic_pointer_cast<platform::Label>(item.titleView());
  if (!label) label = titleLabel({0, 0, 200, 44}, title);
  label->setText(title);
  item.setTitleView(label);
}

std::string numberText(const std::optional<std::int64_t>& number) {
  return number ? std::to_string(*number) : "(null)";
}

std::pair<std::shared_ptr<platform::ImageView>, std::shared_ptr<platform::Label>> emptyState(
    platform::View& view, const platform::Rect& pictureFrame, const std::string& picture,
    const platform::Rect& textFrame, const std::string& text, platform::Font font) {
  auto image = platform::ImageView::create(pictureFrame);
  image->setImage(platform::Image::named(picture));
  image->setHidden(true);
  view.addSubview(image);
  auto label = platform::Label::create(textFrame);
  label->setBackgroundColor(platform::Color::clearColor());
  label->setTextColor(platform::Color::rgb255(232, 232, 232));
  label->setTextAlignment(platform::TextAlignment::Center);
  label->setFont(font);
  label->setText(text);
  label->setHidden(true);
  view.addSubview(label);
  return {image, label};
}

std::shared_ptr<platform::View> filledView(const platform::Rect& frame, platform::Color color) {
  auto view = platform::View::create(frame);
  view->setBackgroundColor(color);
  return view;
}

std::shared_ptr<platform::AlertView> showAlert(
    std::optional<std::string> title, std::optional<std::string> message, const std::string& cancel,
    std::vector<std::string> others, std::weak_ptr<platform::AlertViewDelegate> delegate, int tag) {
  auto alert = platform::AlertView::create(std::move(title), std::move(message),
                                           std::move(delegate), cancel, std::move(others));
  alert->setTag(tag);
  alert->show();
  return alert;
}

}  // namespace screenlook
