#pragma once
// Shared pieces of the screen and application tests: a process-wide fake reachability source
// (the file downloader is a process singleton that keeps the source it was made with), a fresh
// login model per test, the shared objects of the application delegate on the fake course
// server, a window to show screens on, a recording analytics tracker and a check that a
// snapshot drew something in a rectangle.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/AnalyticsTracker.h"
#include "fakeserver/FakeCourseServer.h"
#include "platform/foundation/Clock.h"
#include "platform/net/FakeReachabilitySource.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "screens/common/ApplicationServices.h"
#include "support/TempHome.h"

class MirelTabBarController;
class ProgressHUD;

namespace screentest {

// Every screen test reads reachability from this fake (reachable over WiFi unless a test says
// otherwise), installed before the first test.
platform::FakeReachabilitySource& reachability();
// Flags of a reachable internet connection over WiFi, over a mobile network, and of none.
std::uint32_t wifiFlags();
std::uint32_t mobileFlags();
std::uint32_t offlineFlags();

// The global login model as a fresh process has it.
void resetGlobalModel();
// The login model of user 1234 logged in online in Beijing ("110000").
void logInBeijingUser();

// The application delegate of a screen test: the shared objects, with the course API client on
// the given host. It counts the screens' requests to decide the idle timer again.
class TestServices : public ApplicationServices {
 public:
  explicit TestServices(const std::string& apiHost);
  void updateIdleTimer() override { ++idleTimerUpdates; }
  int idleTimerUpdates = 0;
};

// Records the hits sent to it, as the default tracker of a test.
class RecordingTracker : public AnalyticsTracker {
 public:
  void set(const std::string& key, const std::optional<std::string>& value) override;
  std::optional<std::string> get(const std::string& key) override;
  void send(const platform::Dictionary& parameters) override;
  std::string name() const override { return "recording"; }
  std::vector<platform::Dictionary> sent() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::optional<std::string>> fields_;
  std::vector<platform::Dictionary> sent_;
};

// A test with its own home, the fake course server, the test delegate installed on the
// application and a window to show screens on.
class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Shows `root` at the bottom of a navigation controller on the key window.
  std::shared_ptr<platform::NavigationController> show(
      const std::shared_ptr<platform::ViewController>& root);
  // Pushes a main screen whose shown first tab is `first` (three plain tabs follow) above a plain
  // root screen, and registers it in the login model, as a login does.
  std::shared_ptr<MirelTabBarController> pushMainScreen(
      const std::shared_ptr<platform::ViewController>& first);
  // The number of subviews of `view` (at any depth) of class T.
  template <class T>
  static int countOf(const std::shared_ptr<platform::View>& view) {
    int n = std::dynamic_pointer_cast<T>(view) ? 1 : 0;
    for (const auto& sub : view->subviews()) n += countOf<T>(sub);
    return n;
  }

  testsupport::TempHome home;
  fakeserver::FakeCourseServer server;
  std::shared_ptr<TestServices> services;
  // Set by pushMainScreen.
  std::shared_ptr<platform::ViewController> root;
  std::shared_ptr<platform::NavigationController> nav;
  std::shared_ptr<platform::Window> window;
  std::shared_ptr<RecordingTracker> tracker = std::make_shared<RecordingTracker>();
};

// The body of the newest notice shown or waiting to be shown; absent when there is none.
std::optional<std::string> lastNotice();
// Whether a screen's progress HUD is there and shown.
bool isWaitHUDShown(const std::shared_ptr<ProgressHUD>& hud);
// How many progress HUDs lie on `view`.
int progressHUDsOn(const std::shared_ptr<platform::View>& view);

// Whether the window's drawing has, inside `rect` (points, window coordinates), pixels that
// differ clearly from the colour of the rectangle's top-left corner: something was drawn there.
bool drawnIn(platform::Window& window, const platform::Rect& rect);
// Writes the window's snapshot (under the test's home, or in CHENGHENG_SNAPSHOT_DIR when set) and
// checks it is a PNG of the screen's size (turned on its side for a landscape screen).
void expectSnapshot(platform::Window& window, const std::string& name, bool landscape = false);

}  // namespace screentest
