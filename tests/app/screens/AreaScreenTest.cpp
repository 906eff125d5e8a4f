// The area selection screen: the region list from the course API or the store, one open region
// at a time, regions without sub-areas, the one reused login screen, the offline start and the
// retry button.

#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "dao/AreaDao.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/login/AreaViewController.h"
#include "screens/login/LoginViewController.h"
#include "support/MainLoop.h"

namespace {

using platform::UITestDriver;
using testsupport::runUntil;

// Hebei with two cities, Shandong without a child list, Jiangsu with an empty one.
constexpr const char* kAreas = R"({"areas": [
  {"areaName": "河北省", "areaCode": "130000", "isLeaf": false, "loginType": 0,
   "description": "", "children": [
     {"areaName": "石家庄市", "areaCode": "130100", "isLeaf": true, "loginType": 3,
      "description": "请输入身份证号和真实姓名"},
     {"areaName": "唐山市", "areaCode": "130200", "isLeaf": true, "loginType": 4,
      "description": "请输入会计证号和身份证号"}]},
  {"areaName": "山东省", "areaCode": "370000", "isLeaf": true, "loginType": 2,
   "description": "请输入身份证号"},
  {"areaName": "江苏省", "areaCode": "320000", "isLeaf": false, "loginType": 1,
   "description": "", "children": []}
]})";

class AreaScreenTest : public screentest::ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    server.setAnswer("/api/getRetrainAreas.html", 200, kAreas);
  }

  // Shows the area screen and waits for the fetched regions.
  void showFetched() {
    nav = show(area);
    ASSERT_TRUE(runUntil([&] { return area->areas().size() == 3; }));
    area->tableView()->layoutIfNeeded();
  }

  std::shared_ptr<AreaTableHeaderView> header(int section) {
    area->tableView()->layoutIfNeeded();
    return area->headerView(section);
  }
  int rows(int section) { return area->tableView()->numberOfRowsInSection(section); }
  std::string rowText(int section, int row) {
    return area->tableView()->cellForRowAtIndexPath({section, row})->textLabel()->text();
  }

  std::shared_ptr<AreaViewController> area =
      AreaViewController::create(std::string("AreaViewController"));
};

TEST_F(AreaScreenTest, FirstRegionStartsOpenWithItsSubAreas) {
  showFetched();
  EXPECT_EQ(area->tableView()->numberOfSections(), 3);
  EXPECT_EQ(rows(0), 2);
  EXPECT_EQ(rows(1), 0);
  EXPECT_EQ(rowText(0, 0), "   石家庄市");
  EXPECT_EQ(rowText(0, 1), "   唐山市");
  EXPECT_EQ(header(0)->selectState(), AreaTableHeaderView::kExpanded);
  EXPECT_TRUE(area->btnRefresh()->isHidden());
  EXPECT_FALSE(area->tableView()->isHidden());
  EXPECT_EQ(area->tableView()->frame(), (platform::Rect{0, 0, 320, 416}));
  EXPECT_EQ(server.requestsTo("/api/getRetrainAreas.html").size(), 1u);
  EXPECT_EQ(AreaDao().queryAll().size(), 3u) << "the fetched tree is stored for offline starts";
}

TEST_F(AreaScreenTest, AbsentAndEmptyChildListsLookDifferent) {
  showFetched();
  EXPECT_EQ(header(1)->selectState(), AreaTableHeaderView::kHighlighted) << "no child list";
  EXPECT_TRUE(header(1)->expendImageView()->isHidden());
  EXPECT_EQ(header(2)->selectState(), AreaTableHeaderView::kCollapsed) << "an empty child list";
}

TEST_F(AreaScreenTest, TappingHeadersOpensOneRegionAtATime) {
  showFetched();
  UITestDriver::tap(header(0));
  EXPECT_EQ(rows(0), 0) << "tapping the open region closes it";
  EXPECT_EQ(header(0)->selectState(), AreaTableHeaderView::kCollapsed);
  UITestDriver::tap(header(0));
  EXPECT_EQ(rows(0), 2) << "and tapping it again reopens it";
  EXPECT_EQ(header(0)->selectState(), AreaTableHeaderView::kExpanded);

  platform::UIRecorder recorder;
  UITestDriver::tap(header(2));  // another region: closes Hebei, opens Jiangsu (empty)
  EXPECT_EQ(rows(0), 0);
  EXPECT_EQ(area->currExpendSectionIndex(), 2);
  EXPECT_EQ(header(0)->selectState(), AreaTableHeaderView::kCollapsed);
  EXPECT_EQ(header(2)->selectState(), AreaTableHeaderView::kHighlighted)
      << "a region with nothing under it opens its login";
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"push LoginViewController"}));
  EXPECT_EQ(*area->loginViewController()->area()->code(), "320000");
}

