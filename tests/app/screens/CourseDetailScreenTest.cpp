// The course detail screen: the course's figures and progress, the resume button of the last
// listen, opening lectures in the player, ordering downloads, and taking the refreshed course
// after a sync.

#include <gtest/gtest.h>

#include "LectureTestSupport.h"
#include "dao/DownloadDao.h"
#include "dao/ModelDao.h"
#include "model/GlobalModel.h"
#include "model/ListenHistory.h"
#include "net/ServerConfig.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UITestDriver.h"
#include "screens/common/CourseWareCell.h"
#include "screens/courses/CourseDetailViewController.h"
#include "support/FullDisk.h"
#include "support/MainLoop.h"

namespace {

using platform::IndexPath;
using platform::UITestDriver;
using screentest::LectureTest;

class CourseDetailScreenTest : public LectureTest {
 protected:
  void SetUp() override {
    // Before the delegate's store connections open, so a FullDisk reaches them.
    testsupport::FullDisk::install();
    LectureTest::SetUp();
  }
  void showDetail() {
    detail = CourseDetailViewController::create();
    detail->setCurrReclass(course);
    presenter->navigationController()->pushViewController(detail, false);
    testsupport::runUntil([&] { return detail->isViewLoaded(); });
  }
  void storeHistory(int cwId, int position, const std::string& when) {
    ListenHistory history;
    history.setUserId(1234);
    history.setCwid(cwId);
    history.setReclassId(kClassId);
    history.setYear(std::to_string(kYear));
    history.setAreCode(std::string("110000"));
    history.setLastListenTime(when);
    history.setListenedMilliseconds(position);
    ModelDao().insertListenHistory(history);
  }
  std::shared_ptr<PlayVideoViewController> presentedPlayer() {
    return std::dynamic_pointer_cast<PlayVideoViewController>(
        presenter->navigationController()->presentedViewController());
  }
  std::string valueText(int tag) {
    return std::dynamic_pointer_cast<platform::Label>(detail->reclssView()->viewWithTag(tag))
        ->text();
  }
  std::shared_ptr<CourseWareCell> downloadRow(int row) {
    return std::dynamic_pointer_cast<CourseWareCell>(
        detail->selectTable()->cellForRowAtIndexPath(IndexPath{0, row}));
  }

  std::shared_ptr<CourseDetailViewController> detail;
};

TEST_F(CourseDetailScreenTest, TheHeaderShowsTheCoursesFiguresAndProgress) {
  setCourses(30, 15);
  showDetail();
  EXPECT_EQ(valueText(10), "共3讲");
  EXPECT_EQ(valueText(11), "王老师");
  EXPECT_EQ(valueText(12), "必修课");
  EXPECT_EQ(valueText(13), "180分钟");
  EXPECT_EQ(valueText(14), "2014");
  EXPECT_EQ(detail->labelPer()->text(), " 25%");
  UITestDriver::settle(1.0);
  EXPECT_DOUBLE_EQ(detail->progressView()->frame().size.width, 37.5);
}

TEST_F(CourseDetailScreenTest, ProgressOfEmptyAndOverfullCourses) {
  struct Case {
    int total, listened;
    const char* text;
  } cases[] = {{0, 0, "  0%"}, {60, 90, "100%"}, {180, 60, " 33%"}};
  for (const auto& c : cases) {
    course->setTotalMins(c.total);
    course->setListenedMins(c.listened);
    showDetail();
    EXPECT_EQ(detail->labelPer()->text(), c.text) << c.total << "/" << c.listened;
    presenter->navigationController()->popViewControllerAnimated(false);
  }
}

TEST_F(CourseDetailScreenTest, TheResumeButtonNamesTheLastListenedLectureAndItsTimeInTens) {
  storeHistory(kFirst, 40, "2014-05-01 09:00:00");
  storeHistory(kSecond, 754, "2014-05-01 10:00:00");
  showDetail();
  EXPECT_EQ(detail->recordBtn()->titleForState(platform::ControlState::Normal),
            "上次学习到第2讲00:12:30");
  EXPECT_EQ(detail->resumeLecture(), lecture(1));
  EXPECT_EQ(detail->resumePosition(), 744);
}

TEST_F(CourseDetailScreenTest, WithoutHistoryTheResumeButtonDoesNothing) {
  showDetail();
  EXPECT_EQ(detail->recordBtn()->titleForState(platform::ControlState::Normal), "没有听课");
  // Even after a lecture was tapped (and its question cancelled), resume has nothing to open.
  lecture(2)->setListenedMins(kLectureMinutes);
  UITestDriver::selectRow(detail->cwTable(), IndexPath{0, 2});
  UITestDriver::answerAlert(0);
  UITestDriver::tap(detail->recordBtn());
  EXPECT_FALSE(presentedPlayer());
}

TEST_F(CourseDetailScreenTest, ResumeOpensTheLastListenedLectureNotTheLastTappedOne) {
  storeHistory(kSecond, 130, "2014-05-01 10:00:00");
  lecture(2)->setListenedMins(kLectureMinutes);
  showDetail();
  UITestDriver::selectRow(detail->cwTable(), IndexPath{0, 2});
  ASSERT_EQ(platform::AlertView::topAlert()->message(),
            "本课程您已修满学时，重新听课不累计学时，是否听课?");
  UITestDriver::answerAlert(0);
  EXPECT_FALSE(presentedPlayer());

  UITestDriver::tap(detail->recordBtn());
  auto player = presentedPlayer();
  ASSERT_TRUE(player);
  EXPECT_EQ(player->cw(), lecture(1));
  EXPECT_EQ(player->cwIndex(), 1);
  EXPECT_EQ(player->enterIndex(), PlayVideoViewController::kEnterFromCourseDetail);
}

TEST_F(CourseDetailScreenTest, ResumeJumpsToTheLastPositionWithoutTouchingTheCreditedMinutes) {
  setCourses(0, 1);  // the second lecture: 60 credited seconds
  storeHistory(kSecond, 400, "2014-05-01 10:00:00");
  showDetail();
  UITestDriver::tap(detail->recordBtn());
  auto player = presentedPlayer();
  ASSERT_TRUE(player);
  ASSERT_TRUE(waitUntilPlaying(*player));
  EXPECT_EQ(lecture(1)->listenedMins(), 1);
  EXPECT_DOUBLE_EQ(player->creditedPoint(), 60);
  play(2);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 391, 0.001);
  // Played past the credited point from the resume position: credited from the tenth second.
  play(8);
  EXPECT_EQ(unsentSeconds(kSecond), 10);
}

