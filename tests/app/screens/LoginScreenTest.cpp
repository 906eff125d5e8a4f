// The login screen: the six kinds of login with their fields, messages and request keys, the
// online and offline roads, the remembered account, the stored user and the main screen it
// builds.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ScreenTestSupport.h"
#include "dao/UserDao.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/courses/MyCourseViewController.h"
#include "screens/login/LoginViewController.h"
#include "support/MainLoop.h"
#include "util/CryptoUtil.h"
#include "widgets/MirelTabBarController.h"

namespace {

using platform::UITestDriver;
using testsupport::runUntil;
using Params = std::map<std::string, std::string>;

std::shared_ptr<Area> makeArea(int type, const std::string& code = "110000",
                               const std::string& name = "北京市",
                               const std::string& description = "请使用会计人员继续教育账号登录") {
  return std::make_shared<Area>(name, code, std::string("0"), type, description);
}

class LoginScreenTest : public screentest::ScreenTest {
 protected:
  // Shows the login screen for `area` above a stand-in of the area screen.
  void open(const std::shared_ptr<Area>& area) {
    if (!nav) nav = show(platform::ViewController::create());
    login->setArea(area);
    if (nav->topViewController() != login) nav->pushViewController(login, false);
  }
  void leaveAndReturn(const std::shared_ptr<Area>& area) {
    nav->popToRootViewControllerAnimated(false);
    open(area);
  }
  void fill(const std::string& first, const std::string& second = {}) {
    login->userNameTF()->setText(first);
    login->passWordTF()->setText(second);
  }
  // Taps the online button and waits for the answer (an alert or the main screen).
  void loginOnline() {
    const std::size_t before = server.requestsTo("/api/getRetrainUserId.html").size();
    UITestDriver::tap(login->btnLoginOnLine());
    ASSERT_TRUE(runUntil([&] {
      return server.requestsTo("/api/getRetrainUserId.html").size() > before &&
             !screentest::isWaitHUDShown(login->progressHUD());
    }));
  }
  // Answers the login with `userId` as the answer's "userId" and checks that nobody is logged in.
  void expectAFailedLoginFor(const std::string& userId) {
    answerLogin(std::string(R"({"userId": )") + userId + R"(, "mCodeFlag": 1})");
    platform::UIRecorder recorder;
    loginOnline();
    ASSERT_EQ(recorder.alerts().size(), 1u);
    EXPECT_EQ(recorder.alerts()[0].message, "身份证号和姓名错误");
    EXPECT_EQ(login->userId(), 0);
    EXPECT_EQ(GlobalModel::sharedModel()->userId(), 0);
    EXPECT_TRUE(UserDao().queryAll().empty());
    EXPECT_EQ(nav->topViewController(), login);
    UITestDriver::answerAlert(0);
  }
  void answerLogin(const std::string& body) {
    server.setAnswer("/api/getRetrainUserId.html", 200, body);
  }
  Params lastLoginForm() {
    return server.requestsTo("/api/getRetrainUserId.html").back().formParams;
  }
  std::string stored(const std::string& key) {
    return platform::UserDefaults::standard().stringForKey(key);
  }

