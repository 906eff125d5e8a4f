// The four-tab main screen: its bar's geometry, switching on taps, the first-tab gate, the
// appearance calls it forwards, sliding the bar away and back on the clock, and what a tap on
// the tab already shown does.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"
#include "widgets/MirelTabBarController.h"
#include "widgets/ViewControllerMirelTabBarControllerSupport.h"

using platform::Dictionary;
using platform::Rect;
using platform::UITestDriver;
using platform::ViewController;

namespace {

using Log = std::vector<std::string>;

class Tab : public ViewController {
  CH_SHARED_OBJECT(Tab)

 public:
  void viewWillAppear(bool) override { log_->push_back(name_ + ".willAppear"); }
  void viewDidAppear(bool) override { log_->push_back(name_ + ".didAppear"); }
  void viewWillDisappear(bool) override { log_->push_back(name_ + ".willDisappear"); }
  void viewDidDisappear(bool) override { log_->push_back(name_ + ".didDisappear"); }

 protected:
  Tab(std::string name, Log* log) : name_(std::move(name)), log_(log) {}

 private:
  std::string name_;
  Log* log_;
};

class Delegate : public MirelTabBarControllerDelegate {
 public:
  std::optional<bool> tabBarControllerShouldSelectViewController(MirelTabBarController&,
                                                                 ViewController&) override {
    return allow;
  }
  void tabBarControllerDidSelectViewController(MirelTabBarController& c, ViewController&) override {
    calls.push_back("didSelect " + std::to_string(c.selectedIndex()));
  }
  void tabBarControllerShouldSelectIndex(MirelTabBarController&, unsigned index) override {
    calls.push_back("shouldSelectIndex " + std::to_string(index));
  }
  std::optional<bool> allow;
  Log calls;
};

class MirelTabBarTest : public ::testing::Test {
 protected:
  void SetUp() override { UITestDriver::reset(); }
  void TearDown() override { UITestDriver::reset(); }

  // The login screen's road: four tabs, pushed on a navigation controller in a key window.
  void build(unsigned index, std::vector<std::shared_ptr<ViewController>> screens = {}) {
    if (screens.empty()) {
      for (const char* name : {"my", "local", "log", "set"}) {
        tabs.push_back(Tab::create(name, &log));
        screens.push_back(tabs.back());
      }
    }
    std::vector<Dictionary> images;
    for (const char* icon : {"icon_mycourse", "icon_localcourse", "btn_studylog_s", "icon_setting"})
      images.push_back({{"Default", icon}, {"Highlighted", icon}, {"Seleted", icon}});
    controller = MirelTabBarController::create(screens, images,
                                               {"我的课程", "本地课程", "学习记录", "设置"}, index);
    controller->setDelegate(delegate);
    controller->tabBar()->setBackgroundImage(platform::Image::named("c-2-1.png"));
    login = ViewController::create();
    nav = platform::NavigationController::create(login);
    window = platform::Window::create();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    nav->pushViewController(controller, true);
    EXPECT_EQ(delegate->calls.size(), 1u) << "the first screen shown was reported";
    delegate->calls.clear();
    log.clear();
  }
  std::shared_ptr<platform::Button> button(unsigned i) {
    return controller->tabBar()->buttons()[i];
  }
  // The view on top in the transition view.
  std::shared_ptr<platform::View> shown() {
    return controller->transitionView()->subviews().back();
  }

