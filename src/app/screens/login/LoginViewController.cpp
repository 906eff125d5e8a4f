#include "screens/login/LoginViewController.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "model/GlobalModel.h"
#include "netstatus/NetWorkUtil.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/View.h"
#include "screens/common/ApplicationServices.h"
#include "screens/common/DefaultsKeys.h"
#include "screens/common/ScreenHUD.h"
#include "screens/common/ScreenLook.h"
#include "screens/courses/MyCourseViewController.h"
#include "screens/local/LocalCourseController.h"
#include "screens/settings/SettingViewController.h"
#include "screens/studylog/StudyLogController.h"
#include "sqlite/SQLTransaction.h"
#include "util/CryptoUtil.h"

namespace {

constexpr const char* kTitle = "提示";
constexpr const char* kOK = "确定";
constexpr double kRaise = 40;
constexpr double kMoveSeconds = 0.3;
constexpr platform::Color kFieldBorder = platform::Color::rgb255(186, 199, 218);

// What the learner fills in for each login type, and what the screen says about it.
struct LoginKind {
  const char* firstPlaceholder;
  const char* secondPlaceholder;  // null: the second field is hidden
  bool secure;
  const char* incomplete;
  const char* failure;
};

const LoginKind* loginKind(int type) {
  static const LoginKind kinds[] = {
      {"  用户名：", "  密    码：", true, "请输入用户名和密码", "用户名和密码错误"},
      {"  身份证号：", nullptr, false, "请输入身份证号", "身份证号错误"},
      {"  身份证号：", "  姓    名：", false, "请输入身份证号和姓名", "身份证号和姓名错误"},
      {"  会计证号：", "  身份证号：", false, "请输入会计证号和身份证号", "会计证号和身份证号错误"},
      {"  报名序号：", "  身份证号：", false, "请输入报名序号和身份证号", "报名序号和身份证号错误"},
      {"  卡    号：", "  密    码：", true, "请输入卡号和密码", "卡号和密码错误"},
  };
  if (type < 1 || type > 6) return nullptr;
  return &kinds[type - 1];
}

std::string failureText(int type) {
  const LoginKind* kind = loginKind(type);
  return kind ? kind->failure : "";
}

// The user id of a login answer ("<id>,<flag>"): the part before the first comma, when it is
// wholly a decimal integer within the id's field. A number that goes on as a fraction or an
// exponent ("1e19"), or that the field cannot hold ("4294967297"), is no id and reads as 0, the
// failed login; read as a wrapped int or by its leading digits it would open another user's
// records.
int userIdOf(const std::string& answer) {
  const auto value = NetworkEngine::wholeInteger(answer.substr(0, answer.find(',')));
  if (!value || *value < std::numeric_limits<int>::min() ||
      *value > std::numeric_limits<int>::max())
    return 0;
  return static_cast<int>(*value);
}

std::string rememberKey(const std::string& code) { return "remeberUserName_" + code; }
std::string userNameKey(const std::string& code) { return "username_" + code; }
std::string passwordKey(const std::string& code) { return "password_" + code; }

std::shared_ptr<platform::TextField> makeField(const platform::Rect& frame,
                                               const std::string& placeholder,
                                               platform::ReturnKeyType returnKey) {
  auto field = platform::TextField::create(frame);
  field->setPlaceholder(placeholder);
  field->setBorderStyle(platform::TextBorderStyle::None);
  field->layer().setBorderWidth(1);
  field->layer().setBorderColor(kFieldBorder);
  field->setClearButtonMode(platform::TextFieldViewMode::WhileEditing);
  field->setContentVerticalAlignment(platform::ContentVerticalAlignment::Center);
  field->setReturnKeyType(returnKey);
  auto spacer = platform::View::create(platform::Rect{0, 0, 10, 35});
  spacer->setBackgroundColor(platform::Color::clearColor());
  field->setLeftView(spacer);
  field->setLeftViewMode(platform::TextFieldViewMode::Always);
  return field;
}

std::shared_ptr<platform::Button> makeLoginButton(const platform::Rect& frame, const char* normal,
                                                  const char* highlighted) {
  auto button = platform::Button::buttonWithType(platform::ButtonType::Custom);
  button->setFrame(frame);
  button->setBackgroundImage(platform::Image::named(normal));
  button->setBackgroundImage(platform::Image::named(highlighted),
                             platform::ControlState::Highlighted);
  return button;
}

}  // namespace

