// The my-courses tab: the courses by year from the course API, the listened minutes with the
// study time not yet uploaded, the year band, refetching and the analytics screen view.

#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/common/ReclassCell.h"
#include "screens/common/ScreenNotifications.h"
#include "screens/courses/CourseDetailViewController.h"
#include "screens/courses/MyCourseViewController.h"
#include "support/MainLoop.h"
#include "widgets/MirelTabBarController.h"

namespace {

using platform::UITestDriver;
using testsupport::runUntil;

// One course of the year with the given class figures and lectures.
std::string courseJson(int year, int listened, int total, const std::vector<int>& lectures,
                       int classId = 301) {
  std::string cws;
  for (int id : lectures) {
    if (!cws.empty()) cws += ",";
    cws += R"({"cwId": )" + std::to_string(id) + R"(, "cwName": "第)" + std::to_string(id) +
           R"(讲", "totalMinutes": 10, "listenedMinutes": 0})";
  }
  return R"({"year": )" + std::to_string(year) + R"(, "reclasses": [{"reclassId": )" +
         std::to_string(classId) + R"(, "reclassName": "课程)" + std::to_string(year) +
         R"(", "type": "1", "cwTotalMinutes": )" + std::to_string(total) +
         R"(, "listenedMinutes": )" + std::to_string(listened) + R"(, "cws": [)" + cws + "]}]}";
}

std::string answer(const std::vector<std::string>& courses) {
  std::string body = R"({"courses": [)";
  for (std::size_t i = 0; i < courses.size(); ++i) body += (i ? "," : "") + courses[i];
  return body + "]}";
}

class MyCourseScreenTest : public screentest::ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    screentest::logInBeijingUser();
  }

  // Logs the courses screen in as the first tab of a main screen, as the login does.
  void showTab() {
    screen = MyCourseViewController::create(std::string("MyCourseViewController"));
    tabBar = pushMainScreen(screen);
  }
  void showAnswered(const std::string& body) {
    server.setAnswer("/api/getRetrainCourseDatas.html", 200, body);
    showTab();
    waitForFetches(1);
  }
  void waitForFetches(std::size_t count) {
    ASSERT_TRUE(runUntil([&] {
      return server.requestsTo("/api/getRetrainCourseDatas.html").size() >= count &&
             !screentest::isWaitHUDShown(screen->progressHUD());
    }));
  }
  void refetch(const std::string& body) {
    server.setAnswer("/api/getRetrainCourseDatas.html", 200, body);
    const std::size_t before = server.requestsTo("/api/getRetrainCourseDatas.html").size();
    platform::NotificationCenter::defaultCenter().post(kRefreshCwTable);
    waitForFetches(before + 1);
  }
  void addLocalSeconds(int cwId, int seconds, int year = 2014, int classId = 301) {
    StudyLogDao().insert({{"userid", 1234},
                          {"year", year},
                          {"reclassid", classId},
                          {"cwid", cwId},
                          {"createdTime", "2014-03-01 10:00:00"},
                          {"lastUpdateTime", "2014-03-01 10:05:00"},
                          {"listenedPos", seconds}});
  }
  std::shared_ptr<ReclassCell> row(int index) {
    return std::dynamic_pointer_cast<ReclassCell>(
        screen->leftTableView()->cellForRowAtIndexPath({0, index}));
  }

  std::shared_ptr<MyCourseViewController> screen;
  std::shared_ptr<MirelTabBarController> tabBar;
};

