// The lecture player and its study-time accounting on the manual clock: 10-second steps past
// the credited point, the idle question, the listen history, lecture switching and closing.

#include <gtest/gtest.h>

#include <cmath>

#include "LectureTestSupport.h"
#include "alerts/NoticeAlertView.h"
#include "dao/ModelDao.h"
#include "model/GlobalModel.h"
#include "model/ListenHistory.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/UITestDriver.h"
#include "screens/common/ScreenNotifications.h"
#include "support/MainLoop.h"

namespace {

using platform::MoviePlaybackState;
using platform::UITestDriver;
using screentest::LectureTest;

class PlayerStudyTimeTest : public LectureTest {
 protected:
  model::List<ListenHistory> histories() {
    ModelDao dao;
    return dao.getAllListenHistory(platform::Value(1234), platform::Value(kYear));
  }
  std::shared_ptr<platform::AlertView> alertTagged(int tag) {
    auto alert = platform::AlertView::topAlert();
    return alert && alert->tag() == tag ? alert : nullptr;
  }
};

TEST_F(PlayerStudyTimeTest, TheFirstStepComesAtTheTenthPlayingSecondThenOneEveryTen) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(9);
  EXPECT_EQ(player->playSecond(), 9);
  EXPECT_EQ(unsentSeconds(kFirst), 0);
  play(1);
  EXPECT_EQ(unsentSeconds(kFirst), 10);
  play(20);
  EXPECT_EQ(unsentSeconds(kFirst), 30);
  EXPECT_EQ(unsentSeconds(kSecond), 0);
}

TEST_F(PlayerStudyTimeTest, PausedTimeCountsNothing) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(5);
  player->playerController()->pause();
  play(60);
  EXPECT_EQ(player->playSecond(), 5);
  player->playerController()->play();
  play(5);
  EXPECT_EQ(unsentSeconds(kFirst), 10);
}

TEST_F(PlayerStudyTimeTest, StepsComeOnlyWhileThePositionIsPastTheCreditedPoint) {
  setCourses(1);  // 60 credited seconds
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  EXPECT_DOUBLE_EQ(player->creditedPoint(), 60);
  // The start jumps to the first uncredited second a second in.
  play(2);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 61, 0.001);
  // Seeking back below the credited point: the tenth second writes nothing.
  player->playerController()->setCurrentPlaybackTime(20);
  play(8);
  EXPECT_EQ(player->playSecond(), 10);
  EXPECT_EQ(unsentSeconds(kFirst), 0);
  // Seeking past it: the next tenth second is credited at once.
  player->playerController()->setCurrentPlaybackTime(300);
  play(10);
  EXPECT_EQ(unsentSeconds(kFirst), 10);
}

TEST_F(PlayerStudyTimeTest, ALectureCreditedToItsEndWritesNoStepsAndIsNotMoved) {
  setCourses(kLectureMinutes);
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(30);
  EXPECT_EQ(unsentSeconds(kFirst), 0);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 30, 0.001);
}

TEST_F(PlayerStudyTimeTest, UnsentSecondsOnTheDeviceMoveTheCreditedPoint) {
  logSeconds(kFirst, 90);
  // The presenter's figure is not trusted: the player reads the study log itself.
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromStudyDetail, false, 0);
  EXPECT_DOUBLE_EQ(player->creditedPoint(), 90);
  play(2);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 91, 0.001);
  play(8);
  EXPECT_EQ(unsentSeconds(kFirst), 100);
}

TEST_F(PlayerStudyTimeTest, NothingPlaysOrIsCreditedWhileTheApplicationIsInTheBackground) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(11);  // the jump to 0 at the first second, then 0..10
  EXPECT_EQ(unsentSeconds(kFirst), 10);
  auto& app = platform::Application::sharedApplication();
  app.enterBackground();
  play(300);
  EXPECT_EQ(unsentSeconds(kFirst), 10);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 10, 0.001);
  EXPECT_FALSE(alertTagged(PlayVideoViewController::kTagIdle));

  app.enterForeground();
  ASSERT_TRUE(waitUntilPlaying(*player));
  play(10);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 20, 0.001);
  EXPECT_EQ(unsentSeconds(kFirst), 20);
}

