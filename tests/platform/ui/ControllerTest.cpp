// Screens coming and going: lazy views, window roots, modal presentation, navigation stacks
// built off screen, and the application's life cycle with its notifications.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

using Log = std::vector<std::string>;

class Screen : public ViewController {
  CH_SHARED_OBJECT(Screen)

 public:
  void viewDidLoad() override { log_->push_back(name_ + ".load"); }
  void viewWillAppear(bool) override { log_->push_back(name_ + ".willAppear"); }
  void viewDidAppear(bool) override { log_->push_back(name_ + ".didAppear"); }
  void viewWillDisappear(bool) override { log_->push_back(name_ + ".willDisappear"); }
  void viewDidDisappear(bool) override { log_->push_back(name_ + ".didDisappear"); }
  std::string name_;
  Log* log_;

 protected:
  Screen(std::string name, Log* log) : name_(std::move(name)), log_(log) {}
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { UITestDriver::reset(); }
  void TearDown() override { UITestDriver::reset(); }
  // `root` on a window that is shown and key.
  static std::shared_ptr<Window> showOnWindow(const std::shared_ptr<ViewController>& root) {
    auto window = Window::create();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    return window;
  }
  Log log;
};

TEST_F(ControllerTest, ViewLoadsOnFirstUseAndRootAppearsWhenTheWindowShows) {
  auto a = Screen::create("A", &log);
  EXPECT_FALSE(a->isViewLoaded());
  auto window = Window::create();
  window->setRootViewController(a);
  EXPECT_EQ(log, (Log{"A.load"})) << "no appearance while the window is hidden";
  window->makeKeyAndVisible();
  EXPECT_EQ(log, (Log{"A.load", "A.willAppear", "A.didAppear"}));
  EXPECT_EQ(a->view()->frame(), Rect(0, 20, 320, 460)) << "below the status bar";
  EXPECT_EQ(Application::sharedApplication().keyWindow(), window);

  log.clear();
  auto b = Screen::create("B", &log);
  window->setRootViewController(b);
  EXPECT_EQ(log,
            (Log{"B.load", "A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear"}));
}

TEST_F(ControllerTest, ModalPresentationCoversTheScreenAndDismissRestoresIt) {
  auto a = Screen::create("A", &log);
  auto nav = NavigationController::create(a);
  auto window = Window::create();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  log.clear();
  UIRecorder recorder;
  auto player = Screen::create("P", &log);
  bool completed = false;
  a->presentViewController(player, true, [&] { completed = true; });
  EXPECT_TRUE(completed);
  EXPECT_EQ(log,
            (Log{"P.load", "A.willDisappear", "P.willAppear", "A.didDisappear", "P.didAppear"}));
  EXPECT_EQ(nav->presentedViewController(), player) << "the container presents";
  EXPECT_EQ(player->presentingViewController(), nav);
  EXPECT_EQ(nav->visibleViewController(), player);
  EXPECT_EQ(window->hitTest({100, 300}), player->view());

  auto other = Screen::create("Q", &log);
  a->presentViewController(other, false);
  EXPECT_EQ(nav->presentedViewController(), player) << "a second presentation is ignored";

  log.clear();
  player->dismissViewControllerAnimated(true);
  EXPECT_EQ(log, (Log{"P.willDisappear", "A.willAppear", "P.didDisappear", "A.didAppear"}));
  EXPECT_EQ(nav->presentedViewController(), nullptr);
  EXPECT_EQ(player->view()->window(), nullptr);
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"present Screen", "present ignored Screen",
                                                        "dismiss Screen"}));
}

