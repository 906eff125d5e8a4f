// Landscape: a landscape-only screen presented over portrait screens turns the interface, is laid
// out 480 (568) wide, takes taps across its whole width, and is drawn upright in a 960 x 640
// snapshot; alerts turn with it; the device turning moves only screens that allow it, and the
// orientation notifications come in the order observers rely on.

#include <cairo.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UINotifications.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"
#include "support/Surfaces.h"

namespace platform {
namespace {

// A screen that allows the orientations it is given.
class Turning : public ViewController {
  CH_SHARED_OBJECT(Turning)

 public:
  unsigned supportedInterfaceOrientations() const override { return mask_; }
  bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) const override {
    return (mask_ & orientationMask(o)) != 0;
  }

 protected:
  explicit Turning(unsigned mask) : mask_(mask) {}

 private:
  unsigned mask_;
};

class OrientationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    portrait = Turning::create(InterfaceOrientationMask::Portrait);
    nav = NavigationController::create(portrait);
    window = Window::create();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    token = NotificationCenter::defaultCenter().addObserver("", [this](const Notification& n) {
      if (n.name.find("Orientation") == std::string::npos) return;
      auto it = n.userInfo.find(kApplicationStatusBarOrientationUserInfoKey);
      std::string value = it == n.userInfo.end() ? "" : " " + it->second.stringValue();
      seen.push_back(n.name + value + " now " +
                     std::to_string(static_cast<int>(Screen::mainScreen().statusBarOrientation())));
    });
  }
  void TearDown() override {
    token.reset();
    UITestDriver::reset();
  }

  // A landscape-only player with a button near its right edge.
  std::shared_ptr<Turning> presentPlayer() {
    auto player = Turning::create(InterfaceOrientationMask::Landscape);
    player->view()->setBackgroundColor(Color::blackColor());
    button = Button::create(Rect{Screen::mainScreen().isTallMode() ? 520.0 : 432.0, 12, 39, 24});
    button->setBackgroundColor(Color::rgb255(255, 0, 0));
    button->addAction([this] { ++taps; }, ControlEvent::TouchUpInside);
    player->view()->addSubview(button);
    portrait->presentViewController(player, true);
    return player;
  }

  std::shared_ptr<Turning> portrait;
  std::shared_ptr<NavigationController> nav;
  std::shared_ptr<Window> window;
  std::shared_ptr<Button> button;
  ObserverToken token;
  std::vector<std::string> seen;
  int taps = 0;
};

TEST_F(OrientationTest, LandscapeOnlyScreenTurnsTheInterfaceAndTakesTapsOnItsWholeWidth) {
  auto player = presentPlayer();
  EXPECT_EQ(Screen::mainScreen().statusBarOrientation(), InterfaceOrientation::LandscapeRight);
  EXPECT_EQ(player->interfaceOrientation(), InterfaceOrientation::LandscapeRight);
  EXPECT_EQ(player->view()->bounds().size, (Size{480, 300})) << "landscape, below the status bar";
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "UIApplicationWillChangeStatusBarOrientationNotification 3 now 1",
                      "UIApplicationDidChangeStatusBarOrientationNotification 1 now 3"}));

  UITestDriver::tap(button);
  EXPECT_EQ(taps, 1) << "a control beyond x 320 is reachable";
  // As seen on the turned screen: the button sits 20 points lower, under the status bar.
  EXPECT_EQ(UITestDriver::tapAt(*window, {450, 44}), button);
  EXPECT_EQ(taps, 2);

  player->dismissViewControllerAnimated(true);
  EXPECT_EQ(Screen::mainScreen().statusBarOrientation(), InterfaceOrientation::Portrait);
  EXPECT_EQ(nav->view()->frame(), Rect(0, 20, 320, 460)) << "the portrait screen is back upright";
}

TEST_F(OrientationTest, TallLandscapeScreenIs568Wide) {
  UITestDriver::reset();
  Screen::mainScreen().setTall(true);
  window = Window::create();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto player = presentPlayer();
  EXPECT_EQ(player->view()->bounds().size, (Size{568, 300}));
  UITestDriver::tap(button);
  EXPECT_EQ(taps, 1);
}

TEST_F(OrientationTest, LandscapeSnapshotIsDrawnUprightAt960By640) {
  presentPlayer();
  cairo_surface_t* surface = window->renderToSurface();
  EXPECT_EQ(cairo_image_surface_get_width(surface), 960);
  EXPECT_EQ(cairo_image_surface_get_height(surface), 640);
  // The button's frame (432, 12, 39, 24) on a screen whose content starts 20 points down.
  EXPECT_EQ(testsupport::pixelAt(surface, 451, 44), 0xFF0000u);
  EXPECT_EQ(testsupport::pixelAt(surface, 300, 200), 0x000000u);
  cairo_surface_destroy(surface);
}

TEST_F(OrientationTest, AlertsTurnWithTheInterface) {
  presentPlayer();
  auto alert = AlertView::create(
      std::optional<std::string>("提示"), std::optional<std::string>("网络切换到3G是否继续听课?"),
      std::weak_ptr<AlertViewDelegate>(), std::optional<std::string>("不听"),
      std::vector<std::string>{"继续"});
  alert->show();
  EXPECT_EQ(alert->bounds().size, (Size{480, 320}));
  cairo_surface_t* surface = window->renderToSurface();
  // The 284-point blue box is centred on the turned screen: its left edge lies at x 98.
  EXPECT_GT(testsupport::pixelAt(surface, 105, 160) & 0xFF, 40u);
  EXPECT_LT(testsupport::pixelAt(surface, 90, 160) & 0xFF, 30u);
  cairo_surface_destroy(surface);
  alert->layoutIfNeeded();
  auto continueButton = alert->viewWithTag(1);
  ASSERT_TRUE(continueButton);
  UITestDriver::tap(continueButton);
  EXPECT_FALSE(alert->isVisible());
}

TEST_F(OrientationTest, DeviceTurnsOnlyScreensThatAllowIt) {
  UITestDriver::rotate(DeviceOrientation::LandscapeLeft);
  EXPECT_EQ(Screen::mainScreen().statusBarOrientation(), InterfaceOrientation::Portrait)
      << "a portrait-only screen stays upright";

  auto any = Turning::create(InterfaceOrientationMask::AllButUpsideDown);
  window->setRootViewController(any);
  EXPECT_EQ(Screen::mainScreen().statusBarOrientation(), InterfaceOrientation::LandscapeRight)
      << "held on its left side, the device shows the interface turned right";
  seen.clear();
  UITestDriver::rotate(DeviceOrientation::LandscapeRight);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "UIApplicationWillChangeStatusBarOrientationNotification 4 now 3",
                      "UIApplicationDidChangeStatusBarOrientationNotification 3 now 4",
                      "UIDeviceOrientationDidChangeNotification now 4"}))
      << "device observers read the turned interface";
  EXPECT_EQ(any->view()->frame(), Rect(20, 0, 300, 480)) << "status bar along the left edge";
  UITestDriver::rotate(DeviceOrientation::FaceUp);
  EXPECT_EQ(Screen::mainScreen().statusBarOrientation(), InterfaceOrientation::LandscapeLeft)
      << "lying flat keeps the interface as it is";
}

}  // namespace
}  // namespace platform
