// The application delegate: the launch order and root screen per bundle version, the network
// status and the mobile-data alert, the idle timer while lectures download, the background rule,
// and a fresh start that reaches "my courses" against the fake course server.

#include <gtest/gtest.h>

#include <cstdlib>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsLogger.h"
#include "download/DownloadNotifications.h"
#include "download/DownloadUtil.h"
#include "httpengine/uiadditions/ApplicationHttpEngineHost.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/ReachabilityNotifications.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/ScreenTestSupport.h"
#include "screens/common/ScreenNotifications.h"
#include "screens/courses/MyCourseViewController.h"
#include "screens/login/AreaViewController.h"
#include "screens/login/LoginViewController.h"
#include "screens/start/LaunchController.h"
#include "shell/AppDelegate.h"
#include "support/MainLoop.h"
#include "widgets/MirelTabBarController.h"

namespace {

using platform::UITestDriver;
using testsupport::runUntil;

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    screentest::resetGlobalModel();
    screentest::reachability().setFlags(screentest::wifiFlags());
    ASSERT_TRUE(server.start());
    ::setenv("CHENGHENG_API_HOST", server.apiHost().c_str(), 1);
    Analytics::sharedInstance()->setDryRun(true);
    previousVersion = platform::Bundle::main().version();
  }
  void TearDown() override {
    if (delegate && delegate->downloadManager()) delegate->downloadManager()->pauseAllDownload();
    server.releaseHolds();
    UITestDriver::reset();
    delegate.reset();
    HttpEngineHost::install(nullptr);
    // The launch turned the analytics log up and opened its store in this test's home.
    Analytics::sharedInstance()->reset();
    Analytics::sharedInstance()->logger()->setLogLevel(1);
    platform::Bundle::main().setInfo("CFBundleVersion", previousVersion);
    screentest::resetGlobalModel();
    screentest::reachability().setFlags(screentest::wifiFlags());
  }

  // Launches a new delegate, as a new start of the process would.
  void launch() {
    UITestDriver::reset();
    delegate = AppDelegate::create();
    ASSERT_TRUE(platform::Application::sharedApplication().launch(delegate));
  }
  // Launches past the guide, at the area screen.
  void launchAtAreaScreen() {
    auto& defaults = platform::UserDefaults::standard();
    const std::string version = platform::Bundle::main().version();
    defaults.set("everLaunched_" + version, true);
    defaults.set("fistLaunched_" + version, false);
    launch();
  }
  void loggedInOnline(const char* reminder) {
    auto model = GlobalModel::sharedModel();
    model->setUserId(1234);
    model->setLoginState(GlobalModel::kLoginOnline);
    if (reminder) platform::UserDefaults::standard().set("1234_3g", std::string(reminder));
  }
  // Moves the fake network to `flags` and waits until the delegate has heard of it.
  void networkBecomes(std::uint32_t flags, const char* status) {
    screentest::reachability().setFlags(flags);
    ASSERT_TRUE(runUntil([&] {
      return GlobalModel::sharedModel()->GlobalNetWorkStatus() ==
             std::optional<std::string>(status);
    }));
  }
  bool idleTimerDisabled() {
    return platform::Application::sharedApplication().isIdleTimerDisabled();
  }
  std::shared_ptr<CourseWare> lecture(const std::string& fixture) {
    auto cw = std::make_shared<CourseWare>();
    cw->setVideoUrl(server.mediaUrl(fixture + "/index.m3u8"));
    cw->setUrl(server.mediaUrl(fixture + "/notes.html"));
    return cw;
  }

  testsupport::TempHome home;
  fakeserver::FakeCourseServer server;
  std::shared_ptr<AppDelegate> delegate;
  std::string previousVersion;
};

