#include "platform/ui/Application.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {

// The background-task registry, reached from any thread (operations begin their tasks on queue
// threads). It outlives `reset`: identifiers keep growing, so a task left over from an earlier
// test can never end a later one's.
struct BackgroundTasks {
  Mutex mutex;
  std::map<Application::BackgroundTaskIdentifier, std::function<void()>> running GUARDED_BY(mutex);
  Application::BackgroundTaskIdentifier next GUARDED_BY(mutex) = 1;
};

BackgroundTasks& backgroundTasks() {
  static auto* tasks = new BackgroundTasks();
  return *tasks;
}

// Every view controller the windows hold: roots, their children, navigation stacks and
// presented controllers, parents before children, each once.
std::vector<std::shared_ptr<ViewController>> controllersIn(
    const std::vector<std::shared_ptr<Window>>& windows) {
  std::vector<std::shared_ptr<ViewController>> found;
  std::set<const ViewController*> seen;
  std::vector<std::shared_ptr<ViewController>> pending;
  for (const auto& window : windows) {
    if (auto root = window->rootViewController()) pending.push_back(root);
  }
  while (!pending.empty()) {
    auto controller = pending.front();
    pending.erase(pending.begin());
    if (!controller || !seen.insert(controller.get()).second) continue;
    found.push_back(controller);
    for (const auto& child : controller->childViewControllers()) pending.push_back(child);
    if (auto* nav = dynamic_cast<NavigationController*>(controller.get())) {
      for (const auto& screen : nav->viewControllers()) pending.push_back(screen);
    }
    if (auto presented = controller->presentedViewController()) pending.push_back(presented);
  }
  return found;
}

}  // namespace

Application& Application::sharedApplication() {
  // Made once, from whichever thread asks first; never destroyed.
  static auto* app = new Application();
  return *app;
}

void Application::reset() {
  assertMainThread("Application::reset");
  AlertView::dismissAllWithoutAnswer();
  Application& app = sharedApplication();
  app = Application();
  {
    BackgroundTasks& tasks = backgroundTasks();
    MutexLock lock(tasks.mutex);
    tasks.running.clear();
  }
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

void Application::receiveMemoryWarning() {
  assertMainThread("Application::receiveMemoryWarning");
  if (delegate_) delegate_->applicationDidReceiveMemoryWarning(*this);
  post(kApplicationDidReceiveMemoryWarningNotification);
  // Gathered first: a controller may change the tree while it frees what it can.
  for (const auto& controller : controllersIn(windows())) controller->didReceiveMemoryWarning();
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

Application::BackgroundTaskIdentifier Application::beginBackgroundTask(
    std::function<void()> expirationHandler) {
  BackgroundTasks& tasks = backgroundTasks();
  MutexLock lock(tasks.mutex);
  BackgroundTaskIdentifier id = tasks.next++;
  tasks.running.emplace(id, std::move(expirationHandler));
  return id;
}

void Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  BackgroundTasks& tasks = backgroundTasks();
  MutexLock lock(tasks.mutex);
  tasks.running.erase(identifier);
}

std::size_t Application::runningBackgroundTaskCount() const {
  BackgroundTasks& tasks = backgroundTasks();
  MutexLock lock(tasks.mutex);
  return tasks.running.size();
}

void Application::expireBackgroundTasks() {
  assertMainThread("Application::expireBackgroundTasks");
  std::vector<std::function<void()>> handlers;
  {
    BackgroundTasks& tasks = backgroundTasks();
    MutexLock lock(tasks.mutex);
    for (const auto& [id, handler] : tasks.running) {
      if (handler) handlers.push_back(handler);
    }
  }
  // Outside the lock: a handler ends its own task.
  for (const auto& handler : handlers) handler();
}

void Application::presentLocalNotificationNow(const LocalNotification& notification) {
  assertMainThread("Application::presentLocalNotificationNow");
  presentedLocalNotifications_.push_back(notification);
}

int ApplicationMain(int, char**,
                    const std::function<std::shared_ptr<ApplicationDelegate>()>& makeDelegate) {
  Application::sharedApplication().launch(makeDelegate ? makeDelegate() : nullptr);
  RunLoop::main()->run();
  return 0;
}

}  // namespace platform
