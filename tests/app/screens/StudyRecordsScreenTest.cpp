// The study records tab (unsent minutes, per-year summaries, the upload and course refresh) and
// the study details screen of one year (listened lectures, replay, clearing the history).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "LectureTestSupport.h"
#include "dao/ModelDao.h"
#include "model/GlobalModel.h"
#include "model/ListenHistory.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/common/AreaTableHeaderView.h"
#include "screens/common/ScreenNotifications.h"
#include "screens/studylog/StudyDetailCell.h"
#include "screens/studylog/StudyDetailController.h"
#include "screens/studylog/StudyLogCell.h"
#include "screens/studylog/StudyLogController.h"
#include "support/MainLoop.h"
#include "widgets/MirelTabBarController.h"

namespace {

using platform::IndexPath;
using platform::UITestDriver;
using screentest::LectureTest;

class StudyRecordsScreenTest : public LectureTest {
 protected:
  void showRecords() {
    records = StudyLogController::create();
    pushMainScreen(records);
  }
  std::string alertMessage() {
    auto alert = platform::AlertView::topAlert();
    return alert ? alert->message().value_or("") : "";
  }
  // Confirms the sync question and waits for the answer of the whole sync.
  void syncAndWait() {
    UITestDriver::tap(records->syncButton());
    ASSERT_EQ(alertMessage(), "是否同步学习记录");
    UITestDriver::answerAlert(1);
    ASSERT_TRUE(testsupport::runUntil([&] { return alertMessage() == "同步成功"; }));
  }
  void storeHistory(int cwId, int position, const std::string& when, int year = kYear) {
    ListenHistory history;
    history.setUserId(1234);
    history.setCwid(cwId);
    history.setReclassId(kClassId);
    history.setYear(std::to_string(year));
    history.setAreCode(std::string("110000"));
    history.setLastListenTime(when);
    history.setListenedMilliseconds(position);
    ModelDao().insertListenHistory(history);
  }
  std::shared_ptr<AreaTableHeaderView> header(int section) {
    return std::dynamic_pointer_cast<AreaTableHeaderView>(
        records->viewForHeaderInSection(*records->studyLogTable(), section));
  }
  void tapHeader(int section) {
    auto view = header(section);
    ASSERT_EQ(view->gestureRecognizers().size(), 1u);
    auto tap = view->gestureRecognizers()[0];
    records->tapHeadView(*tap);
  }
  // Two course years, as a course fetch with two years leaves them.
  void setTwoYears() {
    auto older = std::make_shared<Course>();
    older->setYear(2013);
    auto reclass = std::make_shared<ReClass>();
    reclass->setReClassId(201);
    reclass->setTotalMins(30);
    reclass->setListenedMins(10);
    reclass->setYear(std::string("2013"));
    reclass->setCws(model::List<CourseWare>{});
    older->setReClasses(model::List<ReClass>{reclass});
    auto courses = *GlobalModel::sharedModel()->courses();
    courses.push_back(older);
    GlobalModel::sharedModel()->setCourses(courses);
  }

  std::shared_ptr<StudyLogController> records;
};

TEST_F(StudyRecordsScreenTest, UnsentSecondsShowInWholeMinutes) {
  struct Case {
    int seconds;
    const char* text;
  } cases[] = {{110, "1分钟"}, {50, "0分钟"}, {0, "0分钟"}, {600, "10分钟"}};
  showRecords();
  for (const auto& c : cases) {
    StudyLogDao dao;
    for (auto& [year, rows] : dao.getByUserId(platform::Value(1234)))
      for (auto& row : rows) dao.deleteById(*platform::find(row, "id"));
    if (c.seconds) logSeconds(kFirst, c.seconds);
    records->getAllStudyYear();
    EXPECT_EQ(records->synchroTimeLab()->text(), c.text) << c.seconds;
  }
}

TEST_F(StudyRecordsScreenTest, AYearsSummaryAddsTheLocalMinutesToTheServersFigures) {
  setCourses(30, 15);
  logSeconds(kFirst, 130);
  storeHistory(kFirst, 100, "2014-05-01 10:00:00");
  showRecords();
  EXPECT_EQ(records->lastSyncTime()->text(), "无");
  EXPECT_EQ(records->currExpendSectionIndex(), 0);
  auto cell = std::dynamic_pointer_cast<StudyLogCell>(
      records->studyLogTable()->cellForRowAtIndexPath(IndexPath{0, 0}));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->courseTimeLab()->text(), "47分钟");
  EXPECT_EQ(cell->notStudyTimeLab()->text(), "133分钟");
  EXPECT_EQ(cell->localCourseTimeLab()->text(), "2分钟");
  EXPECT_EQ(cell->lastStudyTimeLab()->text(), "2014-05-01 10:00:00");
  EXPECT_EQ(header(0)->titleLabel()->text(), "2014");
  EXPECT_EQ(header(0)->selectState(), AreaTableHeaderView::kExpanded);
}

