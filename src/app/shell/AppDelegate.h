#pragma once
// AppDelegate: the application delegate. At launch it builds the window, switches on usage
// analytics, makes the long-lived shared objects the screens reach through it (the course API
// client, the store, the download queue and rows), starts watching the internet connection and
// the download notices, and picks the root screen: the first-run guide on the first launch of a
// bundle version, else the navigation stack that starts at the area screen.
//
// For the rest of the run it keeps the network status in GlobalModel current and, when a change
// finds a mobile network while a learner is logged in online with the reminder on, warns about
// data costs (one such alert at a time). It keeps the screen awake exactly while a lecture is
// downloading, deciding on the turn of the main queue after each download notice (so the queue
// has settled) and whenever a screen asks. After 600 seconds or more in the background it asks
// the course screens to reload ("refreshCwTable").
//
// Main thread only.

#include <memory>
#include <optional>

#include "dao/BaseDao.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/net/Reachability.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Window.h"
#include "screens/common/ApplicationServices.h"

class ViewController;

class AppDelegate : public ApplicationServices,
                    public platform::AlertViewDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
 public:
  // The analytics tracking identifier of this deployment.
  static constexpr const char* kTrackingId = "CH-20140101-1";
  // The analytics log level of the run (0 none .. 4 verbose), when the environment sets one;
  // the application's own is 4.
  static constexpr const char* kAnalyticsLogLevelVariable = "CHENGHENG_ANALYTICS_LOG_LEVEL";
  static constexpr unsigned kAnalyticsLogLevel = 4;
  // kAnalyticsLogLevel, or the level kAnalyticsLogLevelVariable holds (one digit, 0 to 4).
  static unsigned analyticsLogLevel();
  // The least time in the background after which the course screens reload.
  static constexpr double kRefreshAfterSeconds = 600.0;
  static constexpr const char* kMobileNetworkMessage =
      "您目前为2G/"
      "3G连接状态，继续使用可能会产生较大的数据流量费用（由移动运营商收取，建议您在WIFI无线网络下"
      "使用）";

  static std::shared_ptr<AppDelegate> create() {
    return std::shared_ptr<AppDelegate>(new AppDelegate());
  }
  ~AppDelegate() override;

  bool didFinishLaunchingWithOptions(platform::Application& application,
                                     const platform::Dictionary& options) override;
  void applicationDidEnterBackground(platform::Application& application) override;
  void applicationWillEnterForeground(platform::Application& application) override;
  void applicationWillResignActive(platform::Application&) override {}
  void applicationDidBecomeActive(platform::Application&) override {}
  void applicationWillTerminate(platform::Application&) override {}

  void reachabilityChanged(const platform::Notification& notification);
  void refershIdleTimer(const platform::Notification& notification);
  void updateIdleTimer() override;
  void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;

  // Kept with no caller: they end the background task, which nothing begins.
  void exitApp();
  void refreshView();

  const std::shared_ptr<platform::Window>& window() const { return _window; }
  void setWindow(std::shared_ptr<platform::Window> v) { _window = std::move(v); }
  // Never set.
  const std::shared_ptr<ViewController>& viewController() const { return _viewController; }
  void setViewController(std::shared_ptr<ViewController> v) { _viewController = std::move(v); }
  const std::shared_ptr<BaseDao>& baseDao() const { return _baseDao; }
  void setBaseDao(std::shared_ptr<BaseDao> v) { _baseDao = std::move(v); }
  const std::shared_ptr<Reachability>& internetReach() const { return _internetReach; }
  void setInternetReach(std::shared_ptr<Reachability> v) { _internetReach = std::move(v); }

  // How many mobile-data alerts are open (0 or 1).
  int openMobileAlertCount() const { return openMobileAlerts_; }

 protected:
  AppDelegate() = default;

 private:
  void startAnalytics();

  std::shared_ptr<platform::Window> _window;
  std::shared_ptr<ViewController> _viewController;
  std::shared_ptr<BaseDao> _baseDao;
  std::shared_ptr<Reachability> _internetReach;
  std::optional<platform::Date> lastRefreshDate;
  unsigned bgTaskId = 0;

  // Our own.
  int openMobileAlerts_ = 0;
  // Last, so no notification reaches a half-destroyed delegate.
  std::vector<platform::ObserverToken> observers_;
};
