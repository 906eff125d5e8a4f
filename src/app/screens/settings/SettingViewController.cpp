#include "screens/settings/SettingViewController.h"

#include "model/GlobalModel.h"
#include "net/CheckVersion.h"
#include "platform/ui/NavigationController.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/DefaultsKeys.h"
#include "screens/common/ScreenLook.h"
#include "screens/feedback/MessageController.h"
#include "screens/settings/AboutViewController.h"
#include "screens/settings/AnswerViewController.h"

namespace {

constexpr const char* kTitle = "提示";
constexpr const char* kOfflineMessage = "您目前处于离线登录状态，请在线登录";

std::shared_ptr<platform::Button> imageButton(const platform::Rect& frame, const char* normal,
                                              const char* highlighted) {
  auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
  button->setBackgroundImage(platform::Image::named(normal));
  button->setBackgroundImage(platform::Image::named(highlighted),
                             platform::ControlState::Highlighted);
  button->setFrame(frame);
  return button;
}

}  // namespace

SettingViewController::SettingViewController(std::optional<std::string> nibName)
    : ViewController(std::move(nibName)) {
  setTitle(std::string("设置"));
}

std::shared_ptr<platform::AlertViewDelegate> SettingViewController::asAlertDelegate() {
  return std::static_pointer_cast<AlertViewDelegate>(
      std::static_pointer_cast<SettingViewController>(shared_from_this()));
}

void SettingViewController::viewDidLoad() {
  ViewController::viewDidLoad();
  view()->setBackgroundColor(platform::Color::whiteColor());
  initNavBar();
  _userDefaults = &platform::UserDefaults::standard();

  double height = screenlook::isTallScreen() ? 492 : 404;
  _tableView = platform::TableView::create(platform::Rect{0, 20, 320, height},
                                           platform::TableViewStyle::Grouped);
  _tableView->setDelegate(std::dynamic_pointer_cast<TableViewDelegate>(shared_from_this()));
  _tableView->setDataSource(std::dynamic_pointer_cast<TableViewDataSource>(shared_from_this()));
  _tableView->setBackgroundColor(platform::Color::whiteColor());
  _tableView->setSeparatorColor(platform::Color::clearColor());
  _tableView->setBackgroundView(
      screenlook::filledView({0, 0, 320, 200}, platform::Color::whiteColor()));
  view()->addSubview(_tableView);

  // U+FF0D, the full-width hyphen, is part of the picture's name.
  versionButton_ = imageButton({30, 190, 260, 45}, "jc.png", "jc－1.png");
  versionButton_->addAction(screenlook::weakAction(*this, &SettingViewController::refershClick),
                            platform::ControlEvent::TouchUpInside);
  _tableView->addSubview(versionButton_);
  logoutButton_ = imageButton({30, 245, 260, 45}, "btn_logout", "btn_logout_p");
  logoutButton_->addAction(screenlook::weakAction(*this, &SettingViewController::logout),
                           platform::ControlEvent::TouchUpInside);
  _tableView->addSubview(logoutButton_);
}

void SettingViewController::viewDidAppear(bool animated) {
  ViewController::viewDidAppear(animated);
  initNavBar();
}

void SettingViewController::initNavBar() { screenlook::showTitleOnTabBar(title().value_or("")); }

std::shared_ptr<platform::View> SettingViewController::viewForHeaderInSection(platform::TableView&,
                                                                              int) {
  return screenlook::filledView({0, 0, 320, 1}, platform::Color::clearColor());
}

std::shared_ptr<platform::View> SettingViewController::viewForFooterInSection(platform::TableView&,
                                                                              int) {
  return screenlook::filledView({0, 0, 320, 1}, platform::Color::clearColor());
}