LoginViewController::LoginViewController(std::optional<std::string> nibName)
    : BaseViewController(std::move(nibName)) {
  setTitle(std::string());
}

int LoginViewController::loginType() const {
  return _area && _area->loginType() ? static_cast<int>(*_area->loginType()) : 0;
}

std::string LoginViewController::areaCode() const {
  return _area ? _area->code().value_or("") : "";
}

void LoginViewController::viewDidLoad() {
  BaseViewController::viewDidLoad();
  _userDao = std::make_shared<UserDao>();
  _modelDao = std::make_shared<ModelDao>();
  _userDefaults = &platform::UserDefaults::standard();
  initView();
}

void LoginViewController::initView() {
  navigationItem().setLeftBarButtonItem(
      screenlook::backButtonItem(screenlook::weakAction(*this, &LoginViewController::back)));
  navigationItem().setTitleView(screenlook::titleLabel({0, 0, 200, 44}, "登录"));
  auto& root = *view();
  root.setBackgroundColor(platform::Color::whiteColor());

  auto self = std::static_pointer_cast<LoginViewController>(shared_from_this());
  _userNameTF = makeField({30, 45, 260, 35}, "身份证号：", platform::ReturnKeyType::Next);
  _userNameTF->setDelegate(std::static_pointer_cast<TextFieldDelegate>(self));
  root.addSubview(_userNameTF);
  _passWordTF = makeField({30, 95, 260, 35}, "姓    名：", platform::ReturnKeyType::Go);
  _passWordTF->setDelegate(std::static_pointer_cast<TextFieldDelegate>(self));
  root.addSubview(_passWordTF);

  _tapGesture = std::make_shared<platform::TapGestureRecognizer>();
  _tapGesture->addTarget(self, &LoginViewController::reginInput);
  _tapGesture->setCancelsTouchesInView(false);
  root.addGestureRecognizer(_tapGesture);

  _checkBox = CheckBox::create(platform::Rect{30, 142, 16, 16});
  _checkBox->setDelegate(std::static_pointer_cast<CheckBoxDelegate>(self));
  root.addSubview(_checkBox);
  rememberLabel_ = platform::Label::create(platform::Rect{50, 140, 100, 20});
  rememberLabel_->setText("记住账号");
  rememberLabel_->setFont(platform::Font::systemFont(15));
  rememberLabel_->setTextColor(platform::Color::grayColor());
  rememberLabel_->setBackgroundColor(platform::Color::clearColor());
  rememberLabel_->setUserInteractionEnabled(true);
  auto rememberTap = std::make_shared<platform::TapGestureRecognizer>();
  rememberTap->addTarget(self, &LoginViewController::remeberUserName);
  rememberLabel_->addGestureRecognizer(rememberTap);
  root.addSubview(rememberLabel_);

  _btnLoginOnLine = makeLoginButton({30, 180, 260, 45}, "btn_loginOnline", "btn_loginOnline_p");
  _btnLoginOnLine->addTarget(self, &LoginViewController::loginOnline,
                             platform::ControlEvent::TouchUpInside);
  root.addSubview(_btnLoginOnLine);
  btnLoginOffline_ = makeLoginButton({30, 240, 260, 45}, "btn_loginOffline", "btn_loginOffline_p");
  btnLoginOffline_->addTarget(self, &LoginViewController::loginOffline,
                              platform::ControlEvent::TouchUpInside);
  root.addSubview(btnLoginOffline_);

  _descriptionLabel = platform::Label::create(platform::Rect{35, 290, 260, 100});
  _descriptionLabel->setTextColor(platform::Color::blackColor());
  _descriptionLabel->setFont(platform::Font::systemFont(14));
  _descriptionLabel->setNumberOfLines(0);
  _descriptionLabel->setBackgroundColor(platform::Color::clearColor());
  root.addSubview(_descriptionLabel);
}

void LoginViewController::viewWillAppear(bool animated) {
  BaseViewController::viewWillAppear(animated);
  raised_ = 0;
  if (const LoginKind* kind = loginKind(loginType())) {
    _userNameTF->setPlaceholder(std::string(kind->firstPlaceholder));
    _passWordTF->setHidden(kind->secondPlaceholder == nullptr);
    if (kind->secondPlaceholder) {
      _passWordTF->setPlaceholder(std::string(kind->secondPlaceholder));
      _passWordTF->setSecureTextEntry(kind->secure);
    }
  }
  // The screen is reused for every area, so the description follows the area of this visit.
  _descriptionLabel->setText(_area ? _area->description().value_or("") : "");
  setRemeberUsername();
}