TEST_F(CourseDetailScreenTest, ALectureOpensInThePlayerWithItsListAndUnsentSeconds) {
  logSeconds(kThird, 50);
  showDetail();
  UITestDriver::selectRow(detail->cwTable(), IndexPath{0, 2});
  auto player = presentedPlayer();
  ASSERT_TRUE(player);
  EXPECT_EQ(player->cw(), lecture(2));
  EXPECT_EQ(player->cwIndex(), 2);
  EXPECT_EQ(player->year(), kYear);
  EXPECT_EQ(player->reclassId(), kClassId);
  EXPECT_EQ(player->cws(), course->cws());
  EXPECT_FLOAT_EQ(player->localLisMins(), 50);
  EXPECT_FALSE(GlobalModel::sharedModel()->isRefresh());
}

TEST_F(CourseDetailScreenTest, ACompleteLectureAsksFirstAndPlaysOnConfirm) {
  setCourses(kLectureMinutes);
  showDetail();
  auto cell = std::dynamic_pointer_cast<CourseWareCell>(
      detail->cwTable()->cellForRowAtIndexPath(IndexPath{0, 0}));
  EXPECT_EQ(cell->state(), 1);
  UITestDriver::selectRow(detail->cwTable(), IndexPath{0, 0});
  ASSERT_EQ(platform::AlertView::topAlert()->tag(),
            CourseDetailViewController::kTagCompleteQuestion);
  UITestDriver::answerAlert(1);
  auto player = presentedPlayer();
  ASSERT_TRUE(player);
  EXPECT_EQ(player->cw(), lecture(0));
}

TEST_F(CourseDetailScreenTest, ALectureWithoutMobileVideoCanNeitherPlayNorDownload) {
  lecture(0)->setVideoUrl(ServerConfig::mediaBaseURL() + "null");
  lecture(1)->setVideoUrl(std::string());
  showDetail();
  auto expectRefusal = [&](const std::shared_ptr<platform::TableView>& table, int row) {
    UITestDriver::selectRow(table, IndexPath{0, row});
    ASSERT_TRUE(platform::AlertView::topAlert());
    EXPECT_EQ(platform::AlertView::topAlert()->message(),
              "本讲课程暂不提供移动设备观看，请返回PC端学习。");
    UITestDriver::answerAlert(0);
  };
  for (int row : {0, 1}) expectRefusal(detail->cwTable(), row);
  UITestDriver::tap(detail->btnDownload());
  UITestDriver::settle(1.0);
  for (int row : {0, 1}) expectRefusal(detail->selectTable(), row);
  EXPECT_FALSE(presentedPlayer());
  EXPECT_FALSE(DownloadDao().exists(platform::Value(1234), platform::Value(kFirst),
                                    platform::Value(std::string("2014")),
                                    platform::Value(std::string("110000"))));
}