TEST_F(MyCourseScreenTest, ListenedMinutesAddWholeLocalMinutesPerLectureUpToTheTotal) {
  struct Case {
    const char* name;
    int listened, total;
    std::vector<int> localSeconds;  // per lecture of the course
    const char* shown;
    int state;
  };
  const std::vector<Case> cases{
      {"119 s add one minute", 10, 40, {119}, "11分钟", 0},
      {"59 s twice add nothing", 10, 40, {59, 59}, "10分钟", 0},
      {"capped at the total, unfinished by the server", 30, 40, {900}, "40分钟", 0},
      {"finished by the server's minutes", 40, 40, {}, "40分钟", 1},
  };
  // One year per case, each with its own course and lectures.
  std::vector<std::string> years;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const int year = 2014 - static_cast<int>(i);
    const int classId = 300 + static_cast<int>(i);
    std::vector<int> lectures{classId * 10 + 1, classId * 10 + 2};
    for (std::size_t l = 0; l < cases[i].localSeconds.size(); ++l)
      addLocalSeconds(lectures[l], cases[i].localSeconds[l], year, classId);
    years.push_back(courseJson(year, cases[i].listened, cases[i].total, lectures, classId));
  }
  showAnswered(answer(years));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    UITestDriver::tap(screen->yearButtons()[i]);
    auto cell = row(0);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->lisMinsLabel()->text(), c.shown);
    EXPECT_EQ(cell->totalMinsLabel()->text(), std::to_string(c.total) + "分钟");
    EXPECT_EQ(cell->reclassNameLabel()->text(), "课程" + std::to_string(2014 - i));
    EXPECT_EQ(cell->state(), c.state);
  }
}

TEST_F(MyCourseScreenTest, YearsBecomeButtonsAndTheFirstIsSelected) {
  showAnswered(answer(
      {courseJson(2014, 1, 2, {1}), courseJson(2013, 1, 2, {2}), courseJson(2012, 1, 2, {3})}));
  ASSERT_EQ(screen->yearButtons().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(screen->yearButtons()[i]->frame(), (platform::Rect{70.0 * i, 0, 70, 40}));
    EXPECT_EQ(screen->yearButtons()[i]->tag(), i);
  }
  EXPECT_EQ(screen->yearButtons()[1]->currentTitle(), "2013年");
  EXPECT_EQ(screen->topScrollView()->contentSize(), (platform::Size{210, 40}));
  EXPECT_EQ(screen->yearButtons()[0]->currentTitleColor(), platform::Color::rgb255(240, 142, 59));
  EXPECT_EQ(screen->yearButtons()[1]->currentTitleColor(), platform::Color::blackColor());
  EXPECT_EQ(GlobalModel::sharedModel()->currentYearIndex(), 0);
  EXPECT_EQ(server.requestsTo("/api/getRetrainCourseDatas.html")[0].param("userId"), "1234");
  EXPECT_EQ(ModelDao().getAllCousre(platform::Value(1234), platform::Value("110000")).size(), 3u)
      << "the fetched courses are stored";
}

TEST_F(MyCourseScreenTest, ARefreshKeepsTheChosenYear) {
  const std::string body = answer({courseJson(2014, 1, 2, {1}), courseJson(2013, 1, 2, {2})});
  showAnswered(body);
  UITestDriver::tap(screen->yearButtons()[1]);
  EXPECT_EQ(row(0)->reclassNameLabel()->text(), "课程2013");
  refetch(body);
  EXPECT_EQ(GlobalModel::sharedModel()->currentYearIndex(), 1);
  EXPECT_EQ(row(0)->reclassNameLabel()->text(), "课程2013");
  EXPECT_EQ(screen->yearButtons()[1]->currentTitleColor(), platform::Color::rgb255(240, 142, 59));
}

TEST_F(MyCourseScreenTest, FewerYearsKeepTheSelectionInRange) {
  showAnswered(answer(
      {courseJson(2014, 1, 2, {1}), courseJson(2013, 1, 2, {2}), courseJson(2012, 1, 2, {3})}));
  UITestDriver::tap(screen->yearButtons()[2]);
  refetch(answer({courseJson(2014, 1, 2, {1})}));
  EXPECT_EQ(GlobalModel::sharedModel()->currentYearIndex(), 0);
  EXPECT_EQ(row(0)->reclassNameLabel()->text(), "课程2014");
}

