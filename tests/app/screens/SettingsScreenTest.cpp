// The settings tab: the mobile-network reminder switch, feedback and version check gated on an
// online login, the FAQ, the store version alerts, and logout with its effect on the downloads.

#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "download/DownloadNotifications.h"
#include "download/DownloadUtil.h"
#include "model/GlobalModel.h"
#include "net/CheckVersion.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Switch.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/feedback/MessageController.h"
#include "screens/settings/AnswerViewController.h"
#include "screens/settings/CheckVersionAlertUI.h"
#include "screens/settings/SettingViewController.h"
#include "support/MainLoop.h"
#include "widgets/MirelTabBarController.h"

namespace {

using platform::UITestDriver;
using testsupport::runUntil;

class SettingsScreenTest : public screentest::ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    screentest::logInBeijingUser();
    auto model = GlobalModel::sharedModel();
    model->setCourses(model::List<Course>{});
    model->setGlobalNetWorkStatus(std::string("ReachableViaWiFi"));
    previousVersion = platform::Bundle::main().version();
  }
  void TearDown() override {
    CheckVersion::setUI(nullptr);
    platform::Bundle::main().setInfo("CFBundleVersion", previousVersion);
    ScreenTest::TearDown();
  }

  // The settings screen as the shown tab of a main screen above a stand-in area screen.
  void showTab(int loginState = GlobalModel::kLoginOnline) {
    GlobalModel::sharedModel()->setLoginState(loginState);
    tabBar = pushMainScreen(settings);
  }
  std::shared_ptr<platform::TableViewCell> cell(int section) {
    return settings->tableView()->cellForRowAtIndexPath({section, 0});
  }
  std::shared_ptr<platform::Switch> reminderSwitch() {
    return std::dynamic_pointer_cast<platform::Switch>(
        cell(0)->contentView()->viewWithTag(SettingViewController::kSwitchTag));
  }
  std::string reminder(int userId) {
    return platform::UserDefaults::standard().stringForKey(std::to_string(userId) + "_3g");
  }

  std::shared_ptr<SettingViewController> settings =
      SettingViewController::create(std::string("SettingViewController"));
  std::shared_ptr<MirelTabBarController> tabBar;
  std::string previousVersion;
};

TEST_F(SettingsScreenTest, ThreeRowsAndTwoButtons) {
  showTab();
  EXPECT_EQ(settings->tableView()->numberOfSections(), 3);
  EXPECT_EQ(cell(0)->textLabel()->text(), "切换到3G网络下提醒我");
  EXPECT_EQ(cell(1)->textLabel()->text(), "留言与反馈");
  EXPECT_EQ(cell(2)->textLabel()->text(), "常见问题");
  EXPECT_EQ(cell(1)->accessoryType(), platform::TableViewCellAccessory::DisclosureIndicator);
  EXPECT_EQ(cell(0)->accessoryType(), platform::TableViewCellAccessory::None);
  EXPECT_EQ(settings->versionButton()->frame(), (platform::Rect{30, 190, 260, 45}));
  EXPECT_EQ(settings->versionButton()
                ->backgroundImageForState(platform::ControlState::Highlighted)
                ->name(),
            "jc－1.png");
  EXPECT_EQ(settings->tableView()->frame(), (platform::Rect{0, 20, 320, 404}));
  auto title = std::dynamic_pointer_cast<platform::Label>(tabBar->navigationItem().titleView());
  ASSERT_TRUE(title);
  EXPECT_EQ(title->text(), "设置");
  screentest::expectSnapshot(*window, "settings");
  EXPECT_TRUE(screentest::drawnIn(*window, {10, 64 + 20 + 5, 180, 40})) << "the reminder row";
}

TEST_F(SettingsScreenTest, TheSwitchStoresYesOrOnPerUser) {
  showTab();
  EXPECT_FALSE(reminderSwitch()->isOn()) << "never written: off";
  UITestDriver::tap(reminderSwitch());
  EXPECT_EQ(reminder(1234), "YES");
  UITestDriver::tap(reminderSwitch());
  EXPECT_EQ(reminder(1234), "ON");
  settings->tableView()->reloadData();
  EXPECT_FALSE(reminderSwitch()->isOn());
  EXPECT_EQ(countOf<platform::Switch>(settings->tableView()), 1) << "one switch, however often";

  GlobalModel::sharedModel()->setUserId(5678);
  settings->tableView()->reloadData();
  UITestDriver::tap(reminderSwitch());
  EXPECT_EQ(reminder(5678), "YES");
  EXPECT_EQ(reminder(1234), "ON");
}

TEST_F(SettingsScreenTest, AnOfflineLoginGatesFeedbackAndTheVersionCheck) {
  showTab(GlobalModel::kLoginOffline);
  platform::UIRecorder recorder;
  UITestDriver::selectRow(settings->tableView(), {1, 0});
  UITestDriver::answerAlert(0);
  UITestDriver::tap(settings->versionButton());
  ASSERT_EQ(recorder.alerts().size(), 2u);
  EXPECT_EQ(recorder.alerts()[0].tag, SettingViewController::kOfflineFeedbackAlertTag);
  EXPECT_EQ(recorder.alerts()[1].tag, SettingViewController::kOfflineVersionAlertTag);
  EXPECT_EQ(recorder.alerts()[1].message, "您目前处于离线登录状态，请在线登录");
  EXPECT_EQ(nav->topViewController(), tabBar) << "cancel stays";
  UITestDriver::answerAlert(1);
  EXPECT_EQ(nav->topViewController(), root);
  EXPECT_EQ(GlobalModel::sharedModel()->loginState(), GlobalModel::kLoginOffline);
  EXPECT_TRUE(server.requestsTo("/lookup").empty());
}