  std::shared_ptr<LoginViewController> login =
      LoginViewController::create(std::string("LoginViewController"));
};

TEST_F(LoginScreenTest, FieldsFollowTheLoginType) {
  struct Case {
    int type;
    const char* first;
    std::optional<const char*> second;  // absent: hidden
    bool secure;
  };
  const Case cases[] = {
      {1, "  用户名：", "  密    码：", true},    {2, "  身份证号：", std::nullopt, false},
      {3, "  身份证号：", "  姓    名：", false}, {4, "  会计证号：", "  身份证号：", false},
      {5, "  报名序号：", "  身份证号：", false}, {6, "  卡    号：", "  密    码：", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    if (nav) nav->popToRootViewControllerAnimated(false);
    open(makeArea(c.type));
    EXPECT_EQ(login->userNameTF()->placeholder(), c.first);
    EXPECT_EQ(login->passWordTF()->isHidden(), !c.second.has_value());
    if (c.second) {
      EXPECT_EQ(login->passWordTF()->placeholder(), *c.second);
      EXPECT_EQ(login->passWordTF()->isSecureTextEntry(), c.secure);
    }
  }
  leaveAndReturn(makeArea(9));
  EXPECT_EQ(login->userNameTF()->placeholder(), "  卡    号：") << "other types keep the fields";
}

TEST_F(LoginScreenTest, EachTypeSendsItsKeysWithTheFixedCode) {
  answerLogin(R"({"userId": 0, "mCodeFlag": 1})");
  const std::string md5 = CryptoUtil::md5HexDigest("secret");
  struct Case {
    int type;
    Params expected;
  };
  const Case cases[] = {
      {1, {{"username", "zhang"}, {"password", md5}}},
      {2, {{"idCard", "zhang"}}},
      {3, {{"idCard", "zhang"}, {"realName", "secret"}}},
      {4, {{"accountantNo", "zhang"}, {"idCard", "secret"}}},
      {5, {{"username", "zhang"}, {"idCard", "secret"}}},
      {6, {{"username", "zhang"}, {"password", md5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    if (nav) nav->popToRootViewControllerAnimated(false);
    open(makeArea(c.type, "3201" + std::to_string(c.type)));
    fill("zhang", "secret");
    loginOnline();
    Params expected = c.expected;
    expected["mCode"] = "402719";
    expected["areaCode"] = "3201" + std::to_string(c.type);
    EXPECT_EQ(lastLoginForm(), expected);
    UITestDriver::answerAlert(0);
  }
}

TEST_F(LoginScreenTest, ZeroOrNoLeadingNumberIsAFailedLogin) {
  open(makeArea(3));
  fill("110101199001011234", "张三");
  for (const char* answer :
       {R"({"userId": 0, "mCodeFlag": 1})", R"({"userId": "abc", "mCodeFlag": 1})"}) {
    SCOPED_TRACE(answer);
    answerLogin(answer);
    platform::UIRecorder recorder;
    loginOnline();
    ASSERT_EQ(recorder.alerts().size(), 1u);
    EXPECT_EQ(recorder.alerts()[0].title, "提示");
    EXPECT_EQ(recorder.alerts()[0].message, "身份证号和姓名错误");
    EXPECT_EQ(login->userId(), 0);
    EXPECT_EQ(GlobalModel::sharedModel()->userId(), 0) << "nothing else is recorded";
    EXPECT_TRUE(UserDao().queryAll().empty());
    UITestDriver::answerAlert(0);
  }
}

TEST_F(LoginScreenTest, AUserIdThatIsNoIntegerOfTheFieldsRangeIsAFailedLogin) {
  open(makeArea(3));
  fill("110101199001011234", "张三");
  for (const char* id : {"18446744073709551615", "9223372036854775808", "1e19", "4294967297",
                         "2147483648", "-2147483649", "12.5", R"("7e3")"}) {
    SCOPED_TRACE(id);
    expectAFailedLoginFor(id);
  }
  // The largest id the field holds is an id like any other.
  answerLogin(R"({"userId": 2147483647, "mCodeFlag": 1})");
  loginOnline();
  EXPECT_EQ(GlobalModel::sharedModel()->userId(), 2147483647);
  EXPECT_EQ(nav->topViewController(), login->tabBarController());
}

TEST_F(LoginScreenTest, AUserIdThatIsNotWhollyAnIntegerIsAFailedLogin) {
  open(makeArea(3));
  fill("110101199001011234", "张三");
  // Each would have been read as user 1 or user 12.
  for (const char* id :
       {"true", R"("12abc")", R"(" 12")", R"("12,5")", R"("+12")", R"("12 ")", R"("")", "[12]"}) {
    SCOPED_TRACE(id);
    expectAFailedLoginFor(id);
  }
  // A text that is wholly a decimal integer is an id, as the number is.
  answerLogin(R"({"userId": "12", "mCodeFlag": 1})");
  loginOnline();
  EXPECT_EQ(GlobalModel::sharedModel()->userId(), 12);
}

TEST_F(LoginScreenTest, IncompleteInputIsRefusedWithTheTypesMessage) {
  struct Case {
    int type;
    const char* first;
    const char* second;
    const char* message;  // null: the input is complete
  };
  const Case cases[] = {
      {1, "zhang", "", "请输入用户名和密码"},
      {2, "", "", "请输入身份证号"},
      {2, "1101", "", nullptr},
      {4, "", "1101", "请输入会计证号和身份证号"},
      {9, "", "", ""},
  };
  answerLogin(R"({"userId": 0, "mCodeFlag": 1})");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    if (nav) nav->popToRootViewControllerAnimated(false);
    open(makeArea(c.type));
    fill(c.first, c.second);
    platform::UIRecorder recorder;
    EXPECT_EQ(login->validateInput(), c.message == nullptr);
    if (c.message) {
      ASSERT_EQ(recorder.alerts().size(), 1u);
      EXPECT_EQ(recorder.alerts()[0].message, c.message);
      UITestDriver::answerAlert(0);
    }
  }
}

TEST_F(LoginScreenTest, NoNetworkOrARequestErrorSaysSo) {
  open(makeArea(2));
  fill("1101");
  screentest::reachability().setFlags(screentest::offlineFlags());
  platform::UIRecorder recorder;
  UITestDriver::tap(login->btnLoginOnLine());
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].message, "无法连接,请检查网络");
  EXPECT_TRUE(server.requestsTo("/api/getRetrainUserId.html").empty());
  UITestDriver::answerAlert(0);

  screentest::reachability().setFlags(screentest::wifiFlags());
  server.failPath("/api/getRetrainUserId.html", 500);
  recorder.clear();
  loginOnline();
  ASSERT_TRUE(runUntil([&] { return !recorder.alerts().empty(); }));
  EXPECT_EQ(recorder.alerts()[0].message, "请检查网络");
  EXPECT_FALSE(screentest::isWaitHUDShown(login->progressHUD()));
}

TEST_F(LoginScreenTest, SuccessRecordsTheLoginAndOpensMyCourses) {
  open(makeArea(1));
  fill("zhang", "secret");
  login->checkBox()->setChecked(true);
  platform::UIRecorder recorder;
  loginOnline();  // the fixture answers user 1234

  auto model = GlobalModel::sharedModel();
  EXPECT_EQ(model->userId(), 1234);
  EXPECT_EQ(model->areaCode(), "110000");
  EXPECT_EQ(model->areaName(), "北京市");
  EXPECT_EQ(model->loginState(), GlobalModel::kLoginOnline);
  EXPECT_TRUE(platform::UserDefaults::standard().boolForKey("remeberUserName_110000"));
  EXPECT_EQ(stored("username_110000"), "zhang");
  auto users = UserDao().queryAll();
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0]->Id(), 1234);
  EXPECT_EQ(users[0]->password(), CryptoUtil::md5HexDigest("secret"));
  EXPECT_EQ(stored("1234_3g"), "YES");
  EXPECT_EQ(services->downloadManager()->downloadToPath(), platform::Paths::documents() + "/1234");

