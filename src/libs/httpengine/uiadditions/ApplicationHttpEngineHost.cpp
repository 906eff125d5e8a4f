#include "httpengine/uiadditions/ApplicationHttpEngineHost.h"

#include <type_traits>

#include "platform/ui/Application.h"

using platform::Application;

// The engine hands the application's identifiers through as they are.
static_assert(std::is_same_v<HttpEngineHost::BackgroundTaskIdentifier,
                             Application::BackgroundTaskIdentifier>);
static_assert(HttpEngineHost::kBackgroundTaskInvalid == Application::kBackgroundTaskInvalid);

void ApplicationHttpEngineHost::install() {
  HttpEngineHost::install(std::make_shared<ApplicationHttpEngineHost>());
}

HttpEngineHost::BackgroundTaskIdentifier ApplicationHttpEngineHost::beginBackgroundTask(
    std::function<void()> expirationHandler) {
  return Application::sharedApplication().beginBackgroundTask(std::move(expirationHandler));
}

void ApplicationHttpEngineHost::endBackgroundTask(BackgroundTaskIdentifier task) {
  Application::sharedApplication().endBackgroundTask(task);
}

bool ApplicationHttpEngineHost::isInBackground() const {
  return Application::sharedApplication().applicationState() == Application::State::Background;
}

void ApplicationHttpEngineHost::presentLocalNotificationNow(
    const platform::LocalNotification& notification) {
  Application::sharedApplication().presentLocalNotificationNow(notification);
}
