// What the application does for the rest of the system: memory warnings reach the delegate, the
// observers and every view controller; background tasks run until ended or expired (from any
// thread); local notifications are recorded.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

using Log = std::vector<std::string>;

class WarnedScreen : public ViewController {
  CH_SHARED_OBJECT(WarnedScreen)

 public:
  void didReceiveMemoryWarning() override { log_->push_back(name_); }

 private:
  WarnedScreen(std::string name, Log* log) : name_(std::move(name)), log_(log) {}
  std::string name_;
  Log* log_;
};

class WarnedDelegate : public ApplicationDelegate {
 public:
  explicit WarnedDelegate(Log* log) : log_(log) {}
  void applicationDidReceiveMemoryWarning(Application&) override { log_->push_back("delegate"); }

 private:
  Log* log_;
};

class ApplicationServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { UITestDriver::reset(); }
  void TearDown() override { UITestDriver::reset(); }
  Application& app = Application::sharedApplication();
};

TEST_F(ApplicationServicesTest, AMemoryWarningReachesTheDelegateTheObserversAndEveryController) {
  Log log;
  app.launch(std::make_shared<WarnedDelegate>(&log));
  auto token = NotificationCenter::defaultCenter().addObserver(
      kApplicationDidReceiveMemoryWarningNotification, nullptr,
      [&](const Notification&) { log.push_back("notification"); });
  auto root = WarnedScreen::create("root", &log);
  auto covered = WarnedScreen::create("covered", &log);
  auto nav = NavigationController::create(root);
  nav->pushViewController(covered, false);
  nav->pushViewController(WarnedScreen::create("top", &log), false);
  auto window = Window::create();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  covered->addChildViewController(WarnedScreen::create("child", &log));
  nav->topViewController()->presentViewController(WarnedScreen::create("presented", &log), false);
  auto offScreen = WarnedScreen::create("off screen", &log);

  app.receiveMemoryWarning();

  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "delegate");
  EXPECT_EQ(log[1], "notification");
  std::sort(log.begin() + 2, log.end());
  EXPECT_EQ(Log(log.begin() + 2, log.end()), (Log{"child", "covered", "presented", "root", "top"}))
      << "every controller the window holds hears it once; one no window holds does not";
}

TEST_F(ApplicationServicesTest, BackgroundTasksRunUntilEndedFromAnyThread) {
  std::vector<Application::BackgroundTaskIdentifier> ids(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < ids.size(); ++i)
    threads.emplace_back([&, i] { ids[i] = app.beginBackgroundTask(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(app.runningBackgroundTaskCount(), 8u);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end()) << "identifiers are distinct";
  EXPECT_EQ(std::count(ids.begin(), ids.end(), Application::kBackgroundTaskInvalid), 0);
  threads.clear();
  for (auto id : ids) threads.emplace_back([&, id] { app.endBackgroundTask(id); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(app.runningBackgroundTaskCount(), 0u);
  app.endBackgroundTask(ids[0]);
  app.endBackgroundTask(Application::kBackgroundTaskInvalid);
  EXPECT_EQ(app.runningBackgroundTaskCount(), 0u) << "ending twice does nothing";
}

TEST_F(ApplicationServicesTest, ExpiringCallsEachRunningTasksHandler) {
  Log log;
  Application::BackgroundTaskIdentifier ending = Application::kBackgroundTaskInvalid;
  ending = app.beginBackgroundTask([&] {
    log.push_back("ending");
    app.endBackgroundTask(ending);
  });
  app.beginBackgroundTask([&] { log.push_back("lingering"); });
  auto ended = app.beginBackgroundTask([&] { log.push_back("ended before"); });
  app.endBackgroundTask(ended);

  app.expireBackgroundTasks();
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (Log{"ending", "lingering"}));
  EXPECT_EQ(app.runningBackgroundTaskCount(), 1u) << "a handler that does not end its task";
  UITestDriver::reset();
  EXPECT_EQ(app.runningBackgroundTaskCount(), 0u);
}

TEST_F(ApplicationServicesTest, LocalNotificationsAreRecordedInOrder) {
  LocalNotification first{"下载失败", "Dismiss", std::nullopt, {{"n", Value(1)}}};
  LocalNotification second{"again", std::nullopt, std::nullopt, {}};
  app.presentLocalNotificationNow(first);
  app.presentLocalNotificationNow(second);
  EXPECT_EQ(app.presentedLocalNotifications(), (std::vector<LocalNotification>{first, second}));
  UITestDriver::reset();
  EXPECT_TRUE(Application::sharedApplication().presentedLocalNotifications().empty());
}

}  // namespace
}  // namespace platform
