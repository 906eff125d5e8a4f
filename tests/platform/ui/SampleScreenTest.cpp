// A small sample screen, built here, driven the way screen tests drive the application's
// screens: navigation with its appearance calls, taps that reach or miss their targets, a
// sectioned table through its data source, alerts answered by index and animations that finish
// on the manual clock.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

using Log = std::vector<std::string>;

class SampleScreen : public ViewController,
                     public TableViewDataSource,
                     public TableViewDelegate,
                     public AlertViewDelegate,
                     public NavigationControllerDelegate {
  CH_SHARED_OBJECT(SampleScreen)

 public:
  void viewDidLoad() override {
    log_->push_back(name_ + ".viewDidLoad");
    view()->setBackgroundColor(Color::whiteColor());
    button = Button::create(Rect{20, 20, 120, 40});
    button->setTitle(std::string("下一步"));
    button->addTarget(std::static_pointer_cast<SampleScreen>(shared_from_this()),
                      &SampleScreen::next, ControlEvent::TouchUpInside);
    view()->addSubview(button);
    table = TableView::create(Rect{0, 80, 320, 300});
    table->setDataSource(std::dynamic_pointer_cast<TableViewDataSource>(shared_from_this()));
    table->setDelegate(std::dynamic_pointer_cast<TableViewDelegate>(shared_from_this()));
    view()->addSubview(table);
  }
  void viewWillAppear(bool) override { log_->push_back(name_ + ".viewWillAppear"); }
  void viewDidAppear(bool) override { log_->push_back(name_ + ".viewDidAppear"); }
  void viewWillDisappear(bool) override { log_->push_back(name_ + ".viewWillDisappear"); }
  void viewDidDisappear(bool) override { log_->push_back(name_ + ".viewDidDisappear"); }

  void next() { ++taps; }

  std::optional<int> numberOfSectionsInTableView(TableView&) override {
    return static_cast<int>(sections.size());
  }
  int numberOfRowsInSection(TableView&, int section) override {
    return static_cast<int>(sections[section].size());
  }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t,
                                                       const IndexPath& path) override {
    auto cell = t.dequeueReusableCellWithIdentifier("Row");
    if (!cell) {
      cell = TableViewCell::create(TableViewCellStyle::Default, "Row");
      ++cellsMade;
    }
    cell->textLabel()->setText(sections[path.section][path.row]);
    return cell;
  }
  std::optional<double> heightForHeaderInSection(TableView&, int) override { return 30; }
  std::shared_ptr<View> viewForHeaderInSection(TableView&, int section) override {
    auto header = Label::create(Rect{0, 0, 320, 30});
    header->setText("section " + std::to_string(section));
    header->setTag(100 + section);
    return header;
  }
  void didSelectRowAtIndexPath(TableView&, const IndexPath& path) override {
    selected.push_back(path);
  }

  void alertViewClickedButtonAtIndex(AlertView& alert, int index) override {
    answers.push_back({alert.tag(), index});
  }

  void navigationControllerWillShowViewController(NavigationController&, ViewController& c,
                                                  bool) override {
    log_->push_back("willShow " + *c.title());
  }
  void navigationControllerDidShowViewController(NavigationController&, ViewController& c,
                                                 bool) override {
    log_->push_back("didShow " + *c.title());
  }

  std::string name_;
  Log* log_;
  std::shared_ptr<Button> button;
  std::shared_ptr<TableView> table;
  std::vector<std::vector<std::string>> sections{{"一", "二"}, {"三"}};
  std::vector<IndexPath> selected;
  std::vector<std::pair<int, int>> answers;
  int taps = 0;
  int cellsMade = 0;

 protected:
  SampleScreen(std::string name, Log* log) : name_(std::move(name)), log_(log) { setTitle(name_); }
};

class SampleScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    home = SampleScreen::create("Home", &log);
    nav = NavigationController::create(home);
    window = Window::create();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
  }
  void TearDown() override { UITestDriver::reset(); }

  Log log;
  std::shared_ptr<SampleScreen> home;
  std::shared_ptr<NavigationController> nav;
  std::shared_ptr<Window> window;
};

