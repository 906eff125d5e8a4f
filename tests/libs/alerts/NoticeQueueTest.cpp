// The alert and notice queue on the manual clock: one alert on screen at a time, the next one
// 0.4 s after the shown one's dismissal began, the screens' notices laid out in their box, the
// button alert's taps, and dismissing the alert on screen.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "alerts/AlertsNotifications.h"
#include "alerts/NoticeHUDView.h"
#include "alerts/ViewAnimations.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"

using platform::Font;
using platform::Rect;
using platform::Size;
using platform::UITestDriver;
using platform::View;

namespace {

// A landscape-only screen, as the lecture player is.
class Player : public platform::ViewController {
  CH_SHARED_OBJECT(Player)

 public:
  unsigned supportedInterfaceOrientations() const override {
    return platform::InterfaceOrientationMask::Landscape;
  }

 protected:
  Player() = default;
};

class NoticeQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    NoticeAlertView::discardAll();
    screen = platform::ViewController::create();
    nav = platform::NavigationController::create(screen);
    window = platform::Window::create();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    token = platform::NotificationCenter::defaultCenter().addObserver(
        "", [this](const platform::Notification& n) {
          if (n.name.rfind("NoticeAlertView", 0) == 0) posted.push_back(n.name);
        });
  }
  void TearDown() override {
    token.reset();
    NoticeAlertView::discardAll();
    UITestDriver::reset();
  }
  // Whether the notice's view hangs in the window and is drawn.
  static bool onScreen(const std::shared_ptr<NoticeAlertView>& alert) {
    return alert->isViewLoaded() && alert->view()->window() && alert->view()->alpha() > 0;
  }

  platform::ScopedManualClock clock;
  std::shared_ptr<platform::ViewController> screen;
  std::shared_ptr<platform::NavigationController> nav;
  std::shared_ptr<platform::Window> window;
  platform::ObserverToken token;
  std::vector<std::string> posted;
};

TEST_F(NoticeQueueTest, SecondTwoSecondNoticeComesUpAtTwoPointFour) {
  auto first = NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true);
  auto second = NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true);
  EXPECT_TRUE(onScreen(first));
  EXPECT_FALSE(second->isViewLoaded());
  EXPECT_EQ(NoticeAlertView::alertList().size(), 2u);
  EXPECT_EQ(NoticeAlertView::displayQueue(),
            (std::vector<std::shared_ptr<NoticeAlertView>>{second}));
  UITestDriver::settle(2.0);
  EXPECT_TRUE(first->pendingDismissal()) << "its timer fired";
  EXPECT_FALSE(NoticeAlertView::alertIsVisible());
  UITestDriver::settle(0.15);
  EXPECT_EQ(first->view()->alpha(), 0) << "faded from 0.15 s";
  UITestDriver::settle(0.24);
  EXPECT_FALSE(second->isViewLoaded()) << "still waiting at 2.39 s";
  UITestDriver::settle(0.02);
  EXPECT_EQ(first->view()->superview(), nullptr) << "removed at 2.4 s";
  EXPECT_TRUE(onScreen(second));
  EXPECT_EQ(NoticeAlertView::currentAlert(), second);
  UITestDriver::settle(1.98);
  EXPECT_FALSE(second->pendingDismissal()) << "its own 2 s started when it came up";
  UITestDriver::settle(0.02);
  EXPECT_TRUE(second->pendingDismissal());
  UITestDriver::settle(0.4);
  EXPECT_TRUE(NoticeAlertView::alertList().empty());
  EXPECT_TRUE(NoticeAlertView::dismissQueue().empty());
  EXPECT_TRUE(posted.empty()) << "no notifications for notices";
}

TEST_F(NoticeQueueTest, NoticeMadeDuringADismissalWaitsForTheRemoval) {
  auto first = NoticeHUDView::hudWithBody("没有视频可以切换", 0, 2.0, true);
  UITestDriver::settle(2.1);
  auto late = NoticeHUDView::hudWithBody("没有视频可以切换", 0, 2.0, true);
  EXPECT_FALSE(late->isViewLoaded());
  UITestDriver::settle(0.29);
  EXPECT_FALSE(late->isViewLoaded()) << "the first is removed at 2.4 s";
  UITestDriver::settle(0.02);
  EXPECT_TRUE(onScreen(late));
}

TEST_F(NoticeQueueTest, ExclamationNoticeStacksTheGlyphAboveTheBodyInTheMiddle) {
  auto hud = NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true);
  EXPECT_EQ(hud->hudType(), 4) << "type 3 is never kept";
  auto glyph = hud->iconLabel();
  EXPECT_EQ(glyph->text(), "!");
  EXPECT_EQ(glyph->font(), Font::boldSystemFont(60));
  EXPECT_EQ(hud->view()->superview(), nav->view()) << "the key window's first subview";
  Rect box = hud->box()->frame();
  EXPECT_EQ(box.size, (Size{125, 125}));
  EXPECT_EQ(box.center(), hud->view()->bounds().center());
  auto body = hud->bodyLabelButton();
  EXPECT_EQ(body->frame().y(), glyph->frame().maxY()) << "directly below the glyph";
  double pile = glyph->frame().height() + body->frame().height();
  EXPECT_DOUBLE_EQ(glyph->frame().y(), box.y() + 62.5 - pile / 2) << "the pair centred in the box";
  EXPECT_DOUBLE_EQ(glyph->frame().midX(), 160);
  EXPECT_DOUBLE_EQ(body->frame().midX(), 160);
  Size text = platform::TextMeasurer::sizeOfLine("请检查网络", hud->bodyFont());
  EXPECT_EQ(body->frame().size, text);
}