  Log log;
  std::vector<std::shared_ptr<Tab>> tabs;
  std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
  std::shared_ptr<MirelTabBarController> controller;
  std::shared_ptr<ViewController> login;
  std::shared_ptr<platform::NavigationController> nav;
  std::shared_ptr<platform::Window> window;
};

TEST_F(MirelTabBarTest, BarSitsOnItsRowWithEightyPointButtons) {
  struct Case {
    bool tall;
    double barY;
  };
  for (const Case& c : {Case{false, 367}, Case{true, 455}}) {
    SCOPED_TRACE(c.tall ? "tall" : "short");
    UITestDriver::reset();
    tabs.clear();
    platform::Screen::mainScreen().setTall(c.tall);
    build(0);
    auto bar = controller->tabBar();
    EXPECT_EQ(bar->frame(), Rect(0, c.barY, 320, 49)) << "whatever y the caller gave";
    EXPECT_EQ(controller->view()->bounds().height() - 49, c.barY) << "flush with the bottom";
    ASSERT_EQ(bar->buttons().size(), 4u);
    Rect icons[] = {{33, 10, 15, 19}, {31, 11, 18, 18}, {33, 11, 13, 13}, {33, 11, 14, 14}};
    for (unsigned i = 0; i < 4; ++i) {
      EXPECT_EQ(button(i)->frame(), Rect(80.0 * i, 0, 80, 49));
      EXPECT_EQ(button(i)->tag(), static_cast<int>(i));
      auto icon = std::dynamic_pointer_cast<platform::ImageView>(button(i)->subviews()[2]);
      ASSERT_TRUE(icon);
      EXPECT_EQ(icon->frame(), icons[i]);
      EXPECT_FALSE(icon->image()->isMissing());
    }
    EXPECT_EQ(bar->buttonBgView()->frame(), Rect(10, 0, 60, 49));
    EXPECT_EQ(bar->backgroundView()->backgroundColor(), MirelTabBar::kBackgroundColor)
        << "any background image gives the orange";
    EXPECT_EQ(controller->transitionView()->frame(),
              Rect(0, 0, 320, platform::Screen::mainScreen().applicationFrame().height() - 44));
  }
}

TEST_F(MirelTabBarTest, TappingAnotherTabSwitchesAndMovesTheHighlight) {
  build(0);
  EXPECT_EQ(shown(), tabs[0]->view());
  EXPECT_TRUE(button(0)->isSelected());
  EXPECT_FALSE(button(0)->isUserInteractionEnabled()) << "the selected tab takes no touches";
  UITestDriver::tap(button(2));
  EXPECT_EQ(controller->selectedIndex(), 2u);
  EXPECT_EQ(shown(), tabs[2]->view());
  EXPECT_EQ(tabs[2]->view()->frame(), controller->transitionView()->frame());
  EXPECT_TRUE(button(2)->isSelected());
  EXPECT_FALSE(button(2)->isUserInteractionEnabled());
  EXPECT_TRUE(button(0)->isUserInteractionEnabled());
  EXPECT_EQ(controller->tabBar()->buttonBgView()->frame(), Rect(170, 0, 60, 49));
  EXPECT_EQ(log, (Log{"log.willAppear", "log.didAppear"}));
  EXPECT_EQ(delegate->calls, (Log{"didSelect 2"}));

  UITestDriver::tap(button(0));
  EXPECT_EQ(controller->transitionView()->subviews().size(), 2u)
      << "a tab shown before is brought to the front, not added twice";
  EXPECT_EQ(shown(), tabs[0]->view());
  std::string why;
  EXPECT_FALSE(UITestDriver::tryTap(button(0), &why)) << "the shown tab cannot be tapped";
}

TEST_F(MirelTabBarTest, GateCreatedWithIndexOneOnlyAsksTheDelegateForTheFirstTab) {
  build(1);
  EXPECT_EQ(controller->selectedIndex(), 1u);
  EXPECT_EQ(shown(), tabs[1]->view()) << "the second screen shows first";
  EXPECT_EQ(controller->tabBar()->buttonBgView()->frame().x(), 90);

  UITestDriver::tap(button(0));
  EXPECT_EQ(delegate->calls, (Log{"shouldSelectIndex 0"}));
  EXPECT_EQ(controller->selectedIndex(), 1u);
  EXPECT_EQ(shown(), tabs[1]->view());
  EXPECT_FALSE(button(0)->isSelected());
  EXPECT_EQ(controller->tabBar()->buttonBgView()->frame().x(), 90) << "the highlight stays";

  UITestDriver::tap(button(2));
  EXPECT_EQ(controller->selectedIndex(), 2u);
  delegate->calls.clear();
  UITestDriver::tap(button(0));
  EXPECT_EQ(delegate->calls, (Log{"shouldSelectIndex 0"})) << "still gated";
  EXPECT_EQ(controller->selectedIndex(), 2u);
}

TEST_F(MirelTabBarTest, DelegateCanStopASwitch) {
  build(0);
  delegate->allow = false;
  UITestDriver::tap(button(3));
  EXPECT_EQ(controller->selectedIndex(), 0u);
  EXPECT_EQ(shown(), tabs[0]->view());
}

TEST_F(MirelTabBarTest, ReportOfTheShownTabPopsOnlyANavigationTab) {
  auto deeper = ViewController::create();
  auto tabNav = platform::NavigationController::create(ViewController::create());
  tabNav->pushViewController(deeper, false);
  auto plain = Tab::create("plain", &log);
  build(0, {plain, tabNav, Tab::create("c", &log), Tab::create("d", &log)});
  // Shown and reported again: a plain screen has nowhere to go back to.
  controller->tabBar(*controller->tabBar(), 0);
  EXPECT_EQ(controller->selectedIndex(), 0u);
  EXPECT_EQ(shown(), plain->view());

  UITestDriver::tap(button(1));
  ASSERT_EQ(tabNav->viewControllers().size(), 2u);
  controller->tabBar(*controller->tabBar(), 1);
  EXPECT_EQ(tabNav->viewControllers().size(), 1u) << "a navigation tab goes back to its root";
}

TEST_F(MirelTabBarTest, ShownTabHearsTheMainScreenComingBackOnTop) {
  build(0);
  auto detail = ViewController::create();
  nav->pushViewController(detail, true);
  EXPECT_EQ(log, (Log{"my.willDisappear", "my.didDisappear"}));
  log.clear();
  nav->popViewControllerAnimated(true);
  EXPECT_EQ(log, (Log{"my.didAppear"})) << "viewWillAppear is not forwarded";
}

TEST_F(MirelTabBarTest, HidingTheBarMovesItDownOnceAndShowingBringsItBack) {
  platform::ScopedManualClock clock;
  build(0);
  auto bar = controller->tabBar();
  controller->hidesTabBar(true, true);
  EXPECT_EQ(bar->frame().y(), 416);
  controller->hidesTabBar(true, true);
  EXPECT_EQ(bar->frame().y(), 416) << "hiding twice moves it once";
  UITestDriver::settle(MirelTabBarController::kHideDuration);
  controller->hidesTabBar(false, false);
  EXPECT_EQ(bar->frame().y(), 367);
  controller->hidesTabBar(false, true);
  EXPECT_EQ(bar->frame().y(), 367);
  controller->hidesTabBar(true, true, 1);
  EXPECT_EQ(bar->frame().y(), 367) << "the form with a direction does nothing";
}

TEST_F(MirelTabBarTest, TabsFollowTheImageDictionaries) {
  std::vector<Dictionary> images{{{"Default", "icon_mycourse"}}, {{"Default", "icon_setting"}}};
  auto two = MirelTabBarController::create({ViewController::create(), ViewController::create()},
                                           images, {"一", "二", "三"}, 0);
  EXPECT_EQ(two->tabBar()->buttons().size(), 2u) << "one tab per dictionary";
  auto untitled = MirelTabBarController::create(
      {ViewController::create(), ViewController::create()}, images, {"一"}, 0);
  EXPECT_EQ(untitled->tabBar()->buttons().size(), 2u) << "a missing title shows none";
  EXPECT_EQ(
      ViewControllerMirelTabBarControllerSupport::mirelTabBarController(*ViewController::create()),
      untitled)
      << "any screen reaches the most recent one";
}

TEST_F(MirelTabBarTest, TabsCanBeInsertedAndRemoved) {
  build(0);
  auto bar = controller->tabBar();
  controller->removeViewControllerAtIndex(1);
  ASSERT_EQ(bar->buttons().size(), 3u);
  EXPECT_EQ(controller->viewControllers().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(bar->buttons()[i]->tag(), i);
    EXPECT_NEAR(bar->buttons()[i]->frame().x(), 320.0 / 3 * i, 1e-9);
  }
  controller->insertViewController(
      Tab::create("new", &log), {{"Default", "icon_localcourse"}, {"Seleted", "icon_setting"}}, 1);
  ASSERT_EQ(bar->buttons().size(), 4u);
  EXPECT_EQ(bar->buttons()[1]->frame(), Rect(80, 0, 80, 49));
  EXPECT_EQ(bar->buttons()[3]->tag(), 3);
  bar->buttons()[1]->setSelected(true);
  EXPECT_EQ(bar->buttons()[1]->currentImage(), platform::Image::named("icon_setting"));
  controller->setTabBarTransparent(true);
  EXPECT_EQ(controller->transitionView()->frame(), controller->containerView()->bounds());
  EXPECT_FALSE(controller->tabBarTransparent());
}

}  // namespace