  auto tabBar = login->tabBarController();
  ASSERT_TRUE(tabBar);
  EXPECT_EQ(model->tabBarViewController(), tabBar);
  EXPECT_EQ(nav->topViewController(), tabBar);
  EXPECT_EQ(tabBar->selectedIndex(), 0u);
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"push MirelTabBarController"}));
  EXPECT_FALSE(nav->navigationBar()->backButton()) << "no way back to the login while logged in";
  // The first tab asked for the courses of the user just recorded.
  ASSERT_TRUE(
      runUntil([&] { return !server.requestsTo("/api/getRetrainCourseDatas.html").empty(); }));
  EXPECT_EQ(server.requestsTo("/api/getRetrainCourseDatas.html")[0].param("userId"), "1234");
}

TEST_F(LoginScreenTest, ACourseTreeAnsweredWithGarbageAtLoginSaysTheFetchFailed) {
  platform::ScopedManualClock clock;
  server.setAnswer("/api/getRetrainCourseDatas.html", 200,
                   "<html><body>Sign in to the network</body></html>");
  open(makeArea(1));
  fill("zhang", "secret");
  loginOnline();
  auto tabBar = login->tabBarController();
  ASSERT_TRUE(tabBar);
  auto courses = std::dynamic_pointer_cast<MyCourseViewController>(tabBar->viewControllers()[0]);
  ASSERT_TRUE(courses);
  ASSERT_TRUE(runUntil([&] {
    return !server.requestsTo("/api/getRetrainCourseDatas.html").empty() &&
           !screentest::isWaitHUDShown(courses->progressHUD());
  }));
  EXPECT_EQ(screentest::lastNotice(), "请检查网络");
  EXPECT_TRUE(courses->checkAreaLabel()->isHidden()) << "the learner is not told to pick courses";
  EXPECT_FALSE(courses->btnRefresh()->isHidden());
}