TEST_F(AreaScreenTest, ARegionWithoutChildListOpensItsOwnLogin) {
  showFetched();
  platform::UIRecorder recorder;
  UITestDriver::tap(header(1));
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"push LoginViewController"}));
  EXPECT_EQ(*area->loginViewController()->area()->name(), "山东省");
}

TEST_F(AreaScreenTest, EveryAreaReusesTheOneLoginScreen) {
  showFetched();
  UITestDriver::selectRow(area->tableView(), {0, 0});
  auto login = area->loginViewController();
  ASSERT_TRUE(login);
  EXPECT_EQ(*login->area()->name(), "石家庄市");
  nav->popViewControllerAnimated(false);
  UITestDriver::selectRow(area->tableView(), {0, 1});
  EXPECT_EQ(area->loginViewController(), login);
  EXPECT_EQ(nav->topViewController(), login);
  EXPECT_EQ(*login->area()->name(), "唐山市");
}

TEST_F(AreaScreenTest, TallScreenGivesATallerTable) {
  platform::Screen::mainScreen().setTall(true);
  showFetched();
  EXPECT_EQ(area->tableView()->frame().height(), 504);
}

TEST_F(AreaScreenTest, NavigationBarCarriesTheApplicationTitle) {
  showFetched();
  auto bar = nav->navigationBar();
  EXPECT_EQ(bar->tintColor(), platform::Color::rgb255(240, 240, 240));
  auto title = std::dynamic_pointer_cast<platform::Label>(area->navigationItem().titleView());
  ASSERT_TRUE(title);
  EXPECT_EQ(title->text(), "澄衡会计继续教育");
  bool line = false;
  for (const auto& view : bar->subviews())
    line = line || (view->frame() == platform::Rect{0, 42, 1024, 2} &&
                    view->backgroundColor() == platform::Color::rgb255(240, 142, 59));
  EXPECT_TRUE(line);
  screentest::expectSnapshot(*window, "areas");
  EXPECT_TRUE(screentest::drawnIn(*window, {22, 64, 200, 55})) << "the first region's name";
}

TEST_F(AreaScreenTest, OfflineStartShowsTheStoredTree) {
  AreaDao().updateAreas(Area::jsonToObject(kAreas));
  screentest::reachability().setFlags(screentest::offlineFlags());
  platform::UIRecorder recorder;
  nav = show(area);
  EXPECT_EQ(area->areas().size(), 3u);
  EXPECT_EQ(rows(0), 2);
  EXPECT_TRUE(recorder.alerts().empty());
  EXPECT_TRUE(area->btnRefresh()->isHidden());
  EXPECT_TRUE(server.requestsTo("/api/getRetrainAreas.html").empty());
}

TEST_F(AreaScreenTest, OfflineWithNothingStoredAsksForANetworkAndOffersTheRetry) {
  screentest::reachability().setFlags(screentest::offlineFlags());
  platform::UIRecorder recorder;
  nav = show(area);
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].title, "提示");
  EXPECT_EQ(recorder.alerts()[0].message, "第一次使用请连接网络");
  EXPECT_FALSE(area->btnRefresh()->isHidden()) << "nothing is shown, so the retry stays there";

  UITestDriver::answerAlert(0);
  screentest::reachability().setFlags(screentest::wifiFlags());
  UITestDriver::tap(area->btnRefresh());
  ASSERT_TRUE(runUntil([&] { return area->areas().size() == 3; }));
  EXPECT_FALSE(area->tableView()->isHidden());
  EXPECT_TRUE(area->btnRefresh()->isHidden());
}

