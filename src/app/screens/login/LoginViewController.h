#pragma once
// LoginViewController: logs a learner in for the area chosen on the area screen. The area's
// login type (1 to 6) decides which one or two fields the learner fills in: user name and
// password, ID card number, ID card number and name, accountant number and ID card number,
// enrolment number and ID card number, or card number and password. Online, the course API
// checks the credentials ("mCode" "402719", the password types send the MD5 hex digest);
// offline, the user stored by an earlier online login is checked. After a successful login it
// builds the four-tab main screen, pushes it and stays its delegate: it hides the tab bar when a
// pushed screen asks for it and blocks the my-courses tab while the login is offline.
//
// The remember-account box keeps the fields per area in the user defaults; a password (the
// secure-entry field) is never stored, its key keeps the empty text. An online login replaces the
// user's stored row, so only the latest credentials pass a later offline login. The area screen
// makes one login screen and reuses it for every area; each appearance brings the fields and the
// area's description in line with the current area. Main thread only.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "dao/ModelDao.h"
#include "dao/UserDao.h"
#include "model/Area.h"
#include "model/User.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "platform/ui/TextField.h"
#include "screens/common/BaseViewController.h"
#include "screens/common/CheckBox.h"
#include "widgets/MirelTabBarController.h"

class ProgressHUD;

class LoginViewController : public BaseViewController,
                            public platform::TextFieldDelegate,
                            public platform::AlertViewDelegate,
                            public CheckBoxDelegate,
                            public platform::NavigationControllerDelegate,
                            public MirelTabBarControllerDelegate {
  CH_SHARED_OBJECT(LoginViewController)

 public:
  // Alert tags.
  static constexpr int kMobileNetworkAlertTag = 3000;
  static constexpr int kOfflineGateAlertTag = 3001;
  // Sent with every online login.
  static constexpr const char* kMCode = "402719";

  const std::shared_ptr<Area>& area() const { return _area; }
  void setArea(std::shared_ptr<Area> area) { _area = std::move(area); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void initView();

  // Buttons and gestures.
  void back();
  void loginOnline();
  void loginOffline();
  void remeberUserName();
  void reginInput();

  bool validateInput();
  void checkOnLine();
  // A new user of the login type's fields, with the last answer's user id.
  std::shared_ptr<User> getUser() const;
  void toNext();
  void initTabBarController();
  void remeberUserNametoDisk();
  void setRemeberUsername();
  void moveViewUp();
  void moveViewToOriginal();
  // Starts the local media server for the current user (nothing calls it; the player has its
  // own copy of this rule).
  void startHttpServer();

  void viewChecked(CheckBox& box) override;
  bool textFieldShouldReturn(platform::TextField& field) override;
  void textFieldDidBeginEditing(platform::TextField& field) override;
  void textFieldDidEndEditing(platform::TextField& field) override;
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;
  void navigationControllerWillShowViewController(platform::NavigationController&,
                                                  platform::ViewController& shown,
                                                  bool animated) override;
  void tabBarControllerShouldSelectIndex(MirelTabBarController& controller,
                                         unsigned index) override;

  // The request fields of an online login of `type` (without "mCode" and "areaCode").
  static platform::Dictionary loginParameters(int type, const std::string& first,
                                              const std::string& second);

  const std::shared_ptr<platform::TextField>& userNameTF() const { return _userNameTF; }
  const std::shared_ptr<platform::TextField>& passWordTF() const { return _passWordTF; }
  const std::shared_ptr<CheckBox>& checkBox() const { return _checkBox; }
  const std::shared_ptr<platform::Label>& rememberLabel() const { return rememberLabel_; }
  const std::shared_ptr<platform::Button>& btnLoginOnLine() const { return _btnLoginOnLine; }
  const std::shared_ptr<platform::Button>& btnLoginOffline() const { return btnLoginOffline_; }
  const std::shared_ptr<platform::Label>& descriptionLabel() const { return _descriptionLabel; }
  const std::shared_ptr<ProgressHUD>& progressHUD() const { return _progressHUD; }
  int userId() const { return _userId; }
  const std::shared_ptr<MirelTabBarController>& tabBarController() const {
    return _tabBarController;
  }

 protected:
  explicit LoginViewController(std::optional<std::string> nibName = std::nullopt);

 private:
  int loginType() const;
  std::string areaCode() const;
  // Records the login in the global model and points the downloads at the user's folder.
  void enter(int loginState);
  void onLoginAnswer(const std::string& answer);
  void storeUser();
  // Runs `step` on the next turn of the main run loop while this screen lives.
  void later(void (LoginViewController::*step)());

  std::shared_ptr<Area> _area;
  std::shared_ptr<UserDao> _userDao;
  std::shared_ptr<ModelDao> _modelDao;
  platform::UserDefaults* _userDefaults = nullptr;
  std::shared_ptr<platform::TextField> _userNameTF;
  std::shared_ptr<platform::TextField> _passWordTF;
  std::shared_ptr<platform::TapGestureRecognizer> _tapGesture;
  std::shared_ptr<CheckBox> _checkBox;
  std::shared_ptr<platform::Button> _btnLoginOnLine;
  std::shared_ptr<platform::Label> _descriptionLabel;
  std::shared_ptr<ProgressHUD> _progressHUD;
  int _userId = 0;
  std::shared_ptr<MirelTabBarController> _tabBarController;

  // Our own.
  std::shared_ptr<platform::Button> btnLoginOffline_;
  std::shared_ptr<platform::Label> rememberLabel_;
  // How far the view is moved up for the keyboard: 0 or 40 points.
  double raised_ = 0;
};