TEST_F(LoginScreenTest, TheTabBarKeepsToTheScreensBottomThroughPushesAndPops) {
  platform::ScopedManualClock clock;
  open(makeArea(1));
  fill("zhang", "secret");
  loginOnline();
  auto bar = login->tabBarController()->tabBar();
  auto inWindow = [&] { return bar->convertRectToView(bar->bounds(), window.get()); };
  const double screenBottom = platform::Screen::mainScreen().bounds().height();
  EXPECT_EQ(inWindow(), (platform::Rect{0, screenBottom - 49, 320, 49})) << "after the login";

  for (int round = 1; round <= 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    auto detail = platform::ViewController::create();
    detail->setHidesBottomBarWhenPushed(true);
    nav->pushViewController(detail, true);
    UITestDriver::settle(MirelTabBarController::kHideDuration);
    EXPECT_EQ(bar->frame().y(), login->tabBarController()->view()->bounds().height())
        << "hidden just below the main screen";
    nav->popViewControllerAnimated(true);
    UITestDriver::settle(MirelTabBarController::kHideDuration);
    EXPECT_EQ(inWindow(), (platform::Rect{0, screenBottom - 49, 320, 49}));
  }
  // A screen that keeps the bar leaves it where it is.
  nav->pushViewController(platform::ViewController::create(), true);
  nav->popViewControllerAnimated(true);
  EXPECT_EQ(inWindow(), (platform::Rect{0, screenBottom - 49, 320, 49}));
}

TEST_F(LoginScreenTest, TheReminderDefaultIsWrittenOnlyWhenMissing) {
  platform::UserDefaults::standard().set("1234_3g", std::string("ON"));
  open(makeArea(2));
  fill("1101");
  loginOnline();
  EXPECT_EQ(stored("1234_3g"), "ON");
}

TEST_F(LoginScreenTest, AnOnlineLoginReplacesTheStoredUser) {
  open(makeArea(1));
  fill("zhang", "old-password");
  loginOnline();
  leaveAndReturn(makeArea(1));
  fill("zhang", "new-password");
  loginOnline();
  ASSERT_EQ(UserDao().queryAll().size(), 1u);

  leaveAndReturn(makeArea(1));
  fill("zhang", "old-password");
  platform::UIRecorder recorder;
  UITestDriver::tap(login->btnLoginOffline());
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].message, "用户名和密码错误,如第一次请使用在线登录");
  UITestDriver::answerAlert(0);

  fill("zhang", "new-password");
  UITestDriver::tap(login->btnLoginOffline());
  EXPECT_EQ(GlobalModel::sharedModel()->loginState(), GlobalModel::kLoginOffline);
  EXPECT_EQ(GlobalModel::sharedModel()->userId(), 1234);
}