TEST_F(AreaScreenTest, AFailedFetchShowsTheStoredTreeUnderTheNotice) {
  // The network is up, the course server answers with an error or not at all.
  platform::ScopedManualClock clock;
  AreaDao().updateAreas(Area::jsonToObject(kAreas));
  server.failPath("/api/getRetrainAreas.html", 500);
  nav = show(area);
  ASSERT_TRUE(runUntil([&] { return !screentest::isWaitHUDShown(area->progressHUD()); }));
  EXPECT_EQ(screentest::lastNotice(), "请检查网络");
  EXPECT_FALSE(area->tableView()->isHidden()) << "the way to the offline login stays open";
  EXPECT_TRUE(area->btnRefresh()->isHidden());
  EXPECT_EQ(area->areas().size(), 3u);
  EXPECT_EQ(rows(0), 2);
  UITestDriver::settle(3);  // the notice goes
  UITestDriver::selectRow(area->tableView(), {0, 1});
  EXPECT_EQ(nav->topViewController(), area->loginViewController());
  EXPECT_EQ(area->loginViewController()->area()->name(), "唐山市");
}

TEST_F(AreaScreenTest, AnAnswerWithoutRegionsShowsTheStoredTreeUnderTheNotice) {
  // Answered 200, but with something that yields no region: a failed fetch like any other.
  platform::ScopedManualClock clock;
  AreaDao().updateAreas(Area::jsonToObject(kAreas));
  for (const char* body : {"<html><body>Sign in to the network</body></html>", R"({"areas": []})",
                           R"({"areas": "130000"})", R"({"regions": []})", ""}) {
    SCOPED_TRACE(body);
    server.setAnswer("/api/getRetrainAreas.html", 200, body);
    auto screen = AreaViewController::create(std::string("AreaViewController"));
    nav = show(screen);
    ASSERT_TRUE(runUntil([&] { return !screentest::isWaitHUDShown(screen->progressHUD()); }));
    EXPECT_EQ(screentest::lastNotice(), "请检查网络");
    EXPECT_FALSE(screen->tableView()->isHidden()) << "the way to the offline login stays open";
    EXPECT_TRUE(screen->btnRefresh()->isHidden());
    EXPECT_EQ(screen->areas().size(), 3u);
    EXPECT_EQ(AreaDao().queryAll().size(), 3u);
    UITestDriver::settle(3);  // the notice goes
  }
}

TEST_F(AreaScreenTest, FailedFetchWithNothingStoredOffersTheRetryOnTheWhiteScreen) {
  platform::ScopedManualClock clock;
  server.failPath("/api/getRetrainAreas.html", 500);
  nav = show(area);
  ASSERT_TRUE(runUntil([&] { return !area->btnRefresh()->isHidden(); }));
  EXPECT_TRUE(area->tableView()->isHidden());
  EXPECT_EQ(screentest::lastNotice(), "请检查网络");
  EXPECT_FALSE(screentest::isWaitHUDShown(area->progressHUD()));
  // The notice's dark box must stand out from what is behind it.
  EXPECT_EQ(area->view()->backgroundColor(), platform::Color::whiteColor());
  UITestDriver::settle(3);  // the notice goes

  AreaDao().updateAreas(Area::jsonToObject(kAreas));
  screentest::reachability().setFlags(screentest::offlineFlags());
  UITestDriver::tap(area->btnRefresh());
  EXPECT_FALSE(area->tableView()->isHidden()) << "the stored tree instead of a blank screen";
  EXPECT_TRUE(area->btnRefresh()->isHidden());
  EXPECT_EQ(rows(0), 2);
}

TEST_F(AreaScreenTest, EveryFetchReusesTheScreensOneProgressHUD) {
  platform::ScopedManualClock clock;
  server.failPath("/api/getRetrainAreas.html", 500);
  nav = show(area);
  for (int attempt = 0; attempt < 3; ++attempt) {
    ASSERT_TRUE(runUntil([&] { return !area->btnRefresh()->isHidden(); }));
    UITestDriver::settle(3);  // the notice goes
    UITestDriver::tap(area->btnRefresh());
  }
  ASSERT_TRUE(runUntil([&] { return !area->btnRefresh()->isHidden(); }));
  EXPECT_EQ(screentest::progressHUDsOn(area->view()), 1);
}

}  // namespace