TEST_F(MyCourseScreenTest, AnEmptyAnswerShowsTheNoticeAndALaterListBringsTheBandBack) {
  showAnswered(R"({"courses": []})");
  EXPECT_FALSE(screen->checkAreaIV()->isHidden());
  EXPECT_FALSE(screen->checkAreaLabel()->isHidden());
  EXPECT_EQ(screen->checkAreaLabel()->text(), "未选择课程,请用PC端登录进行选课");
  EXPECT_TRUE(screen->topView()->isHidden());
  EXPECT_TRUE(screen->courses().has_value() && screen->courses()->empty());

  refetch(answer({courseJson(2014, 1, 2, {1})}));
  EXPECT_FALSE(screen->leftTableView()->isHidden());
  EXPECT_FALSE(screen->topView()->isHidden()) << "the year band is back with its years";
  EXPECT_TRUE(screen->checkAreaLabel()->isHidden());
}

TEST_F(MyCourseScreenTest, AYearWithoutCoursesShowsTheNotice) {
  showAnswered(answer({courseJson(2014, 1, 2, {1}), R"({"year": 2013, "reclasses": []})"}));
  UITestDriver::tap(screen->yearButtons()[1]);
  EXPECT_FALSE(screen->checkAreaLabel()->isHidden());
  EXPECT_TRUE(screen->leftTableView()->isHidden());
}

TEST_F(MyCourseScreenTest, EachAppearanceSendsOneScreenView) {
  showAnswered(answer({courseJson(2014, 1, 2, {1})}));
  auto hits = tracker->sent();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0]["&cd"].stringValue(), "zada_MyCourse");
  EXPECT_EQ(hits[0]["&t"].stringValue(), "appview");
  EXPECT_EQ(screen->screenName(), "zada_MyCourse");
  auto title = std::dynamic_pointer_cast<platform::Label>(tabBar->navigationItem().titleView());
  ASSERT_TRUE(title);
  EXPECT_EQ(title->text(), "北京市会计继续教育");

  nav->pushViewController(platform::ViewController::create(), false);
  nav->popViewControllerAnimated(false);
  EXPECT_EQ(tracker->sent().size(), 2u) << "the main screen's return is another appearance";
  UITestDriver::tap(tabBar->tabBar()->buttons()[1]);
  UITestDriver::tap(tabBar->tabBar()->buttons()[0]);
  EXPECT_EQ(tracker->sent().size(), 3u) << "so is showing the tab again";
}

TEST_F(MyCourseScreenTest, NoNetworkOrAFailedFetchOffersTheRetry) {
  platform::ScopedManualClock clock;
  screentest::reachability().setFlags(screentest::offlineFlags());
  showTab();
  EXPECT_FALSE(screen->btnRefresh()->isHidden());
  EXPECT_TRUE(screen->leftTableView()->isHidden());
  EXPECT_EQ(screentest::lastNotice(), "请检查网络");
  EXPECT_TRUE(server.requestsTo("/api/getRetrainCourseDatas.html").empty());
  UITestDriver::settle(3);  // the notice goes

  screentest::reachability().setFlags(screentest::wifiFlags());
  server.failPath("/api/getRetrainCourseDatas.html", 500);
  UITestDriver::tap(screen->btnRefresh());
  waitForFetches(1);
  EXPECT_FALSE(screen->btnRefresh()->isHidden());
  EXPECT_FALSE(screentest::isWaitHUDShown(screen->progressHUD()));
  EXPECT_EQ(screentest::progressHUDsOn(screen->view()), 1);
}