void LoginViewController::back() { screenlook::popScreen(*this); }

// --- Remembered account ---

void LoginViewController::setRemeberUsername() {
  const std::string code = areaCode();
  if (_userDefaults->boolForKey(rememberKey(code))) {
    _userNameTF->setText(_userDefaults->stringForKey(userNameKey(code)));
    // A password is never filled in from the defaults (an earlier version kept it there in
    // plain text; ticking the box below overwrites that with the empty text).
    _passWordTF->setText(_passWordTF->isSecureTextEntry()
                             ? std::string()
                             : _userDefaults->stringForKey(passwordKey(code)));
    _checkBox->setChecked(true);
  } else {
    _userNameTF->setText({});
    _passWordTF->setText({});
  }
  _userDefaults->synchronize();
}

void LoginViewController::remeberUserNametoDisk() {
  const std::string code = areaCode();
  _userDefaults->set(rememberKey(code), true);
  _userDefaults->set(userNameKey(code), _userNameTF->text());
  _userDefaults->set(passwordKey(code),
                     _passWordTF->isSecureTextEntry() ? std::string() : _passWordTF->text());
  _userDefaults->synchronize();
}

void LoginViewController::viewChecked(CheckBox& box) {
  if (box.checked()) {
    remeberUserNametoDisk();
    return;
  }
  const std::string code = areaCode();
  _userDefaults->set(rememberKey(code), false);
  _userDefaults->set(userNameKey(code), std::string());
  _userDefaults->set(passwordKey(code), std::string());
  _userDefaults->synchronize();
}

void LoginViewController::remeberUserName() { _checkBox->setChecked(!_checkBox->checked()); }

void LoginViewController::reginInput() {
  _userNameTF->resignFirstResponder();
  _passWordTF->resignFirstResponder();
}

// --- Input ---

bool LoginViewController::validateInput() {
  const int type = loginType();
  bool valid = !_userNameTF->text().empty() && (type == 2 || !_passWordTF->text().empty());
  if (valid) return true;
  const LoginKind* kind = loginKind(type);
  screenlook::showAlert(std::string(kTitle), std::string(kind ? kind->incomplete : ""), kOK, {},
                        std::static_pointer_cast<AlertViewDelegate>(
                            std::static_pointer_cast<LoginViewController>(shared_from_this())));
  return false;
}

platform::Dictionary LoginViewController::loginParameters(int type, const std::string& first,
                                                          const std::string& second) {
  switch (type) {
    case 1:
    case 6:
      return {{"username", first}, {"password", CryptoUtil::md5HexDigest(second)}};
    case 2:
      return {{"idCard", first}};
    case 3:
      return {{"idCard", first}, {"realName", second}};
    case 4:
      return {{"accountantNo", first}, {"idCard", second}};
    case 5:
      return {{"username", first}, {"idCard", second}};
    default:
      return {};
  }
}

std::shared_ptr<User> LoginViewController::getUser() const {
  auto user = std::make_shared<User>();
  user->setId(_userId);
  const std::string& first = _userNameTF->text();
  const std::string& second = _passWordTF->text();
  switch (loginType()) {
    case 1:
    case 6:
      user->setName(first);
      user->setPassword(CryptoUtil::md5HexDigest(second));
      break;
    case 2:
      user->setIdCard(first);
      break;
    case 3:
      user->setIdCard(first);
      user->setRealName(second);
      break;
    case 4:
      user->setAccountantNo(first);
      user->setIdCard(second);
      break;
    case 5:
      user->setName(first);
      user->setIdCard(second);
      break;
    default:
      break;
  }
  return user;
}

// --- Online login ---

void LoginViewController::loginOnline() {
  if (GlobalModel::sharedModel()->GlobalNetWorkStatus() ==
      std::optional<std::string>("ReachableViaWWAN")) {
    screenlook::showAlert(
        std::nullopt,
        std::string("即将通过2G/3G网络加载数据，为了节约流量推荐您使用WIFI无线网络。"), "继续登陆",
        {"取消"},
        std::static_pointer_cast<AlertViewDelegate>(
            std::static_pointer_cast<LoginViewController>(shared_from_this())),
        kMobileNetworkAlertTag);
    return;
  }
  checkOnLine();
}