TEST_F(SettingsScreenTest, FeedbackNeedsAnOnlineLoginButTheFaqDoesNot) {
  showTab();
  UITestDriver::selectRow(settings->tableView(), {1, 0});
  EXPECT_TRUE(std::dynamic_pointer_cast<MessageController>(nav->topViewController()));
  nav->popViewControllerAnimated(false);

  GlobalModel::sharedModel()->setLoginState(GlobalModel::kLoginOffline);
  screentest::reachability().setFlags(screentest::offlineFlags());
  UITestDriver::selectRow(settings->tableView(), {2, 0});
  EXPECT_EQ(nav->topViewController(), settings->answerVC());
  ASSERT_TRUE(settings->answerVC());
}

TEST_F(SettingsScreenTest, VersionCheckAlertsThroughTheScreens) {
  CheckVersion::setEndpoints(server.apiHost(), "apps.store.test", "42");
  CheckVersion::setUI(std::make_shared<CheckVersionAlertUI>());
  showTab();

  GlobalModel::sharedModel()->setGlobalNetWorkStatus(std::string("NotReachable"));
  platform::UIRecorder recorder;
  UITestDriver::tap(settings->versionButton());
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].message, "请您连接网络");
  UITestDriver::answerAlert(0);
  EXPECT_TRUE(server.requestsTo("/lookup").empty());

  GlobalModel::sharedModel()->setGlobalNetWorkStatus(std::string("ReachableViaWiFi"));
  platform::Bundle::main().setInfo("CFBundleVersion", "1.2.9");  // the store has 1.2.10
  recorder.clear();
  UITestDriver::tap(settings->versionButton());
  ASSERT_TRUE(runUntil([&] { return !recorder.alerts().empty(); }));
  EXPECT_EQ(recorder.alerts()[0].title, "有新的版本");
  EXPECT_EQ(recorder.alerts()[0].message, "发现新版本(1.2.10),是否进行更新？");
  EXPECT_EQ(recorder.alerts()[0].buttons, (std::vector<std::string>{"以后再说", "下载更新"}));
  UITestDriver::answerAlert(1);
  EXPECT_EQ(platform::Application::sharedApplication().openedURLs(),
            (std::vector<std::string>{"https://apps.store.test/app/id42"}));

  platform::Bundle::main().setInfo("CFBundleVersion", "1.2.10");
  recorder.clear();
  UITestDriver::tap(settings->versionButton());
  ASSERT_TRUE(runUntil([&] { return !recorder.alerts().empty(); }));
  EXPECT_EQ(recorder.alerts()[0].title, "当前版本为最新版本");
}

TEST_F(SettingsScreenTest, LogoutClearsTheLoginAndReturnsToTheAreaScreen) {
  showTab();
  platform::UIRecorder recorder;
  UITestDriver::tap(settings->logoutButton());
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].message, "是否退出登录?");
  UITestDriver::answerAlert(0);
  EXPECT_EQ(GlobalModel::sharedModel()->userId(), 1234) << "cancel changes nothing";

  UITestDriver::tap(settings->logoutButton());
  UITestDriver::answerAlert(1);
  auto model = GlobalModel::sharedModel();
  EXPECT_EQ(model->userId(), 0);
  EXPECT_EQ(model->loginState(), GlobalModel::kLoggedOut);
  EXPECT_FALSE(model->areaName().has_value());
  EXPECT_FALSE(model->areaCode().has_value());
  EXPECT_FALSE(model->courses().has_value());
  EXPECT_EQ(nav->topViewController(), root);
  EXPECT_EQ(services->idleTimerUpdates, 0) << "nothing was queued: the downloads are untouched";
}

TEST_F(SettingsScreenTest, LogoutLeavesTheDownloadQueueIdleSoLaterDownloadsStart) {
  showTab();
  auto downloads = services->downloadManager();
  downloads->setDownloadToPath(platform::Paths::documents() + "/1234");
  server.holdAfter("/media/lecture1/0.ts", 100);
  auto lecture = std::make_shared<CourseWare>();
  lecture->setVideoUrl(server.mediaUrl("lecture1/index.m3u8"));
  lecture->setUrl(server.mediaUrl("lecture1/notes.html"));
  const std::string key = DownloadUtil::getAbsoluteString("110000", "2014", "9001");
  downloads->addDownlodTask(lecture, key);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/media/lecture1/0.ts"); }));

  UITestDriver::tap(settings->logoutButton());
  UITestDriver::answerAlert(1);
  EXPECT_TRUE(downloads->isDownloading().empty());
  EXPECT_EQ(downloads->pauseDic().count(key), 1u);
  EXPECT_FALSE(downloads->currentCwId().has_value()) << "idle";
  EXPECT_EQ(services->idleTimerUpdates, 1);
  server.releaseHolds();

  int started = 0;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kStartDown, [&](const platform::Notification&) { ++started; });
  auto next = std::make_shared<CourseWare>();
  next->setVideoUrl(server.mediaUrl("lecture2/index.m3u8"));
  next->setUrl(server.mediaUrl("lecture2/notes.html"));
  const std::string nextKey = DownloadUtil::getAbsoluteString("110000", "2014", "9002");
  downloads->addDownlodTask(next, nextKey);
  EXPECT_EQ(started, 1) << "a lecture queued after logout starts at once";
  EXPECT_EQ(downloads->currentCwId(), nextKey);
}

}  // namespace
