#include "platform/ui/Application.h"

#include <algorithm>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {
Application*& instance() {
  static Application* app = nullptr;
  return app;
}
}  // namespace

Application& Application::sharedApplication() {
  if (!instance()) instance() = new Application();
  return *instance();
}

void Application::reset() {
  assertMainThread("Application::reset");
  AlertView::dismissAllWithoutAnswer();
  Application& app = sharedApplication();
  app = Application();
  Screen::mainScreen().setTall(false);
  Screen::mainScreen().setStatusBarHidden(false);
}

void Application::post(const char* name) {
  NotificationCenter::defaultCenter().post(name, Value());
}

bool Application::launch(std::shared_ptr<ApplicationDelegate> delegate, const Dictionary& options) {
  assertMainThread("Application::launch");
  delegate_ = std::move(delegate);
  state_ = State::Inactive;
  bool ok = delegate_ ? delegate_->didFinishLaunchingWithOptions(*this, options) : true;
  post(kApplicationDidFinishLaunchingNotification);
  state_ = State::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(*this);
  post(kApplicationDidBecomeActiveNotification);
  return ok;
}

void Application::enterBackground() {
  assertMainThread("Application::enterBackground");
  if (state_ == State::Background) return;
  if (delegate_) delegate_->applicationWillResignActive(*this);
  post(kApplicationWillResignActiveNotification);
  state_ = State::Background;
  if (delegate_) delegate_->applicationDidEnterBackground(*this);
  post(kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
  assertMainThread("Application::enterForeground");
  if (state_ != State::Background) return;
  state_ = State::Inactive;
  if (delegate_) delegate_->applicationWillEnterForeground(*this);
  post(kApplicationWillEnterForegroundNotification);
  state_ = State::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(*this);
  post(kApplicationDidBecomeActiveNotification);
}

void Application::terminate() {
  assertMainThread("Application::terminate");
  if (delegate_) delegate_->applicationWillTerminate(*this);
  post(kApplicationWillTerminateNotification);
}

std::shared_ptr<Window> Application::keyWindow() const { return keyWindow_.lock(); }

std::vector<std::shared_ptr<Window>> Application::windows() const {
  std::vector<std::shared_ptr<Window>> result;
  for (const auto& w : windows_) {
    if (auto window = w.lock()) result.push_back(window);
  }
  return result;
}

void Application::setKeyWindow(const std::shared_ptr<Window>& window) {
  assertMainThread("Application::setKeyWindow");
  registerWindow(window);
  keyWindow_ = window;
}

void Application::registerWindow(const std::shared_ptr<Window>& window) {
  assertMainThread("Application::registerWindow");
  windows_.erase(
      std::remove_if(windows_.begin(), windows_.end(), [](const auto& w) { return w.expired(); }),
      windows_.end());
  for (const auto& w : windows_) {
    if (w.lock() == window) return;
  }
  windows_.push_back(window);
}

bool Application::isStatusBarHidden() const { return Screen::mainScreen().statusBarHidden(); }

void Application::setStatusBarHidden(bool hidden) {
  Screen::mainScreen().setStatusBarHidden(hidden);
}

bool Application::openURL(const std::string& url) {
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  openedURLs_.push_back(url);
  return true;
}

Application::BackgroundTaskIdentifier Application::beginBackgroundTask(std::function<void()>) {
  BackgroundTaskIdentifier id = nextTask_++;
  backgroundTasks_.push_back(id);
  return id;
}

void Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  backgroundTasks_.erase(std::remove(backgroundTasks_.begin(), backgroundTasks_.end(), identifier),
                         backgroundTasks_.end());
}

int ApplicationMain(int, char**,
                    const std::function<std::shared_ptr<ApplicationDelegate>()>& makeDelegate) {
  Application::sharedApplication().launch(makeDelegate ? makeDelegate() : nullptr);
  RunLoop::main()->run();
  return 0;
}

}  // namespace platform