void LoginViewController::checkOnLine() {
  if (!validateInput()) return;
  if (!NetWorkUtil::netWorkIsEnable()) {
    screenlook::showAlert(std::string(kTitle), std::string("无法连接,请检查网络"), kOK);
    return;
  }
  screenhud::showWaitHUD(_progressHUD, view(), "正在登录,请稍候");
  GlobalModel::sharedModel()->setAreaName(_area ? _area->name() : std::nullopt);
  platform::Dictionary params =
      loginParameters(loginType(), _userNameTF->text(), _passWordTF->text());
  params["mCode"] = kMCode;
  params["areaCode"] = areaCode();
  auto services = ApplicationServices::shared();
  if (!services || !services->netWork()) return;
  std::weak_ptr<LoginViewController> weak =
      std::static_pointer_cast<LoginViewController>(shared_from_this());
  services->netWork()->login(
      params,
      [weak](const std::string& answer) {
        if (auto self = weak.lock()) self->onLoginAnswer(answer);
      },
      [weak](const platform::Error& error) {
        std::printf("error=%s\n", error.localizedDescription().c_str());
        auto self = weak.lock();
        if (!self) return;
        screenhud::hideWaitHUD(self->_progressHUD);
        screenlook::showAlert(std::string(kTitle), std::string("请检查网络"), kOK);
      });
}

void LoginViewController::onLoginAnswer(const std::string& answer) {
  screenhud::hideWaitHUD(_progressHUD);
  _userId = userIdOf(answer);
  if (_userId == 0) {
    screenlook::showAlert(std::string(kTitle), failureText(loginType()), kOK);
    return;
  }
  if (_checkBox->checked()) remeberUserNametoDisk();
  auto model = GlobalModel::sharedModel();
  model->setUserId(_userId);
  model->setAreaCode(areaCode());
  model->setLoginState(GlobalModel::kLoginOnline);
  storeUser();
  const std::string reminderKey = defaultskeys::mobileReminder(_userId);
  if (_userDefaults->stringForKey(reminderKey).empty()) {
    _userDefaults->set(reminderKey, defaultskeys::kReminderOn);
    _userDefaults->synchronize();
  }
  enter(GlobalModel::kLoginOnline);
}

void LoginViewController::storeUser() {
  // One row per user: the stored credentials are always those of the latest online login, so an
  // old password stops passing the offline check once the learner has changed it.
  auto user = getUser();
  auto db = _userDao->db();
  if (!db) return;
  SQLTransaction transaction(*db);
  _userDao->deleteById(platform::Value(_userId));
  _userDao->insert(*user);
  transaction.commit();
}

void LoginViewController::enter(int loginState) {
  auto model = GlobalModel::sharedModel();
  model->setLoginState(loginState);
  if (auto services = ApplicationServices::shared(); services && services->downloadManager()) {
    services->downloadManager()->setDownloadToPath(platform::Paths::documents() + "/" +
                                                   std::to_string(model->userId()));
  }
  toNext();
}

// --- Offline login ---

void LoginViewController::loginOffline() {
  if (!validateInput()) return;
  GlobalModel::sharedModel()->setAreaName(_area ? _area->name() : std::nullopt);
  const int type = loginType();
  std::optional<std::string> found = _userDao->validUser(*getUser(), type);
  if (!found || found->empty() || *found == "0") {
    screenlook::showAlert(std::string(kTitle), failureText(type) + ",如第一次请使用在线登录", kOK);
    return;
  }
  const int userId = static_cast<int>(platform::leadingInteger(*found));
  auto courses = _modelDao->getAllCousre(platform::Value(userId), platform::Value(areaCode()));
  _userId = userId;
  auto model = GlobalModel::sharedModel();
  model->setCourses(std::move(courses));
  model->setAreaCode(areaCode());
  model->setUserId(userId);
  enter(GlobalModel::kLoginOffline);
}

// --- Main screen ---

void LoginViewController::toNext() {
  initTabBarController();
  if (auto nav = navigationController()) nav->pushViewController(_tabBarController, true);
}

