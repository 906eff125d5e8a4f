#pragma once
// HttpEngineHost: what an operation asks of the application it runs in. A started operation
// holds a background task until it ends (and is cancelled when the background time runs out),
// and a failure while the application is in the background shows a local notification. The
// engine links no UI: the application installs a host at start-up (the UI additions'
// `ApplicationHttpEngineHost`, over the platform's application object). Without a host an
// operation holds no task and shows no notification; everything else works the same.
//
// Install the host before the first request and keep it: an operation ends its task through
// the host installed when the task ends. Any thread may ask for the host.

#include <functional>
#include <memory>

#include "platform/foundation/LocalNotification.h"

class HttpEngineHost {
 public:
  using BackgroundTaskIdentifier = unsigned;
  static constexpr BackgroundTaskIdentifier kBackgroundTaskInvalid = 0;

  virtual ~HttpEngineHost() = default;

  // A running task; `expirationHandler` is called (on the main thread) when the background
  // time runs out first. kBackgroundTaskInvalid when the host cannot give one.
  virtual BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler) = 0;
  // Ending a task that is not running does nothing.
  virtual void endBackgroundTask(BackgroundTaskIdentifier task) = 0;
  // Main thread (operations report there).
  virtual bool isInBackground() const = 0;
  virtual void presentLocalNotificationNow(const platform::LocalNotification& notification) = 0;

  // The host of every operation of the process; null uninstalls.
  static void install(std::shared_ptr<HttpEngineHost> host);
  // Null while none is installed.
  static std::shared_ptr<HttpEngineHost> installed();
};