std::shared_ptr<platform::TableViewCell> SettingViewController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
  auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  if (!cell)
    cell = platform::TableViewCell::create(platform::TableViewCellStyle::Value1,
                                           std::string(kCellIdentifier));
  cell->textLabel()->setFont(platform::Font::systemFont(14));
  cell->setSelectionStyle(platform::TableViewCellSelectionStyle::None);
  cell->setBackgroundColor(platform::Color::white(0.919, 1.0));
  // The three rows share one reuse identifier: a cell that showed the switch may come back for
  // another row, and one configured again must not gather a second switch.
  while (auto old = cell->contentView()->viewWithTag(kSwitchTag)) old->removeFromSuperview();
  cell->setAccessoryType(platform::TableViewCellAccessory::None);
  switch (path.section) {
    case 0: {
      cell->textLabel()->setText("切换到3G网络下提醒我");
      auto toggle = platform::Switch::create(platform::Rect{215, 8, 80, 30});
      toggle->setTag(kSwitchTag);
      toggle->addTarget(std::static_pointer_cast<SettingViewController>(shared_from_this()),
                        &SettingViewController::switchValueChange,
                        platform::ControlEvent::ValueChanged);
      toggle->setOn(_userDefaults->stringForKey(defaultskeys::mobileReminder(
                        GlobalModel::sharedModel()->userId())) == defaultskeys::kReminderOn);
      cell->contentView()->addSubview(toggle);
      break;
    }
    case 1:
      cell->textLabel()->setText("留言与反馈");
      cell->setAccessoryType(platform::TableViewCellAccessory::DisclosureIndicator);
      break;
    default:
      cell->textLabel()->setText("常见问题");
      cell->setAccessoryType(platform::TableViewCellAccessory::DisclosureIndicator);
      break;
  }
  return cell;
}

void SettingViewController::didSelectRowAtIndexPath(platform::TableView&,
                                                    const platform::IndexPath& path) {
  auto nav = screenlook::mainNavigationController();
  if (path.section == 1) {
    if (!isLoginOn()) {
      screenlook::showAlert(std::string(kTitle), std::string(kOfflineMessage), "取消", {"确定"},
                            asAlertDelegate(), kOfflineFeedbackAlertTag);
      return;
    }
    if (nav) nav->pushViewController(MessageController::create(), true);
  } else if (path.section == 2) {
    _answerVC = AnswerViewController::create();
    if (nav) nav->pushViewController(_answerVC, true);
  }
}

void SettingViewController::switchValueChange(platform::Control& sender) {
  auto* toggle = dynamic_cast<platform::Switch*>(&sender);
  if (!toggle) return;
  _userDefaults->set(defaultskeys::mobileReminder(GlobalModel::sharedModel()->userId()),
                     toggle->isOn() ? defaultskeys::kReminderOn : defaultskeys::kReminderOff);
  _userDefaults->synchronize();
}

bool SettingViewController::isLoginOn() const {
  return GlobalModel::sharedModel()->loginState() == GlobalModel::kLoginOnline;
}

void SettingViewController::refershClick() {
  if (!isLoginOn()) {
    screenlook::showAlert(std::string(kTitle), std::string(kOfflineMessage), "取消", {"确定"},
                          asAlertDelegate(), kOfflineVersionAlertTag);
    return;
  }
  if (GlobalModel::sharedModel()->GlobalNetWorkStatus() ==
      std::optional<std::string>("NotReachable")) {
    screenlook::showAlert(std::string(kTitle), std::string("请您连接网络"), "确定");
    return;
  }
  CheckVersion::checkVersion();
}

void SettingViewController::logout() {
  screenlook::showAlert(std::string(kTitle), std::string("是否退出登录?"), "取消", {"确定"},
                        asAlertDelegate(), kLogoutAlertTag);
}

void SettingViewController::cleanGlobalModel() {
  auto model = GlobalModel::sharedModel();
  model->setUserId(0);
  model->setCourses(std::nullopt);
  model->setLoginState(GlobalModel::kLoggedOut);
  model->setAreaName(std::nullopt);
  model->setAreaCode(std::nullopt);
}

void SettingViewController::popToAreaScreen() {
  if (auto nav = screenlook::mainNavigationController()) nav->popToRootViewControllerAnimated(true);
}

void SettingViewController::alertViewClickedButtonAtIndex(platform::AlertView& alert,
                                                          int buttonIndex) {
  if (buttonIndex != 1) return;
  switch (alert.tag()) {
    case kLogoutAlertTag: {
      // Only what this screen presents is dismissed; the presentation the whole stack may be
      // part of (the first-run guide's) stays.
      if (presentedViewController()) dismissViewControllerAnimated(true);
      cleanGlobalModel();
      popToAreaScreen();
      auto services = ApplicationServices::shared();
      auto downloads = services ? services->downloadManager() : nullptr;
      if (downloads && !downloads->isDownloading().empty()) {
        downloads->pauseAllDownload();
        services->updateIdleTimer();
      }
      break;
    }
    case kOfflineVersionAlertTag:
    case kOfflineFeedbackAlertTag:
      popToAreaScreen();
      break;
    default:
      break;
  }
}