TEST_F(PlayerStudyTimeTest, TenMinutesWithoutATouchPauseAndAsk) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  // Play and pause do not count as touching the player.
  play(300);
  UITestDriver::tap(player->btnPlay());
  play(2);
  UITestDriver::tap(player->btnPlay());
  testsupport::runUntil(
      [&] { return player->playerController()->playbackState() == MoviePlaybackState::Playing; });
  play(299);
  EXPECT_FALSE(alertTagged(PlayVideoViewController::kTagIdle));
  play(1);
  auto alert = alertTagged(PlayVideoViewController::kTagIdle);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title(), "提示");
  EXPECT_EQ(alert->message(), "您已经10分钟未与视频交互,是否继续听课？");
  EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"取消", "确定"}));
  play(1);
  EXPECT_EQ(player->playerController()->playbackState(), MoviePlaybackState::Paused);
  EXPECT_EQ(PlayVideoViewController::idleSeconds(), 0);

  UITestDriver::answerAlert(1);
  testsupport::runUntil(
      [&] { return player->playerController()->playbackState() == MoviePlaybackState::Playing; });
  play(10);
  EXPECT_EQ(PlayVideoViewController::idleSeconds(), 10);
  EXPECT_FALSE(player->isClosed());
}

TEST_F(PlayerStudyTimeTest, ATouchOnThePlayerStartsTheIdleCountAgain) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(590);
  UITestDriver::tap(player->btnSwitch());
  play(20);
  EXPECT_FALSE(alertTagged(PlayVideoViewController::kTagIdle));
  EXPECT_EQ(PlayVideoViewController::idleSeconds(), 20);
}

TEST_F(PlayerStudyTimeTest, CancellingTheIdleQuestionClosesAndRecordsTheHistory) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  PlayVideoViewController::setIdleSeconds(590);
  play(10);
  ASSERT_TRUE(alertTagged(PlayVideoViewController::kTagIdle));
  UITestDriver::answerAlert(0);
  EXPECT_TRUE(player->isClosed());
  auto rows = histories();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]->cwid(), kFirst);
}

TEST_F(PlayerStudyTimeTest, ClosingStoresTheWholeSecondsOfThePositionAndPostsOnce) {
  int posted = 0;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kUpdateListenedMins, [&](const platform::Notification&) { ++posted; });
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromDownloadList, false);
  // The start jumps back to the credited point (0) a second in.
  play(126);
  clock->advanceSeconds(0.9);
  ASSERT_NEAR(player->playerController()->currentPlaybackTime(), 125.9, 0.001);
  player->back();
  auto rows = histories();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]->listenedMilliseconds(), 125);
  EXPECT_EQ(rows[0]->reclassId(), kClassId);
  EXPECT_EQ(rows[0]->areCode(), "110000");
  EXPECT_EQ(rows[0]->year(), "2014");
  EXPECT_EQ(posted, 1);

  // A second close, or a late finish notice, writes and posts nothing more.
  player->back();
  platform::NotificationCenter::defaultCenter().post(
      platform::kMoviePlayerPlaybackDidFinishNotification,
      platform::Value::object(player->playerController()), {});
  play(2);
  EXPECT_EQ(histories().size(), 1u);
  EXPECT_EQ(posted, 1);
  play(20);
  EXPECT_EQ(unsentSeconds(kFirst), 120);
}

TEST_F(PlayerStudyTimeTest, EachLectureCountsItsOwnTenSecondsAfterASwitch) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(7);
  UITestDriver::tap(player->btnNext());
  ASSERT_TRUE(waitUntilPlaying(*player));
  EXPECT_EQ(player->cwIndex(), 1);
  EXPECT_EQ(player->playSecond(), 0);
  play(9);
  EXPECT_EQ(unsentSeconds(kSecond), 0);
  play(1);
  EXPECT_EQ(unsentSeconds(kSecond), 10);
  EXPECT_EQ(unsentSeconds(kFirst), 0);
}

TEST_F(PlayerStudyTimeTest, ASwitchCancelsTheJumpPendingForTheReplacedLecture) {
  setCourses(30);  // the first lecture jumps to 1800 s a second after it starts
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  UITestDriver::tap(player->btnNext());
  ASSERT_TRUE(waitUntilPlaying(*player));
  play(5);
  EXPECT_EQ(player->cwIndex(), 1);
  EXPECT_LT(player->playerController()->currentPlaybackTime(), 10);
}