TEST_F(NoticeQueueTest, BodyTooWideForTheBoxKeepsElevenPoints) {
  auto hud = NoticeHUDView::hudWithBody(std::string(60, 'W'), 0, 2.0, true);
  EXPECT_EQ(hud->bodyFont().pointSize(), 11);
  EXPECT_GT(hud->bodyLabelButton()->frame().width(), 125) << "one line, sticking out of the box";
  auto fits = NoticeHUDView::hudWithBody("确定", 0, 2.0, false);
  fits->view();
  EXPECT_EQ(fits->bodyFont().pointSize(), 26);
}

TEST_F(NoticeQueueTest, NoticeWithoutDelayStaysUntilDismissed) {
  auto hud = NoticeHUDView::hudWithBody("请稍候", 1, 0, true);
  ASSERT_TRUE(hud->activityIndicator());
  EXPECT_EQ(hud->activityIndicator()->frame().size, (Size{50, 50}));
  EXPECT_TRUE(hud->activityIndicator()->hasGlow());
  EXPECT_EQ(hud->activityIndicator()->speed(), 0.55);
  EXPECT_EQ(hud->hideTimer(), nullptr);
  UITestDriver::settle(30);
  EXPECT_TRUE(onScreen(hud));
  NoticeAlertView::dismissCurrentHUD();
  UITestDriver::settle(0.4);
  EXPECT_FALSE(hud->view()->window());
}

TEST_F(NoticeQueueTest, DismissCurrentHUDTakesTheAlertOnScreenAndNothingWhenNone) {
  NoticeAlertView::dismissCurrentHUD();  // nothing queued: nothing happens
  auto shown = NoticeHUDView::hudWithBody("请稍候", 2, 0, true);
  auto waiting = NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true);
  ASSERT_TRUE(shown->checkMark());
  EXPECT_EQ(shown->checkMark()->frame().size, (Size{50, 50}));
  NoticeAlertView::dismissCurrentHUD();
  EXPECT_TRUE(shown->pendingDismissal()) << "the one on screen, not the newest queued";
  EXPECT_FALSE(waiting->pendingDismissal());
  UITestDriver::settle(0.4);
  EXPECT_FALSE(shown->view()->window());
  EXPECT_TRUE(onScreen(waiting));
  NoticeAlertView::dismissCurrentHUDAfterDelay(1.0);
  UITestDriver::settle(1.0);
  EXPECT_TRUE(waiting->pendingDismissal());
}

TEST_F(NoticeQueueTest, TappingANoticeChangesNothing) {
  auto hud = NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true);
  UITestDriver::tap(hud->box());
  UITestDriver::settle(1.0);
  EXPECT_FALSE(hud->pendingDismissal());
  EXPECT_TRUE(onScreen(hud));
}

TEST_F(NoticeQueueTest, NoticeNotShownRunsNoTimer) {
  auto hud = NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, false);
  EXPECT_FALSE(NoticeAlertView::alertIsVisible());
  EXPECT_TRUE(NoticeAlertView::alertList().empty());
  UITestDriver::settle(3);
  EXPECT_FALSE(hud->pendingDismissal());
  hud->addToDisplayQueue();
  EXPECT_TRUE(onScreen(hud)) << "the caller may queue it later";
}

TEST_F(NoticeQueueTest, AppearNotificationOnlyForAPlainAlertShownAtOnce) {
  auto alert = NoticeAlertView::alertWithBody("确定要删除吗？", "取消", [] {});
  alert->setSize({280, 240});
  alert->addToDisplayQueue();
  EXPECT_EQ(posted, (std::vector<std::string>{kNoticeAlertViewDidAppearNotification}));
  auto second = NoticeAlertView::alertWithBody("第二个", "确定", nullptr);
  second->setSize({280, 240});
  second->addToDisplayQueue();
  alert->dismiss();
  UITestDriver::settle(0.4);
  EXPECT_TRUE(onScreen(second));
  EXPECT_EQ(posted.size(), 1u) << "none for an alert shown after another's removal";
}