TEST_F(AppDelegateTest, LaunchMakesTheSharedObjectsAndTheAnalyticsTracker) {
  launchAtAreaScreen();
  EXPECT_TRUE(delegate->netWork());
  EXPECT_TRUE(delegate->baseDao());
  EXPECT_TRUE(delegate->downloadManager());
  EXPECT_TRUE(delegate->dbService());
  EXPECT_TRUE(delegate->downloadDao());
  EXPECT_FALSE(delegate->httpServer()) << "made by the first offline play";
  EXPECT_FALSE(delegate->viewController());
  EXPECT_TRUE(delegate->internetReach());
  EXPECT_EQ(ApplicationServices::shared(), delegate);
  auto tracker = Analytics::sharedInstance()->defaultTracker();
  ASSERT_TRUE(tracker);
  EXPECT_EQ(tracker->name(), AppDelegate::kTrackingId);
  EXPECT_TRUE(Analytics::sharedInstance()->trackUncaughtExceptions());
  EXPECT_EQ(Analytics::sharedInstance()->dispatchInterval(), 20.0);
  EXPECT_TRUE(delegate->window()->isKeyWindow());
}

TEST_F(AppDelegateTest, LaunchGivesRequestsTheApplicationsBackgroundTasks) {
  ASSERT_EQ(HttpEngineHost::installed(), nullptr);
  launchAtAreaScreen();
  EXPECT_TRUE(std::dynamic_pointer_cast<ApplicationHttpEngineHost>(HttpEngineHost::installed()));
}

TEST_F(AppDelegateTest, TheAnalyticsLogLevelIsTheApplicationsUnlessTheEnvironmentSetsOne) {
  const std::pair<const char*, unsigned> cases[] = {
      {nullptr, 4}, {"2", 2}, {"0", 0}, {"4", 4}, {"5", 4}, {"22", 4}, {"", 4}, {"-1", 4},
  };
  for (const auto& [value, level] : cases) {
    if (value) {
      ::setenv(AppDelegate::kAnalyticsLogLevelVariable, value, 1);
    } else {
      ::unsetenv(AppDelegate::kAnalyticsLogLevelVariable);
    }
    EXPECT_EQ(AppDelegate::analyticsLogLevel(), level) << (value ? value : "(unset)");
  }
  ::setenv(AppDelegate::kAnalyticsLogLevelVariable, "2", 1);
  launchAtAreaScreen();
  ::unsetenv(AppDelegate::kAnalyticsLogLevelVariable);
  EXPECT_EQ(Analytics::sharedInstance()->logger()->logLevel(), 2u);
}

TEST_F(AppDelegateTest, EachBundleVersionShowsTheGuideUntilItIsFinished) {
  platform::Bundle::main().setInfo("CFBundleVersion", "1.0");
  launch();
  auto& defaults = platform::UserDefaults::standard();
  EXPECT_TRUE(defaults.boolForKey("everLaunched_1.0"));
  EXPECT_TRUE(defaults.boolForKey("fistLaunched_1.0"));
  EXPECT_TRUE(
      std::dynamic_pointer_cast<LaunchController>(delegate->window()->rootViewController()));

  launch();  // left before the start button: the guide again
  auto guide =
      std::dynamic_pointer_cast<LaunchController>(delegate->window()->rootViewController());
  ASSERT_TRUE(guide);
  UITestDriver::scrollTo(guide->launchScroll(), {1920, 0});
  UITestDriver::tap(guide->beginButton());

  launch();
  auto nav = std::dynamic_pointer_cast<platform::NavigationController>(
      delegate->window()->rootViewController());
  ASSERT_TRUE(nav);
  EXPECT_TRUE(std::dynamic_pointer_cast<AreaViewController>(nav->topViewController()));

  platform::Bundle::main().setInfo("CFBundleVersion", "1.1");
  launch();
  EXPECT_TRUE(std::dynamic_pointer_cast<LaunchController>(delegate->window()->rootViewController()))
      << "a new version shows the guide once more";
  EXPECT_TRUE(defaults.boolForKey("everLaunched_1.1"));
}

