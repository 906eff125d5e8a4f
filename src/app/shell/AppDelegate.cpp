#include "shell/AppDelegate.h"

#include <cstdio>
#include <cstdlib>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsLogger.h"
#include "download/DownloadNotifications.h"
#include "httpengine/uiadditions/ApplicationHttpEngineHost.h"
#include "model/GlobalModel.h"
#include "net/CheckVersion.h"
#include "netstatus/ReachabilityNetworkStatus.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/ReachabilityNotifications.h"
#include "platform/ui/NavigationController.h"
#include "screens/common/DefaultsKeys.h"
#include "screens/common/ScreenLook.h"
#include "screens/common/ScreenNotifications.h"
#include "screens/login/AreaViewController.h"
#include "screens/settings/CheckVersionAlertUI.h"
#include "screens/start/LaunchController.h"
#include "shell/ViewController.h"

AppDelegate::~AppDelegate() {
  if (_internetReach) _internetReach->stopNotifier();
}

bool AppDelegate::didFinishLaunchingWithOptions(platform::Application&,
                                                const platform::Dictionary&) {
  _window = platform::Window::create();
  // Before the first request: operations hold the application's background tasks and tell of
  // failures in the background through it.
  ApplicationHttpEngineHost::install();
  startAnalytics();
  _netWork = NetworkEngine::initWithDefaultSettings();
  _baseDao = std::make_shared<BaseDao>();
  _downloadManager = std::make_shared<DownloadManager>();
  _dbService = std::make_shared<DBService>();
  _downloadDao = std::make_shared<DownloadDao>();
  CheckVersion::setUI(std::make_shared<CheckVersionAlertUI>());

  auto navigation = platform::NavigationController::create(
      AreaViewController::create(std::string("AreaViewController")));

  // The screens ask NetWorkUtil before every request; from here on it asks the real watcher.
  ReachabilityNetworkStatus::install();
  _internetReach = Reachability::reachabilityForInternetConnection();
  if (_internetReach) _internetReach->startNotifier();
  // An upload whose outcome the last run never heard (the process ended) is decided from the
  // server's course tree now, before the learner studies on or syncs.
  _netWork->resolveMarkedBatches();

  auto& center = platform::NotificationCenter::defaultCenter();
  // The delegate lives as long as the application; its tokens go before it does.
  observers_.push_back(
      center.addObserver(kReachabilityChangedNotification,
                         [this](const platform::Notification& n) { reachabilityChanged(n); }));
  // A paused transfer ("downloadPause") can leave the queue idle without any lecture notice.
  for (const char* name : {kCellFinish, kCellNetworkError, kStartDown, kDownloadPause}) {
    observers_.push_back(
        center.addObserver(name, [this](const platform::Notification& n) { refershIdleTimer(n); }));
  }

  const std::string version = platform::Bundle::main().version();
  auto& defaults = platform::UserDefaults::standard();
  if (!defaults.boolForKey(defaultskeys::everLaunched(version))) {
    defaults.set(defaultskeys::everLaunched(version), true);
    defaults.set(defaultskeys::fistLaunched(version), true);
    defaults.synchronize();
  }
  if (defaults.boolForKey(defaultskeys::fistLaunched(version))) {
    _window->setRootViewController(LaunchController::create());
  } else {
    _window->setRootViewController(navigation);
  }
  _window->makeKeyAndVisible();
  return true;
}

void AppDelegate::startAnalytics() {
  auto analytics = Analytics::sharedInstance();
  analytics->setTrackUncaughtExceptions(true);
  analytics->setDispatchInterval(20.0);
  analytics->logger()->setLogLevel(analyticsLogLevel());
  // The analytics component keeps the tracker as its default one, which the screens use.
  analytics->trackerWithTrackingId(kTrackingId);
}

unsigned AppDelegate::analyticsLogLevel() {
  const char* value = std::getenv(kAnalyticsLogLevelVariable);
  if (!value || value[0] < '0' || value[0] > '4' || value[1] != '\0') return kAnalyticsLogLevel;
  return static_cast<unsigned>(value[0] - '0');
}

void AppDelegate::reachabilityChanged(const platform::Notification&) {
  if (!_internetReach) return;
  auto model = GlobalModel::sharedModel();
  switch (_internetReach->currentReachabilityStatus()) {
    case ReachableViaWiFi:
      model->setGlobalNetWorkStatus(std::string("ReachableViaWiFi"));
      break;
    case ReachableViaWWAN: {
      const std::string reminder = platform::UserDefaults::standard().stringForKey(
          defaultskeys::mobileReminder(model->userId()));
      if (model->loginState() == GlobalModel::kLoginOnline && openMobileAlerts_ == 0 &&
          reminder == defaultskeys::kReminderOn) {
        screenlook::showAlert(std::nullopt, std::string(kMobileNetworkMessage), "继续使用", {},
                              std::static_pointer_cast<AlertViewDelegate>(shared_from_this()));
        ++openMobileAlerts_;
      }
      model->setGlobalNetWorkStatus(std::string("ReachableViaWWAN"));
      break;
    }
    case NotReachable:
      model->setGlobalNetWorkStatus(std::string("NotReachable"));
      break;
  }
}

void AppDelegate::alertViewClickedButtonAtIndex(platform::AlertView&, int buttonIndex) {
  if (buttonIndex == 0) --openMobileAlerts_;
}

void AppDelegate::refershIdleTimer(const platform::Notification&) {
  // The queue changes right after its notices (a finished lecture leaves it, a lost network
  // empties it), so the count read now would be stale: decide once they have settled.
  updateIdleTimer();
}

void AppDelegate::updateIdleTimer() {
  std::weak_ptr<AppDelegate> weak = shared_from_this();
  platform::dispatch::Queue::main()->async([weak] {
    auto self = weak.lock();
    if (!self || !self->_downloadManager) return;
    platform::Application::sharedApplication().setIdleTimerDisabled(
        self->_downloadManager->currentCwId().has_value());
  });
}

void AppDelegate::applicationDidEnterBackground(platform::Application&) {
  lastRefreshDate = platform::Clock::shared()->now();
}

void AppDelegate::applicationWillEnterForeground(platform::Application&) {
  if (lastRefreshDate) {
    double away = platform::toSeconds(platform::Clock::shared()->now() - *lastRefreshDate);
    if (away >= kRefreshAfterSeconds) _refreshViewFlag = true;
  }
  if (_refreshViewFlag) {
    platform::NotificationCenter::defaultCenter().post(kRefreshCwTable);
    _refreshViewFlag = false;
  }
  std::printf("applicationWillEnterForeground\n");
}

void AppDelegate::exitApp() {
  std::printf("exitApp\napplicationDidEnterBackground\n_bgTaskId = %u\n", bgTaskId);
  platform::Application::sharedApplication().endBackgroundTask(bgTaskId);
  bgTaskId = platform::Application::kBackgroundTaskInvalid;
}

void AppDelegate::refreshView() {
  _refreshViewFlag = true;
  platform::Application::sharedApplication().endBackgroundTask(bgTaskId);
  bgTaskId = platform::Application::kBackgroundTaskInvalid;
}