TEST_F(StudyRecordsScreenTest, AYearWithoutListensSaysSo) {
  showRecords();
  auto cell = std::dynamic_pointer_cast<StudyLogCell>(
      records->studyLogTable()->cellForRowAtIndexPath(IndexPath{0, 0}));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->lastStudyTimeLab()->text(), "您没有在此应用学习过");
}

TEST_F(StudyRecordsScreenTest, SyncUploadsTheLogRefetchesTheCoursesAndRemembersTheTime) {
  const struct {
    int cwId, seconds, minutes;
  } rows[] = {{kFirst, 20, 0}, {kSecond, 30, 1}, {kThird, 130, 2}};
  for (const auto& row : rows) logSeconds(row.cwId, row.seconds);
  server.setAnswer("/api/getRetrainCourseDatas.html", 200, courseAnswer(7, 1, 2));
  // The sync's own fetch before the upload finds the tree as it was.
  server.answerNext("/api/getRetrainCourseDatas.html", 200, courseAnswer(7));
  showRecords();
  syncAndWait();

  auto uploads = server.requestsTo("/api/acceptRetrainStudyLog.html");
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].method, "GET");
  auto document = nlohmann::json::parse(uploads[0].param("studyLogs"));
  EXPECT_EQ(document["userId"], 1234);
  ASSERT_EQ(document["logs"].size(), 1u);
  EXPECT_EQ(document["logs"][0]["year"], kYear);
  std::map<int, int> minutes;
  for (const auto& cw : document["logs"][0]["cws"]) minutes[cw["id"]] = cw["listenedMinutes"];
  for (const auto& row : rows) EXPECT_EQ(minutes[row.cwId], row.minutes) << row.cwId;

  // One fetch for the batch's figures, one for the tree after the upload.
  EXPECT_EQ(server.requestsTo("/api/getRetrainCourseDatas.html").size(), 2u);
  // The server credits whole minutes; the seconds it did not credit stay unsent: all 20 of the
  // first row, none of the second (30 s counted as a minute), 10 of the third.
  EXPECT_EQ(unsentTotal(), 30);
  EXPECT_EQ(records->synchroTimeLab()->text(), "0分钟");
  auto model = GlobalModel::sharedModel();
  EXPECT_TRUE(model->isRefresh());
  auto refreshed = (*(*(*model->courses())[0]->reClasses())[0]->cws())[0];
  EXPECT_EQ(refreshed->listenedMins(), 7);
  const std::string stored =
      platform::UserDefaults::standard().stringForKey("110000_1234_lastSyncTime");
  EXPECT_EQ(stored.size(), 19u);
  EXPECT_EQ(records->lastSyncTime()->text(), stored);
  EXPECT_FALSE(screentest::isWaitHUDShown(records->progressHUD()));
}

TEST_F(StudyRecordsScreenTest, WithoutRowsASyncStillRefreshesTheCourses) {
  showRecords();
  syncAndWait();
  EXPECT_TRUE(server.requestsTo("/api/acceptRetrainStudyLog.html").empty());
  EXPECT_EQ(server.requestsTo("/api/getRetrainCourseDatas.html").size(), 1u);
  EXPECT_NE(records->lastSyncTime()->text(), "无");
}