TEST_F(AppDelegateTest, OneMobileDataAlertAtATime) {
  launchAtAreaScreen();
  loggedInOnline("YES");
  platform::UIRecorder recorder;
  networkBecomes(screentest::mobileFlags(), "ReachableViaWWAN");
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_FALSE(recorder.alerts()[0].title.size()) << "no title";
  EXPECT_EQ(recorder.alerts()[0].message, AppDelegate::kMobileNetworkMessage);
  EXPECT_EQ(recorder.alerts()[0].buttons, (std::vector<std::string>{"继续使用"}));

  // Another change on the mobile network while the alert is open.
  networkBecomes(screentest::mobileFlags() | platform::kReachabilityFlagsTransientConnection,
                 "ReachableViaWWAN");
  platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification);
  EXPECT_EQ(recorder.alerts().size(), 1u);

  UITestDriver::answerAlert(0);
  platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification);
  EXPECT_EQ(recorder.alerts().size(), 2u) << "after 继续使用 the next change warns again";
}

TEST_F(AppDelegateTest, NoMobileDataAlertUnlessOnlineWithTheReminderOn) {
  struct Case {
    const char* name;
    int loginState;
    const char* reminder;
  };
  const Case cases[] = {
      {"offline login", GlobalModel::kLoginOffline, "YES"},
      {"logged out", GlobalModel::kLoggedOut, "YES"},
      {"reminder turned off", GlobalModel::kLoginOnline, "ON"},
      {"reminder never written", GlobalModel::kLoginOnline, nullptr},
  };
  launchAtAreaScreen();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::UserDefaults::standard().remove("1234_3g");
    loggedInOnline(c.reminder);
    GlobalModel::sharedModel()->setLoginState(c.loginState);
    networkBecomes(screentest::offlineFlags(), "NotReachable");
    platform::UIRecorder recorder;
    networkBecomes(screentest::mobileFlags(), "ReachableViaWWAN");
    EXPECT_TRUE(recorder.alerts().empty());
  }
  networkBecomes(screentest::wifiFlags(), "ReachableViaWiFi");
}

TEST_F(AppDelegateTest, AnyWatchersNoticeIsAnsweredWithTheInternetStatus) {
  launchAtAreaScreen();
  auto other = Reachability::reachabilityWithHostname("api.chengheng.example");
  platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification,
                                                     platform::Value::object(other));
  EXPECT_EQ(GlobalModel::sharedModel()->GlobalNetWorkStatus(), "ReachableViaWiFi");
}

TEST_F(AppDelegateTest, TenMinutesInTheBackgroundAskTheCourseScreensToReload) {
  platform::ScopedManualClock clock;
  launchAtAreaScreen();
  int reloads = 0;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kRefreshCwTable, [&](const platform::Notification&) { ++reloads; });
  auto& app = platform::Application::sharedApplication();
  app.enterBackground();
  clock->advanceSeconds(599.9);
  app.enterForeground();
  EXPECT_EQ(reloads, 0);
  EXPECT_FALSE(delegate->refreshViewFlag());

  app.enterBackground();
  clock->advanceSeconds(600.0);
  app.enterForeground();
  EXPECT_EQ(reloads, 1);
  EXPECT_FALSE(delegate->refreshViewFlag()) << "cleared once posted";
}