void LoginViewController::initTabBarController() {
  std::vector<std::shared_ptr<platform::ViewController>> screens{
      MyCourseViewController::create(std::string("MyCourseViewController")),
      LocalCourseController::create(), StudyLogController::create(),
      SettingViewController::create(std::string("SettingViewController"))};
  std::vector<std::string> titles{"我的课程", "本地课程", "学习记录", "设置"};
  std::vector<platform::Dictionary> images;
  for (const char* icon : {"icon_mycourse", "icon_localcourse", "btn_studylog_s", "icon_setting"})
    images.push_back({{"Default", icon}, {"Highlighted", icon}, {"Seleted", icon}});
  auto model = GlobalModel::sharedModel();
  _tabBarController = MirelTabBarController::create(screens, images, titles,
                                                    static_cast<unsigned>(model->loginState()));
  model->setTabBarViewController(_tabBarController);
  auto self = std::static_pointer_cast<LoginViewController>(shared_from_this());
  _tabBarController->setDelegate(std::static_pointer_cast<MirelTabBarControllerDelegate>(self));
  _tabBarController->tabBar()->setBackgroundImage(platform::Image::named("c-2-1.png"));
  // The way back to this screen while logged in would be an untitled button (this screen's
  // title is empty); a learner leaves the main screen by logging out in the settings.
  _tabBarController->navigationItem().setHidesBackButton(true);
  if (auto nav = navigationController())
    nav->setDelegate(std::static_pointer_cast<NavigationControllerDelegate>(self));
}

void LoginViewController::navigationControllerWillShowViewController(
    platform::NavigationController&, platform::ViewController& shown, bool) {
  if (_tabBarController) _tabBarController->hidesTabBar(shown.hidesBottomBarWhenPushed(), true);
}

void LoginViewController::tabBarControllerShouldSelectIndex(MirelTabBarController&,
                                                            unsigned index) {
  if (index != 0 || GlobalModel::sharedModel()->loginState() != GlobalModel::kLoginOffline) return;
  screenlook::showAlert(std::string(kTitle), std::string("您目前处于离线登录状态，请在线登录"),
                        "取消", {kOK},
                        std::static_pointer_cast<AlertViewDelegate>(
                            std::static_pointer_cast<LoginViewController>(shared_from_this())),
                        kOfflineGateAlertTag);
}

void LoginViewController::alertViewClickedButtonAtIndex(platform::AlertView& alert,
                                                        int buttonIndex) {
  if (alert.tag() == kOfflineGateAlertTag && buttonIndex == 1) {
    if (auto nav = navigationController()) nav->popViewControllerAnimated(true);
  } else if (alert.tag() == kMobileNetworkAlertTag && buttonIndex == 0) {
    checkOnLine();
  }
}

// --- Keyboard ---

bool LoginViewController::textFieldShouldReturn(platform::TextField& field) {
  if (&field == _userNameTF.get()) {
    _passWordTF->becomeFirstResponder();
  } else if (&field == _passWordTF.get()) {
    _passWordTF->resignFirstResponder();
    loginOnline();
  }
  return true;
}

void LoginViewController::later(void (LoginViewController::*step)()) {
  platform::RunLoop::main()->performAfter(platform::seconds(0), screenlook::weakAction(*this, step),
                                          this);
}

void LoginViewController::textFieldDidBeginEditing(platform::TextField&) {
  later(&LoginViewController::moveViewUp);
}

void LoginViewController::textFieldDidEndEditing(platform::TextField&) {
  later(&LoginViewController::moveViewToOriginal);
}

void LoginViewController::moveViewUp() {
  if (raised_ != 0) return;
  raised_ = kRaise;
  auto root = view();
  platform::View::animate(kMoveSeconds,
                          [root] { root->setFrame(root->frame().offsetBy(0, -kRaise)); });
}

void LoginViewController::moveViewToOriginal() {
  if (raised_ == 0) return;
  raised_ = 0;
  auto root = view();
  platform::View::animate(kMoveSeconds,
                          [root] { root->setFrame(root->frame().offsetBy(0, kRaise)); });
}

// --- Local media server ---

void LoginViewController::startHttpServer() {
  auto services = ApplicationServices::shared();
  if (!services) return;
  if (!services->httpServer()) services->setHttpServer(std::make_shared<LocalHttpServer>());
  auto server = services->httpServer();
  if (server->isRunning()) return;
  server->setDocumeentRoot();
  server->start();
}