TEST_F(StudyRecordsScreenTest, AFailedUploadKeepsTheRowsAndTheOldSyncTime) {
  logSeconds(kFirst, 60);
  server.failPath("/api/acceptRetrainStudyLog.html", 500);
  showRecords();
  UITestDriver::tap(records->syncButton());
  UITestDriver::answerAlert(1);
  ASSERT_TRUE(
      testsupport::runUntil([&] { return !screentest::isWaitHUDShown(records->progressHUD()); }));
  EXPECT_EQ(unsentSeconds(kFirst), 60);
  EXPECT_EQ(records->lastSyncTime()->text(), "无");
  EXPECT_FALSE(platform::AlertView::topAlert());
  // Only the fetch before the upload; none after a refused one.
  EXPECT_EQ(server.requestsTo("/api/getRetrainCourseDatas.html").size(), 1u);
}

TEST_F(StudyRecordsScreenTest, ACourseRefreshThatDoesNotDecodeKeepsTheStoredTreeAndSaysItFailed) {
  setCourses(30, 15);
  logSeconds(kFirst, 130);
  server.setAnswer("/api/getRetrainCourseDatas.html", 200,
                   "<html><body>Sign in to the network</body></html>");
  showRecords();
  platform::UIRecorder recorder;
  UITestDriver::tap(records->syncButton());
  UITestDriver::answerAlert(1);
  ASSERT_TRUE(
      testsupport::runUntil([&] { return !screentest::isWaitHUDShown(records->progressHUD()); }));
  EXPECT_EQ(server.requestsTo("/api/getRetrainCourseDatas.html").size(), 1u);
  for (const auto& alert : recorder.alerts()) EXPECT_NE(alert.message, "同步成功");
  EXPECT_EQ(screentest::lastNotice(), "请检查网络");
  EXPECT_EQ(records->lastSyncTime()->text(), "无");
  // The tree fetched before an upload is the one that did not decode: nothing was sent, the
  // seconds stay on the device, and the stored tree still leads to the downloaded lectures.
  EXPECT_TRUE(server.requestsTo("/api/acceptRetrainStudyLog.html").empty());
  EXPECT_EQ(unsentSeconds(kFirst), 130);
  auto stored = ModelDao().getAllCousre(platform::Value(1234), platform::Value("110000"));
  ASSERT_EQ(stored.size(), 1u);
  ASSERT_TRUE(stored[0]->reClasses() && stored[0]->reClasses()->size() == 1u);
  const auto& lectures = *(*stored[0]->reClasses())[0]->cws();
  ASSERT_EQ(lectures.size(), 3u);
  EXPECT_EQ(lectures[0]->listenedMins(), 30);
  ASSERT_TRUE(GlobalModel::sharedModel()->courses());
  EXPECT_EQ(GlobalModel::sharedModel()->courses()->size(), 1u);
}