TEST_F(SampleScreenTest, PushAndPopCallAppearanceInOrder) {
  EXPECT_EQ(log, (Log{"Home.viewDidLoad", "Home.viewWillAppear", "Home.viewDidAppear"}));
  nav->setDelegate(home);
  UIRecorder recorder;
  log.clear();
  auto detail = SampleScreen::create("Detail", &log);
  nav->pushViewController(detail, true);
  EXPECT_EQ(log, (Log{"Detail.viewDidLoad", "willShow Detail", "Home.viewWillDisappear",
                      "Detail.viewWillAppear", "Home.viewDidDisappear", "Detail.viewDidAppear",
                      "didShow Detail"}));
  EXPECT_EQ(nav->topViewController(), detail);
  EXPECT_EQ(detail->navigationController(), nav);
  EXPECT_TRUE(detail->view()->isVisibleOnScreen());
  EXPECT_FALSE(home->view()->window());

  log.clear();
  EXPECT_EQ(nav->popViewControllerAnimated(true), detail);
  EXPECT_EQ(log, (Log{"willShow Home", "Detail.viewWillDisappear", "Home.viewWillAppear",
                      "Detail.viewDidDisappear", "Home.viewDidAppear", "didShow Home"}));
  EXPECT_EQ(detail->navigationController(), nullptr);
  EXPECT_EQ(nav->popViewControllerAnimated(true), nullptr) << "the root is never popped";
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"push SampleScreen", "pop SampleScreen"}));
}

TEST_F(SampleScreenTest, PushingTheSameScreenTwiceRaises) {
  auto detail = SampleScreen::create("Detail", &log);
  nav->pushViewController(detail, false);
  try {
    nav->pushViewController(detail, false);
    FAIL() << "expected an exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
  }
  EXPECT_EQ(nav->viewControllers().size(), 2u);
}

TEST_F(SampleScreenTest, BackButtonOfTheBarPops) {
  auto detail = SampleScreen::create("Detail", &log);
  nav->pushViewController(detail, false);
  auto back = nav->navigationBar()->backButton();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->currentTitle(), "Home");
  UITestDriver::tap(back);
  EXPECT_EQ(nav->topViewController(), home);
}

TEST_F(SampleScreenTest, TapReachesTheButtonsAction) {
  UITestDriver::tap(home->button);
  EXPECT_EQ(home->taps, 1);
}

TEST_F(SampleScreenTest, TapIsBlockedByAnOverlay) {
  auto overlay = View::create(Rect{0, 0, 320, 200});
  overlay->setBackgroundColor(Color::clearColor());
  home->view()->addSubview(overlay);
  std::string why;
  EXPECT_FALSE(UITestDriver::tryTap(home->button, &why));
  EXPECT_NE(why.find("would go to View(0, 0, 320, 200)"), std::string::npos) << why;
  EXPECT_THROW(UITestDriver::tap(home->button), AssertionFailure);
  EXPECT_EQ(home->taps, 0);
}

