// The progress HUD: its box measured around the indicator and texts, its grace and minimum-show
// timers on the manual clock, the indicators by mode, tasks on threads and queues, the views'
// HUDs, its turning with the interface, and one HUD reused by a screen that waits again.

#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Device.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "support/MainLoop.h"
#include "support/Surfaces.h"
#include "widgets/ProgressHUD.h"
#include "widgets/RoundProgressView.h"

using platform::Font;
using platform::Rect;
using platform::Size;
using platform::UITestDriver;
using platform::View;

namespace {

class Watcher : public ProgressHUDDelegate {
 public:
  void hudWasHidden(ProgressHUD&) override { ++hidden; }
  int hidden = 0;
};

class ProgressHUDTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    screen = View::create(Rect{0, 0, 320, 480});
  }
  void TearDown() override { UITestDriver::reset(); }
  std::shared_ptr<ProgressHUD> addHUD() {
    auto hud = ProgressHUD::create(screen);
    screen->addSubview(hud);
    return hud;
  }
  std::shared_ptr<View> screen;
};

TEST_F(ProgressHUDTest, ViewMustNotBeNil) {
  try {
    ProgressHUD::create(std::shared_ptr<View>());
    FAIL() << "no assertion";
  } catch (const platform::AssertionFailure& failure) {
    EXPECT_STREQ(failure.what(), "View must not be nil.");
  }
  EXPECT_THROW(ProgressHUD::reusableHUDForView(nullptr), platform::AssertionFailure);
}

TEST_F(ProgressHUDTest, ScreensWaitTextBoxWrapsIndicatorAndLabel) {
  platform::ScopedManualClock clock;
  auto hud = addHUD();
  EXPECT_EQ(hud->frame(), screen->bounds());
  EXPECT_EQ(hud->alpha(), 0) << "made hidden";
  hud->setLabelText("正在登录,请稍候");
  hud->show(true);
  hud->layoutIfNeeded();
  Size text = platform::TextMeasurer::sizeOfLine("正在登录,请稍候", Font::boldSystemFont(16));
  EXPECT_EQ(hud->size(), (Size{std::max(37.0, text.width) + 40, 37 + 4 + text.height + 40}));
  EXPECT_EQ(hud->indicator()->frame(),
            Rect(142, std::round((480 - hud->size().height) / 2) + 20, 37, 37));
  EXPECT_EQ(hud->labelView()->frame().y(), hud->indicator()->frame().maxY() + 4);
  EXPECT_EQ(hud->presentation().alpha, 1);
  UITestDriver::settle(ProgressHUD::kAnimationDuration);
  EXPECT_EQ(hud->alpha(), 1) << "fully visible after 0.30 s";

  hud->setHidden(true);  // the screens' way to take it away
  EXPECT_EQ(hud->superview(), screen);
}