TEST_F(StudyRecordsScreenTest, NoNetworkOrAnOfflineLoginSendsNothing) {
  showRecords();
  screentest::reachability().setFlags(screentest::offlineFlags());
  UITestDriver::tap(records->syncButton());
  EXPECT_EQ(alertMessage(), "请联网后同步");
  UITestDriver::answerAlert(0);
  screentest::reachability().setFlags(screentest::wifiFlags());
  GlobalModel::sharedModel()->setLoginState(GlobalModel::kLoginOffline);
  UITestDriver::tap(records->syncButton());
  EXPECT_EQ(alertMessage(), "您目前处于离线登录状态，请在线登录");
  EXPECT_EQ(platform::AlertView::topAlert()->buttonTitles(), std::vector<std::string>{"确定"});
  UITestDriver::answerAlert(0);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(StudyRecordsScreenTest, TappingYearsOpensAtMostOne) {
  setTwoYears();
  showRecords();
  auto rows = [&] {
    return std::make_pair(records->studyLogTable()->numberOfRowsInSection(0),
                          records->studyLogTable()->numberOfRowsInSection(1));
  };
  EXPECT_EQ(rows(), std::make_pair(1, 0));
  tapHeader(0);
  EXPECT_EQ(rows(), std::make_pair(0, 0));
  tapHeader(0);
  EXPECT_EQ(rows(), std::make_pair(1, 0));
  tapHeader(1);
  EXPECT_EQ(rows(), std::make_pair(0, 1));
  EXPECT_EQ(header(1)->selectState(), AreaTableHeaderView::kExpanded);
  // Redrawing a header does not add recognisers (checked inside tapHeader).
  records->studyLogTable()->reloadData();
  tapHeader(1);
  EXPECT_EQ(rows(), std::make_pair(0, 0));
}

TEST_F(StudyRecordsScreenTest, FewerYearsAfterARefreshForgetTheOpenYear) {
  setTwoYears();
  showRecords();
  tapHeader(1);
  // A refresh with one year left: the open year is gone.
  setCourses(0);
  records->getAllStudyYear();
  EXPECT_EQ(records->currExpendSectionIndex(), -1);
  EXPECT_EQ(records->studyLogTable()->numberOfSections(), 1);
  tapHeader(0);
  EXPECT_EQ(records->studyLogTable()->numberOfRowsInSection(0), 1);
}

TEST_F(StudyRecordsScreenTest, TheListReturnsWhenSummariesAppear) {
  GlobalModel::sharedModel()->setCourses(model::List<Course>{});
  showRecords();
  EXPECT_FALSE(records->checkAreaLabel()->isHidden());
  EXPECT_EQ(records->checkAreaLabel()->text(), "还没有学习记录，快去我的课程学习吧！");
  EXPECT_TRUE(records->studyLogTable()->isHidden());
  setCourses(0);
  platform::NotificationCenter::defaultCenter().post(kUpdateListenedMins);
  EXPECT_FALSE(records->studyLogTable()->isHidden());
  EXPECT_FALSE(records->logPromptView()->isHidden());
  EXPECT_TRUE(records->checkAreaLabel()->isHidden());
}

TEST_F(StudyRecordsScreenTest, AYearsRowOpensItsListenHistory) {
  showRecords();
  UITestDriver::selectRow(records->studyLogTable(), IndexPath{0, 0});
  auto detail = std::dynamic_pointer_cast<StudyDetailController>(nav->topViewController());
  ASSERT_TRUE(detail);
  EXPECT_EQ(detail->year(), "2014");
}

TEST_F(StudyRecordsScreenTest, StudyRecordsSnapshot) {
  logSeconds(kFirst, 130);
  storeHistory(kFirst, 100, "2014-05-01 10:00:00");
  showRecords();
  screentest::expectSnapshot(*window, "studyrecords");
}

// --- Study details ---

class StudyDetailScreenTest : public StudyRecordsScreenTest {
 protected:
  void showDetails() {
    showRecords();
    details = StudyDetailController::create();
    details->setYear("2014");
    nav->pushViewController(details, false);
  }
  std::shared_ptr<StudyDetailCell> row(int index) {
    return std::dynamic_pointer_cast<StudyDetailCell>(
        details->detailTable()->cellForRowAtIndexPath(IndexPath{0, index}));
  }
  std::shared_ptr<PlayVideoViewController> presentedPlayer() {
    return std::dynamic_pointer_cast<PlayVideoViewController>(nav->presentedViewController());
  }
  std::shared_ptr<StudyDetailController> details;
};

TEST_F(StudyDetailScreenTest, ListensNewestFirstWithTheirStudiedMinutes) {
  struct Case {
    int listened, localSeconds;
    const char* state;
  } cases[] = {{20, 600, "已学完"}, {20, 590, "学习至:29分钟"}, {0, 0, "学习至:0分钟"}};
  for (const auto& c : cases) {
    setCourses(c.listened);
    lecture(0)->setTotalMins(30);
    services->dbService()->refreshCourse(platform::Value(std::string("110000")),
                                         *GlobalModel::sharedModel()->courses(),
                                         platform::Value(1234));
    StudyLogDao dao;
    for (auto& [year, rows] : dao.getByUserId(platform::Value(1234)))
      for (auto& r : rows) dao.deleteById(*platform::find(r, "id"));
    if (c.localSeconds) logSeconds(kFirst, c.localSeconds);
    storeHistory(kFirst, 10, "2014-05-01 10:00:00");
    storeHistory(kSecond, 10, "2014-05-02 10:00:00");
    showDetails();
    ASSERT_EQ(details->courseLogArrs().size(), 2u);
    EXPECT_EQ(row(0)->courseTitleLab()->text(), "第2讲");
    EXPECT_EQ(row(1)->courseTitleLab()->text(), "第1讲");
    EXPECT_EQ(row(1)->courseStateLab()->text(), c.state) << c.listened << "+" << c.localSeconds;
  }
}

TEST_F(StudyDetailScreenTest, ClearingAsksAndEmptiesOnlyTheListenHistory) {
  logSeconds(kFirst, 60);
  storeHistory(kFirst, 10, "2014-05-01 10:00:00");
  showDetails();
  UITestDriver::tap(details->clearButton());
  EXPECT_EQ(platform::AlertView::topAlert()->message(), "是否要清空本年度学习记录?");
  UITestDriver::answerAlert(0);
  EXPECT_EQ(details->courseLogArrs().size(), 1u);
  UITestDriver::tap(details->clearButton());
  UITestDriver::answerAlert(1);
  EXPECT_TRUE(details->courseLogArrs().empty());
  EXPECT_FALSE(details->noteImageView()->isHidden());
  EXPECT_EQ(details->noteLab()->text(), "还没有学习记录,快去我的课程学习吧");
  EXPECT_TRUE(details->detailTable()->isHidden());
  EXPECT_EQ(unsentSeconds(kFirst), 60);
}

TEST_F(StudyDetailScreenTest, ReplayOpensThePlayerWhichReadsTheUnsentSecondsItself) {
  setCourses(2);
  logSeconds(kFirst, 40);
  storeHistory(kFirst, 10, "2014-05-01 10:00:00");
  showDetails();
  UITestDriver::selectRow(details->detailTable(), IndexPath{0, 0});
  auto player = presentedPlayer();
  ASSERT_TRUE(player);
  EXPECT_EQ(player->enterIndex(), PlayVideoViewController::kEnterFromStudyDetail);
  EXPECT_FALSE(player->cws());
  ASSERT_TRUE(waitUntilPlaying(*player));
  // 120 credited seconds and 40 unsent ones: none of them is credited again.
  EXPECT_DOUBLE_EQ(player->creditedPoint(), 160);
  play(10);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 169, 0.001);
  EXPECT_EQ(unsentSeconds(kFirst), 50);
}