// Which overlays over the button let a tap through, as the platform's hit-testing decides.
TEST_F(SampleScreenTest, OverlaysThatDoNotTakeTouchesLetTheTapThrough) {
  struct Case {
    const char* name;
    std::function<void(View&)> setUp;
    bool reachesButton;
  };
  std::vector<Case> cases{
      {"plain overlay", [](View&) {}, false},
      {"hidden overlay", [](View& v) { v.setHidden(true); }, true},
      {"nearly transparent overlay", [](View& v) { v.setAlpha(0.005); }, true},
      {"transparent-coloured overlay", [](View& v) { v.setBackgroundColor(Color::clearColor()); },
       false},
      {"overlay without interaction", [](View& v) { v.setUserInteractionEnabled(false); }, true},
      {"label overlay", [](View&) {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<View> overlay = std::string(c.name) == "label overlay"
                                        ? Label::create(Rect{0, 0, 320, 200})
                                        : View::create(Rect{0, 0, 320, 200});
    c.setUp(*overlay);
    home->view()->addSubview(overlay);
    int before = home->taps;
    EXPECT_EQ(UITestDriver::tryTap(home->button), c.reachesButton);
    EXPECT_EQ(home->taps, before + (c.reachesButton ? 1 : 0));
    overlay->removeFromSuperview();
  }
}

TEST_F(SampleScreenTest, HiddenOrDetachedViewsCannotBeTapped) {
  home->button->setHidden(true);
  std::string why;
  EXPECT_FALSE(UITestDriver::tryTap(home->button, &why));
  EXPECT_NE(why.find("hidden"), std::string::npos) << why;
  auto loose = Button::create(Rect{0, 0, 10, 10});
  EXPECT_FALSE(UITestDriver::tryTap(loose, &why));
  EXPECT_NE(why.find("not in a window"), std::string::npos) << why;
}

TEST_F(SampleScreenTest, TableRealisesSectionsThroughItsDataSource) {
  auto table = home->table;
  EXPECT_EQ(table->numberOfSections(), 2);
  EXPECT_EQ(table->numberOfRowsInSection(0), 2);
  EXPECT_EQ(table->numberOfRowsInSection(1), 1);
  auto visible = table->indexPathsForVisibleRows();
  EXPECT_EQ(visible, (std::vector<IndexPath>{{0, 0}, {0, 1}, {1, 0}}));
  EXPECT_EQ(table->cellForRowAtIndexPath({1, 0})->textLabel()->text(), "三");
  // Header of 30, two rows of 44, then the second section's header.
  EXPECT_EQ(table->rectForRowAtIndexPath({1, 0}), Rect(0, 148, 320, 44));
  EXPECT_EQ(table->headerViewForSection(1)->tag(), 101);

  UITestDriver::selectRow(table, {1, 0});
  EXPECT_EQ(home->selected, (std::vector<IndexPath>{{1, 0}}));
  EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{1, 0}));
  EXPECT_TRUE(table->cellForRowAtIndexPath({1, 0})->isSelected());
}

TEST_F(SampleScreenTest, OnlyVisibleRowsAreRealisedAndCellsAreReused) {
  home->sections = {std::vector<std::string>(100, "行")};
  home->table->reloadData();
  auto visible = home->table->indexPathsForVisibleRows();
  // 300 points show the 30-point header and rows 0 to 6 (the seventh in part).
  ASSERT_EQ(visible.size(), 7u);
  int made = home->cellsMade;
  UITestDriver::selectRow(home->table, {0, 80});
  EXPECT_EQ(home->selected.back(), (IndexPath{0, 80}));
  EXPECT_LE(home->cellsMade, made + 1) << "rows scrolled out are handed out again";
  EXPECT_EQ(home->table->cellForRowAtIndexPath({0, 0}), nullptr);
}

TEST_F(SampleScreenTest, ConsistentUpdatesChangeTheRows) {
  auto table = home->table;
  table->layoutIfNeeded();
  home->sections[0].push_back("四");
  table->beginUpdates();
  table->insertRowsAtIndexPaths({{0, 2}}, TableViewRowAnimation::None);
  table->endUpdates();
  EXPECT_EQ(table->numberOfRowsInSection(0), 3);
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 2})->textLabel()->text(), "四");
  home->sections[1].clear();
  table->deleteRowsAtIndexPaths({{1, 0}}, TableViewRowAnimation::None);
  EXPECT_EQ(table->numberOfRowsInSection(1), 0);
}