TEST_F(AppDelegateTest, TheScreenStaysAwakeExactlyWhileALectureDownloads) {
  launchAtAreaScreen();
  auto downloads = delegate->downloadManager();
  downloads->setDownloadToPath(platform::Paths::documents() + "/1234");
  const std::string first = DownloadUtil::getAbsoluteString("110000", "2014", "9001");
  const std::string second = DownloadUtil::getAbsoluteString("110000", "2014", "9002");

  // Two lectures; the first finishes, then the second.
  downloads->addDownlodTask(lecture("lecture1"), first);
  downloads->addDownlodTask(lecture("lecture2"), second);
  ASSERT_TRUE(runUntil([&] { return idleTimerDisabled(); }));
  ASSERT_TRUE(runUntil([&] { return downloads->currentCwId() == second; }));
  EXPECT_TRUE(idleTimerDisabled()) << "one finished, one still downloading";
  ASSERT_TRUE(runUntil([&] { return !downloads->currentCwId(); }));
  ASSERT_TRUE(runUntil([&] { return !idleTimerDisabled(); }));

  // Losing the network empties the queue.
  server.holdAfter("/media/lecture1/1.ts", 10);
  downloads->addDownlodTask(lecture("lecture1"),
                            DownloadUtil::getAbsoluteString("110000", "2014", "9003"));
  ASSERT_TRUE(
      runUntil([&] { return idleTimerDisabled() && server.isHolding("/media/lecture1/1.ts"); }));
  screentest::reachability().setFlags(screentest::offlineFlags());
  ASSERT_TRUE(runUntil([&] { return !idleTimerDisabled(); }));
  EXPECT_FALSE(downloads->currentCwId());
  screentest::reachability().setFlags(screentest::wifiFlags());
  server.releaseHolds();

  // Pausing the only lecture.
  server.holdAfter("/media/lecture2/1.ts", 10);
  const std::string paused = DownloadUtil::getAbsoluteString("110000", "2014", "9004");
  downloads->addDownlodTask(lecture("lecture2"), paused);
  ASSERT_TRUE(
      runUntil([&] { return idleTimerDisabled() && server.isHolding("/media/lecture2/1.ts"); }));
  downloads->pauseDownload(paused);
  ASSERT_TRUE(runUntil([&] { return !idleTimerDisabled(); }));
}

TEST_F(AppDelegateTest, AFreshStartReachesMyCourses) {
  launch();
  auto guide =
      std::dynamic_pointer_cast<LaunchController>(delegate->window()->rootViewController());
  ASSERT_TRUE(guide);
  screentest::expectSnapshot(*delegate->window(), "guide");
  EXPECT_TRUE(screentest::drawnIn(*delegate->window(), {50, 45, 100, 40})) << "the first title";
  UITestDriver::scrollTo(guide->launchScroll(), {1920, 0});
  UITestDriver::tap(guide->beginButton());

  auto nav =
      std::dynamic_pointer_cast<platform::NavigationController>(guide->presentedViewController());
  ASSERT_TRUE(nav);
  auto area = std::dynamic_pointer_cast<AreaViewController>(nav->topViewController());
  ASSERT_TRUE(area);
  ASSERT_TRUE(runUntil([&] { return area->areas().size() == 3; }));
  area->tableView()->layoutIfNeeded();
  UITestDriver::tap(area->headerView(0));  // 北京市 has no sub-areas: its login opens

  auto login = std::dynamic_pointer_cast<LoginViewController>(nav->topViewController());
  ASSERT_TRUE(login);
  UITestDriver::typeText(login->userNameTF(), "zhang");
  UITestDriver::typeText(login->passWordTF(), "secret");
  UITestDriver::tap(login->btnLoginOnLine());
  ASSERT_TRUE(runUntil([&] {
    return std::dynamic_pointer_cast<MirelTabBarController>(nav->topViewController()) != nullptr;
  }));
  auto tabBar = std::dynamic_pointer_cast<MirelTabBarController>(nav->topViewController());
  auto courses =
      std::dynamic_pointer_cast<MyCourseViewController>(tabBar->selectedViewController());
  ASSERT_TRUE(courses);
  ASSERT_TRUE(runUntil([&] {
    return courses->isViewLoaded() && courses->courses() && !courses->courses()->empty();
  }));
  ASSERT_GT(courses->leftTableView()->numberOfRowsInSection(0), 0);
  auto row = courses->leftTableView()->cellForRowAtIndexPath({0, 0});
  ASSERT_TRUE(row);
  EXPECT_TRUE(courses->leftTableView()->isVisibleOnScreen());
  EXPECT_EQ(GlobalModel::sharedModel()->userId(), 1234);
  EXPECT_EQ(server.requestsTo("/api/getRetrainUserId.html").size(), 1u);
}

}  // namespace