TEST_F(ProgressHUDTest, BoxSizesFollowTheirRules) {
  struct Case {
    const char* name;
    std::function<void(ProgressHUD&)> setUp;
    Size expected;
  };
  auto content = View::create(Rect{0, 0, 100, 60});
  std::string wide(200, 'W');
  double wideWidth = 320 - 80 + 40;
  std::vector<Case> cases{
      {"no label: indicator and margins", [](ProgressHUD&) {}, {77, 77}},
      {"empty label adds nothing", [](ProgressHUD& h) { h.setLabelText(""); }, {77, 77}},
      {"square of 100 x 60 content",
       [content](ProgressHUD& h) {
         h.setCustomView(content);
         h.setMode(ProgressHUD::kModeCustomView);
         h.setMargin(0);
         h.setSquare(true);
       },
       {100, 100}},
      {"minimum size",
       [](ProgressHUD& h) {
         h.setMinSize({200, 150});
       },
       {200, 150}},
      {"label cut to the width less four margins",
       [wide](ProgressHUD& h) {
         h.setMode(ProgressHUD::kModeText);
         h.setLabelText(wide);
       },
       {wideWidth, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto hud = addHUD();
    c.setUp(*hud);
    hud->layoutIfNeeded();
    EXPECT_EQ(hud->size().width, c.expected.width);
    if (c.expected.height > 0) {
      EXPECT_EQ(hud->size().height, c.expected.height);
    }
    hud->removeFromSuperview();
  }
}

TEST_F(ProgressHUDTest, ContentStaysCentredInALargerMinimumBox) {
  auto hud = addHUD();
  hud->setMinSize({200, 200});
  hud->layoutIfNeeded();
  EXPECT_EQ(hud->indicator()->center().x, 160 + 0.5) << "rounded like the box";
  EXPECT_NEAR(hud->indicator()->center().y, 240, 1);
}

TEST_F(ProgressHUDTest, GraceTimeHidesATaskThatEndsInTime) {
  platform::ScopedManualClock clock;
  for (bool stillRunning : {false, true}) {
    auto hud = addHUD();
    hud->setGraceTime(0.5);
    hud->setTaskInProgress(true);
    hud->show(true);
    EXPECT_EQ(hud->alpha(), 0) << "nothing before the grace time";
    UITestDriver::settle(0.3);
    hud->setTaskInProgress(stillRunning);
    UITestDriver::settle(0.3);
    EXPECT_EQ(hud->alpha(), stillRunning ? 1 : 0);
  }
}

TEST_F(ProgressHUDTest, MinimumShowTimeDelaysTheHide) {
  platform::ScopedManualClock clock;
  auto hud = addHUD();
  auto watcher = std::make_shared<Watcher>();
  hud->setDelegate(watcher);
  int completions = 0;
  hud->setCompletionBlock([&] { ++completions; });
  hud->setRemoveFromSuperViewOnHide(true);
  hud->setMinShowTime(1.0);
  hud->show(true);
  UITestDriver::settle(0.2);
  hud->hide(true);
  UITestDriver::settle(0.79);
  EXPECT_EQ(hud->alpha(), 1) << "the hide waits out the minimum show time";
  UITestDriver::settle(0.02);
  EXPECT_EQ(hud->alpha(), 0.02) << "the fade has started 0.8 s later";
  EXPECT_FALSE(hud->showStarted());
  UITestDriver::settle(ProgressHUD::kAnimationDuration);
  EXPECT_EQ(hud->alpha(), 0);
  EXPECT_EQ(watcher->hidden, 1);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(hud->superview(), nullptr);
}

TEST_F(ProgressHUDTest, HideBeforeShowIsDoneAtOnce) {
  auto hud = addHUD();
  int completions = 0;
  hud->setCompletionBlock([&] { ++completions; });
  hud->hide(true);
  EXPECT_EQ(completions, 1);
  hud->hide(false);
  EXPECT_EQ(completions, 1) << "the completion runs once";
}

TEST_F(ProgressHUDTest, IndicatorFollowsTheModeAndARingStaysARing) {
  auto hud = addHUD();
  EXPECT_TRUE(std::dynamic_pointer_cast<platform::ActivityIndicatorView>(hud->indicator()));
  hud->setMode(ProgressHUD::kModeAnnularDeterminate);
  auto ring = std::dynamic_pointer_cast<RoundProgressView>(hud->indicator());
  ASSERT_TRUE(ring);
  EXPECT_TRUE(ring->isAnnular());
  hud->setMode(ProgressHUD::kModeDeterminate);
  EXPECT_EQ(hud->indicator(), ring);
  EXPECT_TRUE(ring->isAnnular());
  hud->setProgress(0.25);
  EXPECT_EQ(ring->progress(), 0.25);
  hud->setMode(ProgressHUD::kModeText);
  EXPECT_EQ(hud->indicator(), nullptr);
  EXPECT_EQ(ring->superview(), nullptr);
  hud->setProgress(0.5);  // nothing takes it: ignored
}

TEST_F(ProgressHUDTest, ViewsHUDsAreFoundAndHiddenTogether) {
  platform::ScopedManualClock clock;
  auto first = ProgressHUD::showHUDAddedTo(screen, false);
  auto second = ProgressHUD::showHUDAddedTo(screen, false);
  EXPECT_EQ(ProgressHUD::HUDForView(*screen), second);
  EXPECT_EQ(ProgressHUD::allHUDsForView(*screen),
            (std::vector<std::shared_ptr<ProgressHUD>>{first, second}));
  EXPECT_EQ(ProgressHUD::hideAllHUDsForView(*screen, true), 2u);
  EXPECT_EQ(screen->subviews().size(), 2u) << "removed when their hiding ends";
  UITestDriver::settle(ProgressHUD::kAnimationDuration);
  EXPECT_TRUE(screen->subviews().empty());
  EXPECT_FALSE(ProgressHUD::hideHUDForView(*screen, true));
}

TEST_F(ProgressHUDTest, ScreenReusesItsOneHUD) {
  std::shared_ptr<ProgressHUD> first;
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto hud = ProgressHUD::reusableHUDForView(screen);
    hud->setLabelText("请稍候");
    hud->show(true);
    if (!first) first = hud;
    EXPECT_EQ(hud, first);
    EXPECT_FALSE(hud->isHidden());
    hud->setHidden(true);
  }
  EXPECT_EQ(ProgressHUD::allHUDsForView(*screen).size(), 1u) << "no pile of HUDs";
  auto cover = View::create(Rect{0, 0, 320, 480});
  screen->addSubview(cover);
  EXPECT_EQ(ProgressHUD::reusableHUDForView(screen), first);
  EXPECT_EQ(screen->subviews().back(), first) << "brought back in front";
}

TEST_F(ProgressHUDTest, TaskOnAQueueEndsWithTheHideOnTheMainThread) {
  auto hud = addHUD();
  std::atomic<bool> ran{false};
  bool completedOnMain = false;
  hud->showAnimated(
      false, [&] { ran = true; },
      [&] { completedOnMain = platform::RunLoop::isMainThread() && ran; });
  EXPECT_TRUE(hud->taskInProgress());
  ASSERT_TRUE(testsupport::runUntil([&] { return completedOnMain; }));
  EXPECT_FALSE(hud->taskInProgress());
  EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(ProgressHUDTest, TaskOnItsOwnThreadReportsProgressThroughTheMainThread) {
  auto hud = addHUD();
  hud->setMode(ProgressHUD::kModeDeterminate);
  auto pie = std::dynamic_pointer_cast<RoundProgressView>(hud->indicator());
  ASSERT_TRUE(pie);
  auto watcher = std::make_shared<Watcher>();
  hud->setDelegate(watcher);
  hud->showWhileExecuting(
      [hud] {
        hud->setProgress(0.75);
        hud->setLabelText("正在下载");
      },
      false);
  ASSERT_TRUE(testsupport::runUntil([&] { return watcher->hidden == 1; }));
  EXPECT_EQ(pie->progress(), 0.75);
  EXPECT_EQ(hud->labelView()->text(), "正在下载");
  EXPECT_FALSE(hud->taskInProgress());
}

TEST_F(ProgressHUDTest, DimmedBackgroundDarkensTheHUDsOwnAreaOnly) {
  auto hud = ProgressHUD::create(Rect{0, 0, 100, 100});
  hud->setDimBackground(true);
  hud->layoutIfNeeded();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 300, 300);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, 2, 2);
  platform::GraphicsContext context(cr);
  hud->drawRect(context, hud->bounds());
  cairo_destroy(cr);
  EXPECT_GT(testsupport::alphaAt(surface, 2, 2), 100u) << "the corners darkened";
  EXPECT_LT(testsupport::alphaAt(surface, 50, 6), testsupport::alphaAt(surface, 2, 2))
      << "lighter towards the middle";
  EXPECT_EQ(testsupport::alphaAt(surface, 120, 120), 0u) << "nothing outside the HUD";
  cairo_surface_destroy(surface);
}

TEST_F(ProgressHUDTest, HUDInAWindowTurnsWithTheInterface) {
  auto anyWay = platform::ViewController::create();
  auto window = platform::Window::create();
  window->setRootViewController(anyWay);
  window->makeKeyAndVisible();
  auto hud = ProgressHUD::create(window);
  window->addSubview(hud);
  EXPECT_TRUE(hud->currentRotationTransform().isIdentity());
  UITestDriver::rotate(platform::DeviceOrientation::LandscapeLeft);
  EXPECT_EQ(hud->currentRotationTransform(), platform::AffineTransform::rotation(M_PI / 2));
  EXPECT_EQ(hud->bounds().size, (Size{480, 320}));
  EXPECT_EQ(hud->frame(), window->bounds()) << "turned, it still covers the window";
}

}  // namespace