TEST_F(MyCourseScreenTest, AnAnswerWithoutCoursesIsAFailedFetchThatKeepsTheStoredTree) {
  platform::ScopedManualClock clock;
  const std::string good = answer({courseJson(2014, 1, 2, {1}), courseJson(2013, 1, 2, {2})});
  showAnswered(good);
  ASSERT_EQ(ModelDao().getAllCousre(platform::Value(1234), platform::Value("110000")).size(), 2u);
  // The first fetch after a login, a refetch and the one after the player closes all read the
  // answer the same way.
  const char* roads[] = {kRefreshCwTable, kUpdateListenedMins};
  for (const char* body : {"<html><body>Sign in to the network</body></html>", R"({"code": 0})",
                           R"({"courses": null})", ""}) {
    for (const char* road : roads) {
      SCOPED_TRACE(std::string(body) + " on " + road);
      server.setAnswer("/api/getRetrainCourseDatas.html", 200, body);
      const std::size_t before = server.requestsTo("/api/getRetrainCourseDatas.html").size();
      platform::NotificationCenter::defaultCenter().post(road);
      waitForFetches(before + 1);
      EXPECT_EQ(screentest::lastNotice(), "请检查网络") << "the learner is told it failed";
      EXPECT_TRUE(screen->checkAreaLabel()->isHidden()) << "not told to choose courses";
      EXPECT_FALSE(screen->btnRefresh()->isHidden());
      EXPECT_EQ(ModelDao().getAllCousre(platform::Value(1234), platform::Value("110000")).size(),
                2u)
          << "the stored tree stays for the offline login";
      ASSERT_TRUE(screen->courses().has_value());
      EXPECT_EQ(screen->courses()->size(), 2u);
      UITestDriver::settle(3);  // the notice goes
    }
  }
  // The retry brings the list back once the server answers again.
  server.setAnswer("/api/getRetrainCourseDatas.html", 200, good);
  UITestDriver::tap(screen->btnRefresh());
  waitForFetches(9);
  EXPECT_FALSE(screen->leftTableView()->isHidden());
  EXPECT_TRUE(screen->btnRefresh()->isHidden());
}

TEST_F(MyCourseScreenTest, ListenedMinutesChangesRefetchAfterAnOnlineLogin) {
  showAnswered(answer({courseJson(2014, 1, 2, {1})}));
  platform::NotificationCenter::defaultCenter().post(kUpdateListenedMins);
  EXPECT_TRUE(screentest::isWaitHUDShown(screen->progressHUD())) << "a new fetch began";
  waitForFetches(2);
}

TEST_F(MyCourseScreenTest, ListenedMinutesChangesAreIgnoredAfterAnOfflineLogin) {
  GlobalModel::sharedModel()->setLoginState(GlobalModel::kLoginOffline);
  showAnswered(answer({courseJson(2014, 1, 2, {1})}));
  platform::NotificationCenter::defaultCenter().post(kUpdateListenedMins);
  EXPECT_FALSE(screentest::isWaitHUDShown(screen->progressHUD()));
  platform::NotificationCenter::defaultCenter().post(kRefreshCwTable);
  EXPECT_TRUE(screentest::isWaitHUDShown(screen->progressHUD()));
  waitForFetches(2);
}

TEST_F(MyCourseScreenTest, ARowOpensTheCourseDetail) {
  showAnswered(answer({courseJson(2014, 1, 2, {1})}));
  platform::UIRecorder recorder;
  UITestDriver::selectRow(screen->leftTableView(), {0, 0});
  auto detail = std::dynamic_pointer_cast<CourseDetailViewController>(nav->topViewController());
  ASSERT_TRUE(detail);
  EXPECT_EQ(detail->currReclass()->reClassId(), 301);
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"push CourseDetailViewController"}));
}

TEST_F(MyCourseScreenTest, SnapshotShowsTheYearsAndTheRows) {
  showAnswered(answer({courseJson(2014, 10, 40, {1}), courseJson(2013, 1, 2, {2})}));
  screentest::expectSnapshot(*window, "mycourses");
  EXPECT_TRUE(screentest::drawnIn(*window, {20, 64, 70, 40})) << "the first year's title";
  EXPECT_TRUE(screentest::drawnIn(*window, {23, 64 + 40 + 15, 200, 20})) << "the course name";
}

}  // namespace