TEST_F(PlayerStudyTimeTest, ClosingBeforeThePendingJumpLeavesThePlayerAlone) {
  setCourses(30);
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  player->back();
  play(3);
  EXPECT_TRUE(player->isClosed());
  EXPECT_LT(player->playerController()->currentPlaybackTime(), 1);
  auto rows = histories();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]->listenedMilliseconds(), 0);
}

TEST_F(PlayerStudyTimeTest, NextLecturesFinishNoticeOfTheReplacedMovieDoesNotAdvanceAgain) {
  auto player = openPlayer(1, PlayVideoViewController::kEnterFromCourseDetail, true);
  UITestDriver::tap(player->btnNext());
  ASSERT_TRUE(waitUntilPlaying(*player));
  play(3);
  EXPECT_EQ(player->cwIndex(), 2);
  EXPECT_FALSE(player->isClosed());
  EXPECT_EQ(player->titleLabel()->text(), "第3讲");
}

TEST_F(PlayerStudyTimeTest, PreviousAndNextStopAtTheEndsOfTheList) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  UITestDriver::tap(player->btnLast());
  EXPECT_EQ(screentest::lastNotice(), "没有视频可以切换");
  EXPECT_EQ(player->cwIndex(), 0);
  EXPECT_FALSE(player->isClosed());
}

TEST_F(PlayerStudyTimeTest, TheEndOfALectureWithoutAListShowsTheNoticeAndCloses) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromDownloadList, false);
  EXPECT_TRUE(player->btnNext()->isHidden());
  EXPECT_TRUE(player->btnLast()->isHidden());
  player->playerController()->setCurrentPlaybackTime(3599);
  play(2);
  EXPECT_EQ(screentest::lastNotice(), "没有视频可以切换");
  EXPECT_TRUE(player->isClosed());
}

TEST_F(PlayerStudyTimeTest, APlaybackErrorFromStudyDetailsTellsToLogInOnline) {
  lecture(0)->setVideoUrl(server.mediaUrl("missing/index.m3u8"));
  auto player = PlayVideoViewController::create(std::string("PlayVideoViewController"));
  player->setCw(lecture(0));
  player->setReclassId(kClassId);
  player->setYear(kYear);
  player->setEnterIndex(PlayVideoViewController::kEnterFromStudyDetail);
  presenter->navigationController()->presentViewController(player, true);
  ASSERT_TRUE(testsupport::runUntil([&] { return alertTagged(1000) != nullptr; }));
  EXPECT_EQ(platform::AlertView::topAlert()->message(), "此课件未下载，请在线登录播放");
  UITestDriver::answerAlert(0);
  EXPECT_TRUE(player->isClosed());
}

TEST(PlayerTimeText, HoursMinutesAndSecondsInTwoDigits) {
  EXPECT_EQ(PlayVideoViewController::toVideoTime(3725), "01:02:05");
  EXPECT_EQ(PlayVideoViewController::toVideoTime(0), "00:00:00");
  EXPECT_EQ(PlayVideoViewController::getFileName("http://h/a/b/index.m3u8"), "index.m3u8");
  EXPECT_EQ(PlayVideoViewController::getFileName("index.m3u8"), "index.m3u8");
}

TEST_F(PlayerStudyTimeTest, TheElapsedTimeFollowsThePositionAndStopsWhileSeeking) {
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromDownloadList, false);
  play(3);
  EXPECT_EQ(player->beginLabel()->text(), "00:00:02");  // the start jumped back to 0 at 1 s
  EXPECT_EQ(player->endLabel()->text(), "01:00:00");
  player->playerController()->beginSeekingForward();
  play(5);
  EXPECT_EQ(player->beginLabel()->text(), "00:00:02");
  player->playerController()->endSeeking();
  play(2);
  EXPECT_EQ(player->beginLabel()->text(), "00:00:04");
}

TEST_F(PlayerStudyTimeTest, PlayerSnapshot) {
  openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(3);
  screentest::expectSnapshot(*window, "player", true);
}

}  // namespace