TEST_F(SampleScreenTest, InconsistentUpdatesAreRejected) {
  auto table = home->table;
  table->layoutIfNeeded();
  struct Case {
    const char* name;
    std::function<void()> change;
    std::vector<IndexPath> inserts, deletes;
  };
  std::vector<Case> cases{
      {"row added but none inserted", [&] { home->sections[0].push_back("x"); }, {}, {{1, 0}}},
      {"deleting a row that is not there", [] {}, {}, {{1, 5}}},
      {"inserting beyond the new rows", [&] { home->sections[1].push_back("y"); }, {{1, 3}}, {}},
      {"section count changed", [&] { home->sections.push_back({"z"}); }, {{2, 0}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto saved = home->sections;
    c.change();
    table->beginUpdates();
    if (!c.inserts.empty()) table->insertRowsAtIndexPaths(c.inserts, TableViewRowAnimation::None);
    if (!c.deletes.empty()) table->deleteRowsAtIndexPaths(c.deletes, TableViewRowAnimation::None);
    try {
      table->endUpdates();
      ADD_FAILURE() << "the update was accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
    }
    home->sections = saved;
    EXPECT_EQ(table->numberOfRowsInSection(0), 2) << "the table keeps its rows";
    EXPECT_EQ(table->numberOfRowsInSection(1), 1);
  }
}

TEST_F(SampleScreenTest, AlertIsAnsweredByIndexAndBlocksTheScreen) {
  UIRecorder recorder;
  auto alert = AlertView::create(std::string("提示"), std::string("是否退出登录?"), home,
                                 std::string("取消"), std::vector<std::string>{"确定"});
  alert->setTag(1000);
  alert->show();
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].buttons, (std::vector<std::string>{"取消", "确定"}));
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
  EXPECT_FALSE(UITestDriver::tryTap(home->button)) << "the alert takes every touch";
  EXPECT_THROW(UITestDriver::answerAlert(2), AssertionFailure);

  UITestDriver::answerAlert(1);
  EXPECT_EQ(home->answers, (std::vector<std::pair<int, int>>{{1000, 1}}));
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
  EXPECT_THROW(UITestDriver::answerAlert(0), AssertionFailure);
  UITestDriver::tap(home->button);
  EXPECT_EQ(home->taps, 1);
}

TEST_F(SampleScreenTest, AlertButtonsCanBeTappedAndAlertsStack) {
  auto first = AlertView::create(std::string("A"), std::nullopt, home, std::string("确定"));
  first->setTag(1);
  auto second = AlertView::create(std::string("B"), std::nullopt, home, std::nullopt,
                                  std::vector<std::string>{"x", "y", "z"});
  second->setTag(2);
  first->show();
  second->show();
  EXPECT_EQ(UITestDriver::topAlert(), second);
  second->layoutIfNeeded();
  UITestDriver::tap(second->subviews()[2]);
  EXPECT_EQ(home->answers, (std::vector<std::pair<int, int>>{{2, 2}}));
  EXPECT_EQ(UITestDriver::topAlert(), first);
  UITestDriver::answerAlert(0);
  EXPECT_EQ(home->answers.back(), (std::pair<int, int>{1, 0}));
}

TEST_F(SampleScreenTest, AnimationCompletesOnTheManualClock) {
  ScopedManualClock clock;
  bool finished = false;
  View::animate(
      0.3, [&] { home->button->setAlpha(0); }, [&](bool f) { finished = f; }, 0.2);
  EXPECT_EQ(home->button->alpha(), 0) << "the end state applies at once";
  RunLoop::main()->runFor(seconds(0.49));
  EXPECT_FALSE(finished);
  RunLoop::main()->runFor(seconds(0.02));
  EXPECT_TRUE(finished);
}

TEST_F(SampleScreenTest, LayerAnimationIsRemovedAfterItsDuration) {
  ScopedManualClock clock;
  Animation pop;
  pop.keyPath = "transform";
  pop.duration = 0.4;
  bool done = false;
  pop.completion = [&](bool f) { done = f; };
  home->button->layer().addAnimation(pop, "popup");
  Animation forever;
  forever.duration = 0.6;
  forever.repeatCount = std::numeric_limits<double>::infinity();
  home->button->layer().addAnimation(forever, "pulse");
  UITestDriver::settle(0.39);
  EXPECT_NE(home->button->layer().animationForKey("popup"), nullptr);
  UITestDriver::settle(0.02);
  EXPECT_EQ(home->button->layer().animationForKey("popup"), nullptr);
  EXPECT_TRUE(done);
  EXPECT_EQ(home->button->layer().animationKeys(), std::vector<std::string>{"pulse"});
}

}  // namespace
}  // namespace platform