TEST_F(CourseDetailScreenTest, ADownloadTapQueuesTheLectureOnceAndShowsItOrdered) {
  showDetail();
  UITestDriver::tap(detail->btnDownload());
  UITestDriver::settle(1.0);
  EXPECT_EQ(detail->pageArea()->contentOffset().x, CourseDetailViewController::kPageWidth);
  UITestDriver::selectRow(detail->selectTable(), IndexPath{0, 1});
  EXPECT_TRUE(DownloadDao().queryByState(platform::Value(1234), platform::Value(kSecond),
                                         platform::Value(0), platform::Value(std::string("110000")),
                                         platform::Value(std::string("2014"))));
  EXPECT_EQ(services->downloadManager()->isDownloading().count("110000_2014_9002"), 1u);
  EXPECT_TRUE(GlobalModel::sharedModel()->downloadRefresh());
  auto row = downloadRow(1);
  EXPECT_EQ(row->state(), 1);
  EXPECT_FALSE(row->isUserInteractionEnabled());
  EXPECT_EQ(downloadRow(0)->state(), 0);
  EXPECT_TRUE(downloadRow(0)->isUserInteractionEnabled());
}

TEST_F(CourseDetailScreenTest, ADownloadOrderedOnAFullDeviceIsNotQueuedAndSaysSo) {
  showDetail();
  UITestDriver::tap(detail->btnDownload());
  UITestDriver::settle(1.0);
  auto ordered = [&] {
    return DownloadDao().queryByState(platform::Value(1234), platform::Value(kSecond),
                                      platform::Value(0), platform::Value(std::string("110000")),
                                      platform::Value(std::string("2014")));
  };
  {
    testsupport::FullDisk full;
    UITestDriver::selectRow(detail->selectTable(), IndexPath{0, 1});
  }
  EXPECT_EQ(screentest::lastNotice(), "设备存储空间不足");
  EXPECT_FALSE(ordered());
  EXPECT_EQ(services->downloadManager()->isDownloading().count("110000_2014_9002"), 0u)
      << "a lecture the list does not know is not fetched";
  EXPECT_EQ(downloadRow(1)->state(), 0) << "the row can be ordered again";
  EXPECT_TRUE(downloadRow(1)->isUserInteractionEnabled());
  UITestDriver::settle(3);  // the notice goes

  // With room again, the same tap orders it.
  UITestDriver::selectRow(detail->selectTable(), IndexPath{0, 1});
  EXPECT_TRUE(ordered());
  EXPECT_EQ(services->downloadManager()->isDownloading().count("110000_2014_9002"), 1u);
  EXPECT_FALSE(screentest::lastNotice());
}

TEST_F(CourseDetailScreenTest, OfflineTheScreenShowsOnlyTheRetryButton) {
  GlobalModel::sharedModel()->setGlobalNetWorkStatus(std::string("NotReachable"));
  showDetail();
  EXPECT_EQ(screentest::lastNotice(), "请检查网络");
  EXPECT_TRUE(detail->reclssView()->isHidden());
  EXPECT_TRUE(detail->pageArea()->isHidden());
  EXPECT_FALSE(detail->btnRefresh()->isHidden());
  GlobalModel::sharedModel()->setGlobalNetWorkStatus(std::string("ReachableViaWiFi"));
  UITestDriver::settle(3.0);  // the notice goes
  UITestDriver::tap(detail->btnRefresh());
  EXPECT_TRUE(detail->btnRefresh()->isHidden());
  EXPECT_FALSE(detail->reclssView()->isHidden());
}

TEST_F(CourseDetailScreenTest, AfterASyncTheScreenTakesTheRefreshedCourseById) {
  showDetail();
  auto before = lecture(0);
  // A sync stores the server's refreshed course tree: the first lecture now has 5 minutes.
  setCourses(5);
  auto other = platform::ViewController::create();
  presenter->navigationController()->pushViewController(other, false);
  presenter->navigationController()->popViewControllerAnimated(false);
  EXPECT_EQ(detail->currReclass(), course);
  UITestDriver::selectRow(detail->cwTable(), IndexPath{0, 0});
  auto player = presentedPlayer();
  ASSERT_TRUE(player);
  EXPECT_NE(player->cw(), before);
  EXPECT_DOUBLE_EQ(player->creditedPoint(), 300);
}

TEST(CourseDetailTimeText, SecondsRoundDownToTens) {
  EXPECT_EQ(CourseDetailViewController::toVideoTime(754), "00:12:30");
  EXPECT_EQ(CourseDetailViewController::toVideoTime(125), "00:02:00");
  EXPECT_EQ(CourseDetailViewController::toVideoTime(3725), "01:02:00");
}

TEST_F(CourseDetailScreenTest, CourseDetailSnapshot) {
  storeHistory(kSecond, 754, "2014-05-01 10:00:00");
  setCourses(60, 20);
  showDetail();
  UITestDriver::settle(1.5);
  screentest::expectSnapshot(*window, "coursedetail");
}

}  // namespace