TEST_F(NoticeQueueTest, ButtonAlertRunsItsBlockAndDismisses) {
  std::vector<std::string> ran;
  auto alert = NoticeAlertView::alertWithBody("网络切换到3G是否继续听课?", "不听",
                                              [&] { ran.push_back("cancel"); });
  alert->addButtonWithText(std::string("继续"), 2, [&] { ran.push_back("go on"); });
  alert->setSize({280, 240});
  alert->setShouldPerformBlockAfterDismissal(true);
  alert->addToDisplayQueue();
  const auto& buttons = alert->buttons();
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[1]->alertButtonType(), 2);
  EXPECT_EQ(buttons[0]->frame().y(), buttons[1]->frame().y()) << "one row";
  EXPECT_EQ(buttons[1]->frame().x(), buttons[0]->frame().maxX() + 30);
  EXPECT_DOUBLE_EQ(buttons[0]->frame().x() + 115, 160) << "the row centred";
  EXPECT_EQ(alert->bodyFont().pointSize(), 22);

  UITestDriver::tap(buttons[1]);
  EXPECT_TRUE(ran.empty()) << "the block waits for the removal";
  EXPECT_EQ(posted.back(), kNoticeAlertViewDidDismissNotification);
  UITestDriver::settle(0.12);
  EXPECT_TRUE(alert->pendingDismissal());
  UITestDriver::settle(0.4);
  EXPECT_EQ(ran, (std::vector<std::string>{"go on"}));
  EXPECT_FALSE(alert->view()->window());
}

TEST_F(NoticeQueueTest, OneButtonAlertAnswersATapOnItsBoxAndIgnoresUnknownTags) {
  int cancelled = 0;
  auto alert = NoticeAlertView::alertWithBody("此课件未下载", "关闭", [&] { ++cancelled; });
  alert->addToDisplayQueue();
  EXPECT_TRUE(alert->isFullScreen() == false) << "the screen's size is kept once shown";
  auto stray = platform::Button::create();
  stray->setTag(7);
  alert->didSelectButton(*stray);
  EXPECT_EQ(cancelled, 0);
  alert->didSelectBackgroundButton();
  EXPECT_EQ(cancelled, 1) << "run at once without waiting for the removal";
  UITestDriver::settle(0.6);
  EXPECT_FALSE(NoticeAlertView::alertIsVisible());
}

TEST_F(NoticeQueueTest, ShowingANoticeClosesTheKeyboard) {
  auto field = platform::TextField::create(Rect{30, 45, 260, 35});
  screen->view()->addSubview(field);
  UITestDriver::tap(field);
  ASSERT_TRUE(field->isFirstResponder());
  NoticeHUDView::hudWithBody("请检查网络", 3, 2.0, true);
  EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(NoticeQueueTest, NoticeOverALandscapeScreenIsCentredOnIt) {
  auto player = Player::create();
  screen->presentViewController(player, true);
  auto hud = NoticeHUDView::hudWithBody("没有视频可以切换", 0, 2.0, true);
  EXPECT_EQ(hud->view()->superview(), player->view());
  Rect box = hud->box()->convertRectToView(hud->box()->bounds(), player->view().get());
  EXPECT_EQ(box.midX(), 240) << "in the middle of the 480-point-wide screen";
  UITestDriver::tap(hud->bodyLabelButton());
  EXPECT_FALSE(hud->pendingDismissal());
}

TEST(ViewAnimationsTest, StackingCentresThePileAndOffsetsPushLaterViewsDown) {
  auto container = View::create(Rect{97.5, 177.5, 125, 125});
  auto a = View::create(Rect{10, 0, 50, 50});
  auto b = View::create(Rect{20, 0, 80, 20});
  struct Case {
    double offsetA, offsetB;
    double topA, topB;
  };
  // Pile 70 high centred on 240: from 205.
  for (const Case& c : {Case{0, 0, 205, 255}, Case{0, 10, 205, 265}, Case{6, 0, 211, 261}}) {
    ViewAnimations::centerViewsVerticallyWithin(*container, {{a, c.offsetA}, {b, c.offsetB}});
    EXPECT_EQ(a->frame(), Rect(10, c.topA, 50, 50));
    EXPECT_EQ(b->frame(), Rect(20, c.topB, 80, 20));
  }
}

TEST(ViewAnimationsTest, LayerAnimationsUnderTheirKeys) {
  platform::ScopedManualClock clock;
  auto view = View::create(Rect{0, 0, 10, 10});
  ViewAnimations::addPulsingAnimation(*view);
  EXPECT_TRUE(ViewAnimations::hasPulseAnimation(*view));
  EXPECT_TRUE(view->layer().animationForKey("pulse")->autoreverses);
  ViewAnimations::removePulseAnimation(*view);
  EXPECT_FALSE(ViewAnimations::hasPulseAnimation(*view));
  ViewAnimations::animationPop(*view);
  EXPECT_EQ(view->layer().animationForKey("popup")->values, (std::vector<double>{1, 1.35, 0.8, 1}));
  ViewAnimations::addFadingAnimation(*view);
  EXPECT_EQ(view->layer().animationForKey("reloadAnimation")->duration, 0.5);
  UITestDriver::settle(0.5);
  EXPECT_TRUE(view->layer().animationKeys().empty()) << "both removed on completion";
}

}  // namespace