TEST_F(StudyDetailScreenTest, ACompleteLectureAsksBeforeReplaying) {
  setCourses(59);
  logSeconds(kFirst, 60);
  storeHistory(kFirst, 10, "2014-05-01 10:00:00");
  showDetails();
  UITestDriver::selectRow(details->detailTable(), IndexPath{0, 0});
  EXPECT_EQ(platform::AlertView::topAlert()->message(),
            "本课程您已修满学时，重新听课不累计学时，是否听课?");
  UITestDriver::answerAlert(0);
  EXPECT_FALSE(presentedPlayer());
  UITestDriver::selectRow(details->detailTable(), IndexPath{0, 0});
  UITestDriver::answerAlert(1);
  EXPECT_TRUE(presentedPlayer());
}

TEST_F(StudyDetailScreenTest, AListenWhoseLectureIsNoLongerStoredOpensNothing) {
  storeHistory(7777, 10, "2014-05-01 10:00:00");
  showDetails();
  ASSERT_EQ(details->courseLogArrs().size(), 1u);
  EXPECT_EQ(row(0)->courseStateLab()->text(), "已学完");
  UITestDriver::selectRow(details->detailTable(), IndexPath{0, 0});
  EXPECT_FALSE(presentedPlayer());
  EXPECT_FALSE(platform::AlertView::topAlert());
}

}  // namespace
