#pragma once
// ApplicationHttpEngineHost: the request engine's host over the platform's application object:
// operations hold the application's background tasks, learn whether it is in the background
// from its state, and show their local notifications through it. The application installs it
// at launch (`install()`), before its first request.

#include <functional>
#include <memory>

#include "httpengine/HttpEngineHost.h"

class ApplicationHttpEngineHost : public HttpEngineHost {
 public:
  // Makes one and installs it as the host of every operation.
  static void install();

  BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler) override;
  void endBackgroundTask(BackgroundTaskIdentifier task) override;
  bool isInBackground() const override;
  void presentLocalNotificationNow(const platform::LocalNotification& notification) override;
};