TEST_F(ControllerTest, StackBuiltOffScreenShowsItsTopWhenItAppears) {
  auto a = Screen::create("A", &log);
  auto b = Screen::create("B", &log);
  auto nav = NavigationController::create(a);
  nav->pushViewController(b, false);
  EXPECT_TRUE(log.empty()) << "nothing loads or appears off screen";
  auto window = Window::create();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  EXPECT_EQ(log, (Log{"B.load", "B.willAppear", "B.didAppear"}));
  EXPECT_EQ(b->view()->frame(), Rect(0, 44, 320, 416)) << "under the 44-point bar";

  log.clear();
  auto popped = nav->popToRootViewControllerAnimated(true);
  EXPECT_EQ(popped, (std::vector<std::shared_ptr<ViewController>>{b}));
  EXPECT_EQ(log,
            (Log{"A.load", "B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
  nav->setNavigationBarHidden(true);
  EXPECT_EQ(a->view()->frame(), Rect(0, 0, 320, 460));
}

TEST_F(ControllerTest, NavigationBarShowsTheTopItem) {
  auto a = Screen::create("A", &log);
  auto nav = NavigationController::create(a);
  auto window = Window::create();
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto title = View::create(Rect{550, 0, 100, 44});
  auto back = View::create(Rect{0, 0, 44, 44});
  auto b = Screen::create("B", &log);
  b->navigationItem().setTitleView(title);
  b->navigationItem().setLeftBarButtonItem(std::make_shared<BarButtonItem>(back));
  nav->pushViewController(b, true);
  EXPECT_EQ(title->superviewPointer(), nav->navigationBar().get());
  EXPECT_EQ(title->frame(), Rect(110, 0, 100, 44)) << "the bar centres its title view";
  EXPECT_EQ(back->frame().x(), 5);
  EXPECT_EQ(nav->navigationBar()->backButton(), nullptr) << "a left item replaces the back button";
}

TEST_F(ControllerTest, FullScreenPresentationTakesThePresentingViewOutOfTheWindowUntilDismissed) {
  auto a = Screen::create("A", &log);
  auto nav = NavigationController::create(a);
  auto window = showOnWindow(nav);
  auto player = Screen::create("P", &log);
  a->presentViewController(player, true);
  ASSERT_EQ(window->subviews().size(), 1u);
  EXPECT_EQ(window->subviews().front(), player->view())
      << "the key window's first subview is the screen on show";
  EXPECT_EQ(nav->view()->window(), nullptr);

  auto notice = View::create(Rect{100, 100, 125, 125});
  window->subviews().front()->addSubview(notice);
  EXPECT_EQ(window->hitTest({160, 160}), notice) << "a notice put there is on top and tappable";

  auto over = Screen::create("Q", &log);
  player->presentViewController(over, false);
  EXPECT_EQ(window->subviews(), (std::vector<std::shared_ptr<View>>{over->view()}));
  over->dismissViewControllerAnimated(false);
  EXPECT_EQ(window->subviews(), (std::vector<std::shared_ptr<View>>{player->view()}));

  player->dismissViewControllerAnimated(true);
  EXPECT_EQ(window->subviews(), (std::vector<std::shared_ptr<View>>{nav->view()}));
  EXPECT_EQ(nav->view()->frame(), Rect(0, 20, 320, 460));
}

TEST_F(ControllerTest, NavigationBarFollowsLaterChangesOfTheItemItShows) {
  auto a = Screen::create("A", &log);
  auto nav = NavigationController::create(a);
  auto window = showOnWindow(nav);
  auto bar = nav->navigationBar();
  a->setTitle("课程详情");
  EXPECT_EQ(bar->titleLabel()->text(), "课程详情");
  EXPECT_EQ(bar->titleLabel()->superviewPointer(), bar.get());

  auto title = View::create(Rect{0, 0, 150, 44});
  a->navigationItem().setTitleView(title);
  EXPECT_EQ(title->superviewPointer(), bar.get());
  EXPECT_EQ(bar->titleLabel()->superviewPointer(), nullptr);
  EXPECT_EQ(title->frame(), Rect(85, 0, 150, 44));

  int pressed = 0;
  a->navigationItem().setRightBarButtonItem(
      std::make_shared<BarButtonItem>("保存", BarButtonItem::Style::Plain, [&] { ++pressed; }));
  auto right = bar->subviews().back();
  UITestDriver::tap(right);
  EXPECT_EQ(pressed, 1);

  auto b = Screen::create("B", &log);
  nav->pushViewController(b, false);
  a->setTitle("不再显示");
  EXPECT_NE(bar->titleLabel()->text(), "不再显示") << "an item no longer shown is not followed";
  EXPECT_EQ(bar->topItem(), b->sharedNavigationItem());
}

TEST_F(ControllerTest, StandAloneBarOwnsTheItemsItShows) {
  auto a = Screen::create("A", &log);
  auto window = showOnWindow(a);
  auto bar = NavigationBar::create(Rect{0, 0, 480, 44});
  a->view()->addSubview(bar);
  std::weak_ptr<NavigationItem> weakItem;
  {
    auto item = std::make_shared<NavigationItem>("");
    auto back = View::create(Rect{0, 0, 44, 44});
    item->setLeftBarButtonItem(std::make_shared<BarButtonItem>(back));
    bar->pushNavigationItem(item, false);
    weakItem = item;
  }
  ASSERT_FALSE(weakItem.expired()) << "the bar keeps its item";
  EXPECT_EQ(bar->topItem(), weakItem.lock());
  weakItem.lock()->setTitle("第一讲");
  EXPECT_EQ(bar->titleLabel()->text(), "第一讲");

  bar->pushNavigationItem(std::make_shared<NavigationItem>("讲义"), false);
  ASSERT_TRUE(bar->backButton());
  EXPECT_EQ(bar->backButton()->currentTitle(), "第一讲");
  UITestDriver::tap(bar->backButton());
  EXPECT_EQ(bar->items().size(), 1u);
  EXPECT_EQ(bar->titleLabel()->text(), "第一讲");
  EXPECT_EQ(bar->popNavigationItemAnimated(false), nullptr) << "the last item stays";
}

class LifeCycle : public ApplicationDelegate {
 public:
  explicit LifeCycle(Log* log) : log_(log) {}
  bool didFinishLaunchingWithOptions(Application&, const Dictionary&) override {
    log_->push_back("launch");
    return true;
  }
  void applicationDidBecomeActive(Application&) override { log_->push_back("active"); }
  void applicationWillResignActive(Application&) override { log_->push_back("resign"); }
  void applicationDidEnterBackground(Application&) override { log_->push_back("background"); }
  void applicationWillEnterForeground(Application&) override { log_->push_back("foreground"); }
  void applicationWillTerminate(Application&) override { log_->push_back("terminate"); }
  Log* log_;
};

TEST_F(ControllerTest, ApplicationLifeCycleTellsTheDelegateAndPostsNotifications) {
  auto token = NotificationCenter::defaultCenter().addObserver("", [this](const Notification& n) {
    if (n.name.rfind("UIApplication", 0) == 0) log.push_back(n.name);
  });
  auto& app = Application::sharedApplication();
  EXPECT_TRUE(app.launch(std::make_shared<LifeCycle>(&log)));
  app.enterBackground();
  EXPECT_EQ(app.applicationState(), Application::State::Background);
  app.enterForeground();
  app.terminate();
  EXPECT_EQ(log, (Log{"launch", kApplicationDidFinishLaunchingNotification, "active",
                      kApplicationDidBecomeActiveNotification, "resign",
                      kApplicationWillResignActiveNotification, "background",
                      kApplicationDidEnterBackgroundNotification, "foreground",
                      kApplicationWillEnterForegroundNotification, "active",
                      kApplicationDidBecomeActiveNotification, "terminate",
                      kApplicationWillTerminateNotification}));
}

TEST_F(ControllerTest, ApplicationKeepsFlagsAndOpenedUrls) {
  auto& app = Application::sharedApplication();
  app.setIdleTimerDisabled(true);
  EXPECT_TRUE(app.isIdleTimerDisabled());
  EXPECT_TRUE(app.openURL("itms-apps://itunes.example/app/id1"));
  EXPECT_FALSE(app.openURL("no scheme"));
  EXPECT_EQ(app.openedURLs(), (std::vector<std::string>{"itms-apps://itunes.example/app/id1"}));
  UITestDriver::reset();
  EXPECT_FALSE(Application::sharedApplication().isIdleTimerDisabled());
}

TEST_F(ControllerTest, TextHeightGrowsWithWrappingAndIsZeroForNoText) {
  EXPECT_EQ(TextMeasurer::heightForString(std::nullopt, 13, 300), 0);
  double one = TextMeasurer::heightForString("学习记录", 13, 300);
  EXPECT_GT(one, 13);
  EXPECT_LT(one, 26);
  std::string longer;
  for (int i = 0; i < 60; ++i) longer += "学";
  double many = TextMeasurer::heightForString(longer, 13, 300);
  EXPECT_GE(many, 3 * one - 1) << "sixty 13-point characters need at least three lines of 300";
  EXPECT_LT(TextMeasurer::fittingFontSize(longer, Font::boldSystemFont(26), 11, 96), 26);
  EXPECT_EQ(TextMeasurer::fittingFontSize(longer, Font::boldSystemFont(26), 11, 96), 11)
      << "too wide even at the minimum keeps the minimum";
  EXPECT_EQ(TextMeasurer::fittingFontSize("!", Font::boldSystemFont(26), 11, 96), 26);
}

}  // namespace
}  // namespace platform