TEST_F(LoginScreenTest, OfflineLoginOpensLocalCoursesAndGatesMyCourses) {
  UserDao().insert(
      User(77, "110101199001011234", std::nullopt, std::nullopt, std::nullopt, std::nullopt));
  open(makeArea(2));
  fill("110101199001011234");
  UITestDriver::tap(login->btnLoginOffline());
  auto model = GlobalModel::sharedModel();
  EXPECT_EQ(model->loginState(), GlobalModel::kLoginOffline);
  EXPECT_EQ(model->userId(), 77);
  EXPECT_TRUE(model->courses().has_value()) << "the stored tree, empty here";
  EXPECT_EQ(services->downloadManager()->downloadToPath(), platform::Paths::documents() + "/77");
  auto tabBar = login->tabBarController();
  ASSERT_TRUE(tabBar);
  EXPECT_EQ(tabBar->selectedIndex(), 1u);
  EXPECT_TRUE(UserDao().queryAll().size() == 1u) << "an offline login stores nothing";

  platform::UIRecorder recorder;
  UITestDriver::tap(tabBar->tabBar()->buttons()[0]);
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].message, "您目前处于离线登录状态，请在线登录");
  EXPECT_EQ(recorder.alerts()[0].tag, LoginViewController::kOfflineGateAlertTag);
  EXPECT_EQ(tabBar->selectedIndex(), 1u);
  UITestDriver::answerAlert(1);
  EXPECT_EQ(nav->topViewController(), login);
}

TEST_F(LoginScreenTest, OfflineFailureNamesTheTypesText) {
  open(makeArea(4));
  fill("kj001", "1101");
  platform::UIRecorder recorder;
  UITestDriver::tap(login->btnLoginOffline());
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].message, "会计证号和身份证号错误,如第一次请使用在线登录");
}

TEST_F(LoginScreenTest, MobileNetworkAsksBeforeTheOnlineLogin) {
  GlobalModel::sharedModel()->setGlobalNetWorkStatus(std::string("ReachableViaWWAN"));
  answerLogin(R"({"userId": 0, "mCodeFlag": 1})");
  open(makeArea(2));
  fill("1101");
  platform::UIRecorder recorder;
  UITestDriver::tap(login->btnLoginOnLine());
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].tag, LoginViewController::kMobileNetworkAlertTag);
  EXPECT_EQ(recorder.alerts()[0].buttons, (std::vector<std::string>{"继续登陆", "取消"}));
  UITestDriver::answerAlert(1);
  EXPECT_TRUE(server.requestsTo("/api/getRetrainUserId.html").empty());

  UITestDriver::tap(login->btnLoginOnLine());
  UITestDriver::answerAlert(0);
  ASSERT_TRUE(runUntil([&] { return !server.requestsTo("/api/getRetrainUserId.html").empty(); }));
}

TEST_F(LoginScreenTest, TheBoxRemembersTheAccountButNeverThePassword) {
  open(makeArea(1));
  fill("zhang", "secret");
  UITestDriver::tap(login->checkBox());
  EXPECT_TRUE(platform::UserDefaults::standard().boolForKey("remeberUserName_110000"));
  EXPECT_EQ(stored("username_110000"), "zhang");
  EXPECT_EQ(stored("password_110000"), "");
  ASSERT_TRUE(platform::UserDefaults::standard().object("password_110000").has_value())
      << "the key stays, with the empty text";

  leaveAndReturn(makeArea(1));
  EXPECT_EQ(login->userNameTF()->text(), "zhang");
  EXPECT_EQ(login->passWordTF()->text(), "");
  EXPECT_TRUE(login->checkBox()->checked());

  UITestDriver::tap(login->rememberLabel());  // the label toggles the box too
  EXPECT_FALSE(platform::UserDefaults::standard().boolForKey("remeberUserName_110000"));
  EXPECT_EQ(stored("username_110000"), "");
  leaveAndReturn(makeArea(1));
  EXPECT_EQ(login->userNameTF()->text(), "");
}

