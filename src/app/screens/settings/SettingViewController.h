#pragma once
// SettingViewController: the fourth tab of the main screen ("设置"). A grouped table of three
// one-row sections (the mobile-network reminder switch, the feedback form, the FAQ) and, below
// the rows, the store version check and logout buttons. The reminder is stored per user under
// "%d_3g": "YES" when on, "ON" when turned off (every reader takes anything but "YES" as off).
// Feedback and the version check need an online login; logging out clears the login, returns to
// the area screen and pauses every queued download, leaving the download queue idle. Main thread
// only.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

class AboutViewController;
class AnswerViewController;

class SettingViewController : public platform::ViewController,
                              public platform::TableViewDataSource,
                              public platform::TableViewDelegate,
                              public platform::AlertViewDelegate {
  CH_SHARED_OBJECT(SettingViewController)

 public:
  static constexpr const char* kCellIdentifier = "Identifier";
  static constexpr int kSwitchTag = 10;
  // Alert tags.
  static constexpr int kLogoutAlertTag = 1000;
  static constexpr int kOfflineVersionAlertTag = 1001;
  static constexpr int kOfflineFeedbackAlertTag = 1002;

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void initNavBar();

  void switchValueChange(platform::Control& sender);
  // The version check button.
  void refershClick();
  void logout();
  void cleanGlobalModel();
  // Whether the login is online.
  bool isLoginOn() const;
  std::string tabImageName() const { return "icon_setting@2x"; }
  std::string tabTitle() const { return "设置"; }

  std::optional<int> numberOfSectionsInTableView(platform::TableView&) override { return 3; }
  int numberOfRowsInSection(platform::TableView&, int) override { return 1; }
  std::optional<double> heightForHeaderInSection(platform::TableView&, int) override { return 5; }
  std::optional<double> heightForFooterInSection(platform::TableView&, int) override { return 5; }
  std::shared_ptr<platform::View> viewForHeaderInSection(platform::TableView&, int) override;
  std::shared_ptr<platform::View> viewForFooterInSection(platform::TableView&, int) override;
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;
  void didSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath& path) override;
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;

  const std::shared_ptr<platform::TableView>& tableView() const { return _tableView; }
  const std::shared_ptr<platform::Button>& versionButton() const { return versionButton_; }
  const std::shared_ptr<platform::Button>& logoutButton() const { return logoutButton_; }
  const std::shared_ptr<AnswerViewController>& answerVC() const { return _answerVC; }

 protected:
  explicit SettingViewController(std::optional<std::string> nibName = std::nullopt);

 private:
  void popToAreaScreen();
  std::shared_ptr<platform::AlertViewDelegate> asAlertDelegate();

  std::shared_ptr<platform::TableView> _tableView;
  std::shared_ptr<AnswerViewController> _answerVC;
  std::shared_ptr<AboutViewController> _aboutVC;
  platform::UserDefaults* _userDefaults = nullptr;

  // Our own.
  std::shared_ptr<platform::Button> versionButton_;
  std::shared_ptr<platform::Button> logoutButton_;
};
