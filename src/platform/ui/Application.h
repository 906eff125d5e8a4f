#pragma once
// Application: the one application object. It holds the application delegate (for the whole
// run), the windows on screen and the key window, and moves through the platform's life cycle,
// telling its delegate and posting the platform's notifications on the default notification
// centre (no object, no payload):
//   launch:           didFinishLaunchingWithOptions, then became active
//   enterBackground:  "UIApplicationWillResignActiveNotification", then
//                     "UIApplicationDidEnterBackgroundNotification"
//   enterForeground:  "UIApplicationWillEnterForegroundNotification", then
//                     "UIApplicationDidBecomeActiveNotification"
//   terminate:        "UIApplicationWillTerminateNotification"
//   receiveMemoryWarning: applicationDidReceiveMemoryWarning, then
//                     "UIApplicationDidReceiveMemoryWarningNotification", then
//                     didReceiveMemoryWarning of every view controller in its windows
// It also keeps the idle-timer flag, the status bar settings and a record of opened URLs and of
// the local notifications it was asked to show.
//
// The status bar, network-activity and URL-opening operations are the application shell's (its
// delegate and screens call them); here they keep what they are told. Background tasks are a
// registry: a task runs from `beginBackgroundTask` until `endBackgroundTask`, and when the
// system's background time runs out (`expireBackgroundTasks`, which tests call) each running
// task's expiration handler is called on the main thread. The background-task calls may come
// from any thread; everything else is main-thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/LocalNotification.h"
#include "platform/foundation/Value.h"

namespace platform {

class Application;
class Window;

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual bool didFinishLaunchingWithOptions(Application&, const Dictionary&) { return true; }
  virtual void applicationDidBecomeActive(Application&) {}
  virtual void applicationWillResignActive(Application&) {}
  virtual void applicationDidEnterBackground(Application&) {}
  virtual void applicationWillEnterForeground(Application&) {}
  virtual void applicationWillTerminate(Application&) {}
  virtual void applicationDidReceiveMemoryWarning(Application&) {}
};

class Application {
 public:
  enum class State { Active, Inactive, Background };
  using BackgroundTaskIdentifier = unsigned;
  static constexpr BackgroundTaskIdentifier kBackgroundTaskInvalid = 0;

  static Application& sharedApplication();
  // Forgets windows, delegate, flags and records (between tests).
  static void reset();

  std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  State applicationState() const { return state_; }

  // Sets the delegate, launches and becomes active; the delegate's launch answer.
  bool launch(std::shared_ptr<ApplicationDelegate> delegate, const Dictionary& options = {});
  void enterBackground();
  void enterForeground();
  void terminate();
  // The system is short of memory (tests and the scripted run call it).
  void receiveMemoryWarning();

  std::shared_ptr<Window> keyWindow() const;
  std::vector<std::shared_ptr<Window>> windows() const;
  void setKeyWindow(const std::shared_ptr<Window>& window);
  void registerWindow(const std::shared_ptr<Window>& window);

  bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
  void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }
  bool isStatusBarHidden() const;
  void setStatusBarHidden(bool hidden);
  int statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(int style) { statusBarStyle_ = style; }
  bool isNetworkActivityIndicatorVisible() const { return networkActivity_; }
  void setNetworkActivityIndicatorVisible(bool v) { networkActivity_ = v; }

  // Records the URL as opened; true for a well-formed URL with a scheme.
  bool openURL(const std::string& url);
  const std::vector<std::string>& openedURLs() const { return openedURLs_; }

  // Any thread. Ending an identifier that is not running (or kBackgroundTaskInvalid) does nothing.
  BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler = {});
  void endBackgroundTask(BackgroundTaskIdentifier identifier);
  std::size_t runningBackgroundTaskCount() const;
  // The background time is up: calls the expiration handler of every task running now, on the
  // main thread. A task whose handler does not end it stays running.
  void expireBackgroundTasks();

  // Records the notification as shown now.
  void presentLocalNotificationNow(const LocalNotification& notification);
  const std::vector<LocalNotification>& presentedLocalNotifications() const {
    return presentedLocalNotifications_;
  }

 private:
  Application() = default;
  void post(const char* name);

  std::shared_ptr<ApplicationDelegate> delegate_;
  State state_ = State::Inactive;
  std::vector<std::weak_ptr<Window>> windows_;
  std::weak_ptr<Window> keyWindow_;
  bool idleTimerDisabled_ = false;
  int statusBarStyle_ = 0;
  bool networkActivity_ = false;
  std::vector<std::string> openedURLs_;
  std::vector<LocalNotification> presentedLocalNotifications_;
};

// Runs the application as the process's main: launches with the delegate `makeDelegate`
// returns and runs the main run loop until it is stopped. Returns 0.
int ApplicationMain(int argc, char** argv,
                    const std::function<std::shared_ptr<ApplicationDelegate>()>& makeDelegate);

}  // namespace platform