TEST_F(LoginScreenTest, PlainSecondFieldsAreRememberedAndOldPasswordsScrubbed) {
  auto& defaults = platform::UserDefaults::standard();
  defaults.set("remeberUserName_130100", true);
  defaults.set("username_130100", std::string("1101"));
  defaults.set("password_130100", std::string("张三"));
  defaults.set("remeberUserName_110000", true);
  defaults.set("username_110000", std::string("zhang"));
  defaults.set("password_110000", std::string("plain-text-password"));

  open(makeArea(3, "130100", "石家庄市"));
  EXPECT_EQ(login->passWordTF()->text(), "张三");
  leaveAndReturn(makeArea(1));
  EXPECT_EQ(login->userNameTF()->text(), "zhang");
  EXPECT_EQ(login->passWordTF()->text(), "");
  EXPECT_EQ(stored("password_110000"), "") << "a password kept by an earlier version is gone";
}

TEST_F(LoginScreenTest, TheDescriptionFollowsTheAreaOfEachVisit) {
  open(makeArea(3, "130100", "石家庄市", "请输入身份证号和真实姓名"));
  EXPECT_EQ(login->descriptionLabel()->text(), "请输入身份证号和真实姓名");
  leaveAndReturn(makeArea(4, "130200", "唐山市", "请输入会计证号和身份证号"));
  EXPECT_EQ(login->descriptionLabel()->text(), "请输入会计证号和身份证号");
}

TEST_F(LoginScreenTest, EditingRaisesTheViewFortyPointsOnce) {
  platform::ScopedManualClock clock;
  open(makeArea(1));
  const double rest = login->view()->frame().y();
  UITestDriver::tap(login->userNameTF());
  UITestDriver::settle(0.5);
  EXPECT_EQ(login->view()->frame().y(), rest - 40);
  UITestDriver::pressReturn(login->userNameTF());  // on to the second field
  UITestDriver::settle(0.5);
  EXPECT_EQ(login->view()->frame().y(), rest - 40);
  EXPECT_TRUE(login->passWordTF()->isEditing());
  login->reginInput();
  UITestDriver::settle(0.5);
  EXPECT_EQ(login->view()->frame().y(), rest);
}

TEST_F(LoginScreenTest, RepeatedAttemptsReuseOneProgressHUD) {
  answerLogin(R"({"userId": 0, "mCodeFlag": 1})");
  open(makeArea(2));
  fill("1101");
  for (int attempt = 0; attempt < 3; ++attempt) {
    loginOnline();
    UITestDriver::answerAlert(0);
  }
  EXPECT_EQ(screentest::progressHUDsOn(login->view()), 1);
  screentest::expectSnapshot(*window, "login");
  EXPECT_TRUE(screentest::drawnIn(*window, {35, 64 + 290, 260, 100})) << "the description";
}

TEST_F(LoginScreenTest, StartingTheMediaServerMakesItOnceAndServesTheUsersFolder) {
  ::setenv("CHENGHENG_MEDIA_PORT", "0", 1);  // any free loopback port
  GlobalModel::sharedModel()->setUserId(1234);
  open(makeArea(1));
  login->startHttpServer();
  auto server = services->httpServer();
  ASSERT_TRUE(server);
  EXPECT_TRUE(server->isRunning());
  login->startHttpServer();
  EXPECT_EQ(services->httpServer(), server) << "the running server is kept";
  server->stop();
}

}  // namespace
