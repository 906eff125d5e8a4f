// Study time end to end: a learner plays, switches, uploads in the middle of playing, resumes and
// replays, and every credited second is either uploaded or still unsent, once. And a downloaded
// lecture plays offline through the local media server.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "LectureTestSupport.h"
#include "alerts/NoticeAlertView.h"
#include "dao/CourseWareDao.h"
#include "dao/DownloadDao.h"
#include "dao/ModelDao.h"
#include "download/DownloadNotifications.h"
#include "httpserver/core/HTTPServer.h"
#include "localserver/LocalHttpServer.h"
#include "model/DownloadInfo.h"
#include "model/GlobalModel.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UITestDriver.h"
#include "screens/courses/CourseDetailViewController.h"
#include "screens/courses/MyCourseViewController.h"
#include "screens/studylog/StudyDetailController.h"
#include "screens/studylog/StudyLogController.h"
#include "studytime/StudyTimeBacklog.h"
#include "support/FullDisk.h"
#include "support/MainLoop.h"
#include "widgets/MirelTabBarController.h"

namespace {

using platform::IndexPath;
using platform::UITestDriver;
using screentest::LectureTest;

class StudyTimeLedgerTest : public LectureTest {
 protected:
  // The main screen of a login: my courses first, study records third.
  void logIn() {
    serveCourses(200, courseAnswer(0));
    myCourses = MyCourseViewController::create(std::string("MyCourseViewController"));
    records = StudyLogController::create();
    root = platform::ViewController::create();
    nav = show(root);
    std::vector<std::shared_ptr<platform::ViewController>> screens{
        myCourses, platform::ViewController::create(), records, platform::ViewController::create()};
    std::vector<platform::Dictionary> images(4, platform::Dictionary{{"Default", "icon"}});
    auto tabBar = MirelTabBarController::create(
        screens, images, std::vector<std::string>{"我的课程", "本地课程", "学习记录", "设置"}, 0u);
    GlobalModel::sharedModel()->setTabBarViewController(tabBar);
    nav->pushViewController(tabBar, false);
    ASSERT_TRUE(testsupport::runUntil([&] { return myCourses->courses().has_value(); }));
    records->view();  // the tab's screen is built once the main screen exists
  }
  std::shared_ptr<PlayVideoViewController> player() {
    return std::dynamic_pointer_cast<PlayVideoViewController>(nav->presentedViewController());
  }
  // The course list answers `status` and `answer` from now on.
  void serveCourses(int status, const std::string& answer) {
    server.setAnswer("/api/getRetrainCourseDatas.html", status, answer);
    if (status == 200) served_ = answer;
  }
  // The sync's own course fetch, before its upload, still finds the server's tree as it was;
  // the fetches after the upload get `status` and `answer`.
  void serveCoursesAfterUpload(int status, const std::string& answer) {
    const std::string before = served_;
    serveCourses(status, answer);
    server.answerNext("/api/getRetrainCourseDatas.html", 200, before);
  }
  std::string served_;
  // Syncs from the study records screen while whatever is on screen stays there; the server
  // then credits `answer`. Returns the seconds the upload carried (its minutes, in seconds).
  int syncWithServerAnswer(const std::string& answer) {
    const auto before = server.requestsTo("/api/acceptRetrainStudyLog.html").size();
    serveCoursesAfterUpload(200, answer);
    records->syncStudyLog();
    UITestDriver::answerAlert(1);
    EXPECT_TRUE(testsupport::runUntil([] {
      auto alert = platform::AlertView::topAlert();
      return alert && alert->message() == "同步成功";
    }));
    UITestDriver::answerAlert(0);
    auto uploads = server.requestsTo("/api/acceptRetrainStudyLog.html");
    EXPECT_EQ(uploads.size(), before + 1);
    int seconds = 0;
    auto document = nlohmann::json::parse(uploads.back().param("studyLogs"));
    for (const auto& year : document["logs"])
      for (const auto& cw : year["cws"]) seconds += 60 * cw["listenedMinutes"].get<int>();
    return seconds;
  }
  void closePlayer() {
    UITestDriver::tap(player()->backButton());
    UITestDriver::settle(1.0);
  }
  // Closes the player and waits for the course fetch my courses makes on it.
  void closePlayerAndRefetch() {
    closePlayer();
    ASSERT_TRUE(testsupport::runUntil(
        [&] { return !screentest::isWaitHUDShown(myCourses->progressHUD()); }));
  }
  // Syncs from the study records screen; the course fetch after the upload answers `status`
  // (with `answer`), and later fetches answer `answer`. Returns the minutes the upload carried,
  // none when no upload was sent.
  int syncWithRefresh(int status, const std::string& answer) {
    const auto uploads = server.requestsTo("/api/acceptRetrainStudyLog.html").size();
    serveCoursesAfterUpload(status, answer);
    records->syncStudyLog();
    UITestDriver::answerAlert(1);
    EXPECT_TRUE(screentest::isWaitHUDShown(records->progressHUD())) << "the sync is under way";
    EXPECT_TRUE(
        testsupport::runUntil([&] { return !screentest::isWaitHUDShown(records->progressHUD()); }));
    if (auto alert = platform::AlertView::topAlert(); alert && alert->message() == "同步成功")
      UITestDriver::answerAlert(0);
    // A failed fetch's notice takes the touches of the steps after it until it goes.
    if (screentest::lastNotice() == "请检查网络") UITestDriver::settle(3);
    serveCourses(200, answer);
    auto sent = server.requestsTo("/api/acceptRetrainStudyLog.html");
    if (sent.size() == uploads) return 0;
    int minutes = 0;
    auto document = nlohmann::json::parse(sent.back().param("studyLogs"));
    for (const auto& year : document["logs"])
      for (const auto& cw : year["cws"]) minutes += cw["listenedMinutes"].get<int>();
    return minutes;
  }
  // Opens the first lecture from the course detail (my courses' first course).
  void openFirstLecture() {
    nav->popToViewController(GlobalModel::sharedModel()->tabBarViewController().get(), false);
    UITestDriver::settle(1.0);
    UITestDriver::selectRow(myCourses->leftTableView(), IndexPath{0, 0});
    auto detail = std::dynamic_pointer_cast<CourseDetailViewController>(nav->topViewController());
    ASSERT_TRUE(detail);
    UITestDriver::selectRow(detail->cwTable(), IndexPath{0, 0});
    ASSERT_TRUE(player() && waitUntilPlaying(*player()));
  }
  // Presents a player for `cw` of the course as a screen holding an old lecture object would.
  void presentPlayer(const std::shared_ptr<CourseWare>& cw) {
    auto screen = PlayVideoViewController::create(std::string("PlayVideoViewController"));
    screen->setCw(cw);
    screen->setReclassId(kClassId);
    screen->setYear(kYear);
    screen->setEnterIndex(PlayVideoViewController::kEnterFromDownloadList);
    nav->presentViewController(screen, true);
    ASSERT_TRUE(waitUntilPlaying(*screen));
  }
  // The first lecture's minutes in the global course tree and in the stored one.
  static std::int64_t minutesInMemory() {
    for (const auto& year : *GlobalModel::sharedModel()->courses())
      for (const auto& rc : *year->reClasses())
        for (const auto& cw : *rc->cws())
          if (cw->cwId() == kFirst) return cw->listenedMins().value_or(-1);
    return -1;
  }
  static std::int64_t minutesStored() {
    auto cw = CourseWareDao().queryCwByUserId(
        platform::Value(1234), platform::Value(std::string("110000")), platform::Value(kYear),
        platform::Value(kClassId), platform::Value(kFirst));
    return cw ? cw->listenedMins().value_or(-1) : -1;
  }

  std::shared_ptr<MyCourseViewController> myCourses;
  std::shared_ptr<StudyLogController> records;
};

TEST_F(StudyTimeLedgerTest, EverySecondCreditedIsUploadedOrUnsentOnce) {
  logIn();
  int credited = 0;  // what the scenario must credit, second by second of new lecture time
  int uploaded = 0;
  auto ledgerHolds = [&] { return credited == uploaded + unsentTotal(); };

  UITestDriver::selectRow(myCourses->leftTableView(), IndexPath{0, 0});
  auto detail = std::dynamic_pointer_cast<CourseDetailViewController>(nav->topViewController());
  ASSERT_TRUE(detail);
  UITestDriver::selectRow(detail->cwTable(), IndexPath{0, 0});
  ASSERT_TRUE(player() && waitUntilPlaying(*player()));
  play(120);  // lecture 1, 0..120
  credited += 120;
  EXPECT_TRUE(ledgerHolds());

  // The upload runs while the lecture plays on; the server credits its two minutes.
  uploaded += syncWithServerAnswer(courseAnswer(2));
  EXPECT_EQ(uploaded, 120);
  EXPECT_EQ(unsentTotal(), 0);
  play(60);  // lecture 1, 120..180: new ground past the point credited when it was opened
  credited += 60;
  EXPECT_EQ(unsentSeconds(kFirst), 60);
  EXPECT_TRUE(ledgerHolds());

  UITestDriver::tap(player()->btnNext());
  ASSERT_TRUE(waitUntilPlaying(*player()));
  play(60);  // lecture 2, 0..60
  credited += 60;
  EXPECT_TRUE(ledgerHolds());

  // Back to lecture 1: its credited point is the server's refreshed two minutes plus the minute
  // still unsent, whatever the lecture object the player holds says.
  UITestDriver::tap(player()->btnLast());
  ASSERT_TRUE(waitUntilPlaying(*player()));
  EXPECT_DOUBLE_EQ(player()->creditedPoint(), 180);
  play(40);  // lecture 1, 180..220
  credited += 40;
  EXPECT_NEAR(player()->playerController()->currentPlaybackTime(), 219, 0.001);
  EXPECT_TRUE(ledgerHolds());
  closePlayer();

  // Resume: the refreshed course, the last listen's lecture, ten seconds before where it ended.
  EXPECT_EQ(detail->recordBtn()->titleForState(platform::ControlState::Normal),
            "上次学习到第1讲00:03:30");
  UITestDriver::tap(detail->recordBtn());
  ASSERT_TRUE(player() && waitUntilPlaying(*player()));
  EXPECT_EQ(player()->cw()->listenedMins(), 2);
  EXPECT_DOUBLE_EQ(player()->creditedPoint(), 220);
  play(30);  // lecture 1 from 209: 209..220 was credited already, 220..239 is new
  credited += 20;
  EXPECT_NEAR(player()->playerController()->currentPlaybackTime(), 238, 0.001);
  EXPECT_TRUE(ledgerHolds());
  closePlayer();

  // Replay from the year's listen history.
  auto details = StudyDetailController::create();
  details->setYear("2014");
  nav->pushViewController(details, false);
  UITestDriver::selectRow(details->detailTable(), IndexPath{0, 0});
  ASSERT_TRUE(player() && waitUntilPlaying(*player()));
  EXPECT_DOUBLE_EQ(player()->creditedPoint(), 240);
  play(60);  // lecture 1, 240..300
  credited += 60;
  EXPECT_TRUE(ledgerHolds());
  closePlayer();

  EXPECT_EQ(unsentSeconds(kFirst), 180);
  EXPECT_EQ(unsentSeconds(kSecond), 60);
  uploaded += syncWithServerAnswer(courseAnswer(5, 1));
  EXPECT_EQ(credited, 360);
  EXPECT_EQ(uploaded, 360);
  EXPECT_EQ(unsentTotal(), 0);

  // My courses shows the refreshed tree once it is back on screen.
  nav->popToViewController(GlobalModel::sharedModel()->tabBarViewController().get(), false);
  UITestDriver::settle(1.0);
  EXPECT_EQ(myCourses->courses(), GlobalModel::sharedModel()->courses());
}

// What the server credits for an upload stays credited on the device, whatever the course fetch
// after it answers: the stretch uploaded is not credited again, neither when the lecture is
// opened again online nor from the stored tree an offline login works with. Seconds short of a
// whole minute count as a minute from 21 seconds on.
struct AcceptedUpload {
  const char* name;
  int played;         // seconds played from the start before the sync
  int refreshStatus;  // of the course fetch after the upload
  int minutesSent;
  int unsentAfter;    // what the upload leaves on the device
  int creditedPoint;  // of the lecture when opened again
};

void PrintTo(const AcceptedUpload& c, std::ostream* os) { *os << c.name; }

class AcceptedUploadTest : public StudyTimeLedgerTest,
                           public ::testing::WithParamInterface<AcceptedUpload> {};

TEST_P(AcceptedUploadTest, TheUploadedStretchIsCreditedOnceWhateverTheRefreshDoes) {
  const AcceptedUpload& c = GetParam();
  logIn();
  openFirstLecture();
  play(c.played + 1);  // the first second is the jump to the credited point (0)
  closePlayerAndRefetch();
  ASSERT_EQ(unsentSeconds(kFirst), c.played);

  const int sent = syncWithRefresh(c.refreshStatus, courseAnswer(c.minutesSent));
  EXPECT_EQ(sent, c.minutesSent);
  EXPECT_EQ(unsentSeconds(kFirst), c.unsentAfter);
  EXPECT_EQ(minutesInMemory(), c.minutesSent);
  EXPECT_EQ(minutesStored(), c.minutesSent);
  // The same stored tree is what an offline login works with.
  auto stored = DBService().getCourseFromLocalDB(platform::Value(1234),
                                                 platform::Value(std::string("110000")));
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ((*(*stored[0]->reClasses())[0]->cws())[0]->listenedMins(), c.minutesSent);
  EXPECT_EQ((*stored[0]->reClasses())[0]->listenedMins(), c.minutesSent);

  // Opened again: it goes on past what was credited, and the start heard again earns nothing.
  openFirstLecture();
  EXPECT_DOUBLE_EQ(player()->creditedPoint(), c.creditedPoint);
  play(2);
  EXPECT_NEAR(player()->playerController()->currentPlaybackTime(), c.creditedPoint + 1, 0.001);
  player()->playerController()->setCurrentPlaybackTime(0);
  play(c.creditedPoint - 1);
  closePlayerAndRefetch();
  EXPECT_EQ(unsentSeconds(kFirst), c.unsentAfter);

  // Logged in offline there is no course tree in memory, and the screens may hold a lecture
  // object from before the sync: the stored minutes are what count.
  GlobalModel::sharedModel()->setLoginState(GlobalModel::kLoginOffline);
  GlobalModel::sharedModel()->setCourses(std::nullopt);
  presentPlayer(lecture(0));  // 0 minutes, as the lecture was before the sync
  EXPECT_DOUBLE_EQ(player()->creditedPoint(), c.creditedPoint);
  closePlayerAndRefetch();

  // Nothing more to send for what was heard again.
  GlobalModel::sharedModel()->setLoginState(GlobalModel::kLoginOnline);
  EXPECT_EQ(syncWithRefresh(200, courseAnswer(c.minutesSent)), c.unsentAfter >= 21 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, AcceptedUploadTest,
    ::testing::Values(AcceptedUpload{"TwoMinutesRefreshFails", 120, 500, 2, 0, 120},
                      AcceptedUpload{"HalfAMinuteCountsOneRefreshFails", 30, 500, 1, 0, 60},
                      AcceptedUpload{"HalfAMinuteCountsOneRefreshAnswers", 30, 200, 1, 0, 60},
                      AcceptedUpload{"TheRestOfAMinuteStaysRefreshFails", 150, 500, 2, 30, 150}),
    [](const ::testing::TestParamInfo<AcceptedUpload>& info) { return info.param.name; });

TEST_F(StudyTimeLedgerTest, AStretchPlayedAgainInOneLoadIsCreditedOnce) {
  auto screen = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  play(30);  // 0..29 after the jump to 0 at the first second
  EXPECT_EQ(unsentSeconds(kFirst), 30);
  screen->playerController()->setCurrentPlaybackTime(0);
  play(30);  // 0..30 again
  EXPECT_EQ(unsentSeconds(kFirst), 30);
  play(10);  // 30..40 is new
  EXPECT_EQ(unsentSeconds(kFirst), 40);

  // Back again, a little before the end of what was credited: 25..40 earns nothing, and the
  // step past it credits the ten seconds beyond.
  screen->playerController()->setCurrentPlaybackTime(25);
  play(10);  // 25..35
  EXPECT_EQ(unsentSeconds(kFirst), 40);
  play(10);  // 35..45
  EXPECT_EQ(unsentSeconds(kFirst), 50);
}

TEST_F(StudyTimeLedgerTest, AFullDeviceKeepsTheSecondsAndTellsTheLearnerOnce) {
  auto& backlog = *services->studyTimeBacklog();
  std::shared_ptr<PlayVideoViewController> screen;
  double closedAt = 0;
  {
    testsupport::FullDisk full;
    screen = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
    play(10);
    EXPECT_EQ(unsentSeconds(kFirst), 0);
    EXPECT_EQ(screentest::lastNotice(), StudyTimeBacklog::kNoRoomNotice);
    play(30);  // three more steps that cannot be stored, the notice long gone: nothing more said
    EXPECT_EQ(unsentSeconds(kFirst), 0);
    EXPECT_FALSE(screentest::lastNotice());
    closedAt = std::floor(screen->playerController()->currentPlaybackTime());
    screen->back();
    UITestDriver::settle(1.0);
    ModelDao histories;
    EXPECT_TRUE(
        histories.getAllListenHistory(platform::Value(1234), platform::Value(kYear)).empty());
    EXPECT_FALSE(screentest::lastNotice());
    EXPECT_FALSE(backlog.isEmpty());
  }

  // Room again: the lecture's 40 waiting seconds count as credited, and go to the device with
  // the next step, the listen history with them.
  screen = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  EXPECT_DOUBLE_EQ(screen->creditedPoint(), 40);
  play(10);
  EXPECT_EQ(unsentSeconds(kFirst), 50);
  EXPECT_TRUE(backlog.isEmpty());
  auto rows = ModelDao().getAllListenHistory(platform::Value(1234), platform::Value(kYear));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]->listenedMilliseconds(), static_cast<std::int64_t>(closedAt));
  EXPECT_FALSE(screentest::lastNotice());

  // Full a second time: told again.
  testsupport::FullDisk full;
  play(10);
  EXPECT_EQ(screentest::lastNotice(), StudyTimeBacklog::kNoRoomNotice);
  EXPECT_EQ(unsentSeconds(kFirst), 50);
}

// A batch is marked on the device before it is sent. On a full device the mark cannot be
// written: nothing is sent, the learner is told why, each time they ask, and the seconds stay;
// with room again the next sync sends them once.
TEST_F(StudyTimeLedgerTest, ABatchTheDeviceCannotMarkIsToldAndNotSent) {
  logIn();
  openFirstLecture();
  play(121);
  closePlayerAndRefetch();
  ASSERT_EQ(unsentSeconds(kFirst), 120);
  {
    testsupport::FullDisk full;
    EXPECT_EQ(syncWithRefresh(200, courseAnswer(2)), 0);
    EXPECT_EQ(screentest::lastNotice(), StudyTimeBacklog::kNoRoomNotice);
    EXPECT_FALSE(platform::AlertView::topAlert()) << "no 同步成功";
    EXPECT_EQ(unsentSeconds(kFirst), 120);
    EXPECT_EQ(minutesInMemory(), 0);
    EXPECT_EQ(minutesStored(), 0);

    // Asked again once the notice is gone: told again, and nothing is sent.
    UITestDriver::settle(3.0);
    ASSERT_FALSE(screentest::lastNotice());
    EXPECT_EQ(syncWithRefresh(200, courseAnswer(2)), 0);
    EXPECT_EQ(screentest::lastNotice(), StudyTimeBacklog::kNoRoomNotice);
    EXPECT_TRUE(server.requestsTo("/api/acceptRetrainStudyLog.html").empty());
  }

  UITestDriver::settle(3.0);
  serveCourses(200, courseAnswer(0));
  EXPECT_EQ(syncWithRefresh(200, courseAnswer(2)), 2);
  EXPECT_EQ(unsentSeconds(kFirst), 0);
  EXPECT_EQ(minutesInMemory(), 2);
  EXPECT_EQ(minutesStored(), 2);
}

class OfflinePlayTest : public LectureTest {
 protected:
  void SetUp() override {
    LectureTest::SetUp();
    // A server of this test's own on a free port, as the player makes on its first offline play.
    auto media = std::make_shared<LocalHttpServer>();
    media->httpServer()->setPort(0);
    services->setHttpServer(media);
  }
  void TearDown() override {
    if (services->httpServer()) services->httpServer()->stop();
    LectureTest::TearDown();
  }
  // Downloads the short fixture lecture into the user's folder through the download queue.
  std::string download(const std::shared_ptr<CourseWare>& cw) {
    const std::string key = "110000_2014_" + std::to_string(*cw->cwId());
    bool finished = false;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        kCellFinish, [&](const platform::Notification&) { finished = true; });
    services->downloadManager()->setDownloadToPath(platform::Paths::documents() + "/1234");
    services->downloadManager()->addDownlodTask(cw, key);
    EXPECT_TRUE(testsupport::runUntil([&] { return finished; }, 60));
    DownloadInfo row;
    row.setUserId(1234);
    row.setCwid(cw->cwId());
    row.setReclassId(kClassId);
    row.setYear(kYear);
    row.setState(DownloadDao::kStateFinished);
    row.setAreacode(std::string("110000"));
    services->downloadDao()->insert(row);
    return key;
  }
};

TEST_F(OfflinePlayTest, ADownloadedLecturePlaysFromTheLocalMediaServer) {
  auto cw = lecture(0);
  cw->setVideoUrl(server.mediaUrl("lecture1/index.m3u8"));
  cw->setUrl(server.mediaUrl("lecture1/notes.html"));
  cw->setTotalMins(0);  // nothing to jump to: the position runs from the start
  const std::string remote = *cw->videoUrl();
  const std::string key = download(cw);
  server.clearRequests();

  auto player = openPlayer(0, PlayVideoViewController::kEnterFromDownloadList, false);
  const std::string base =
      "http://127.0.0.1:" + std::to_string(services->httpServer()->httpServer()->listeningPort()) +
      "/" + key;
  EXPECT_EQ(player->playbackVideoUrl(), base + "/index.m3u8");
  EXPECT_EQ(player->playbackPageUrl(), base + "/leture.htm");
  EXPECT_EQ(player->playerController()->contentURL(), base + "/index.m3u8");
  EXPECT_EQ(player->playerController()->loadedSegmentURL().rfind(base, 0), 0u);
  play(1.5);
  EXPECT_NEAR(player->playerController()->currentPlaybackTime(), 1.5, 0.001);
  EXPECT_TRUE(server.requestsTo("/media/lecture1/index.m3u8").empty());
  // The shared lecture keeps its own address.
  EXPECT_EQ(cw->videoUrl(), remote);

  player->back();
  EXPECT_FALSE(services->httpServer()->isRunning());
}

TEST_F(OfflinePlayTest, ALectureWhoseDownloadIsGoneStreamsFromTheServerAgain) {
  auto cw = lecture(0);
  cw->setVideoUrl(server.mediaUrl("lecture1/index.m3u8"));
  cw->setTotalMins(0);
  download(cw);
  auto first = openPlayer(0, PlayVideoViewController::kEnterFromDownloadList, false);
  first->back();
  UITestDriver::settle(1.0);
  services->downloadDao()->del(platform::Value(1234), platform::Value(kClassId),
                               platform::Value(kFirst), platform::Value(std::string("110000")),
                               platform::Value(kYear));
  auto again = openPlayer(0, PlayVideoViewController::kEnterFromDownloadList, false);
  EXPECT_EQ(again->playbackVideoUrl(), server.mediaUrl("lecture1/index.m3u8"));
}

TEST_F(OfflinePlayTest, TheNextLectureOfAListIsPlayedFromTheDeviceToo) {
  auto second = lecture(1);
  second->setVideoUrl(server.mediaUrl("lecture1/index.m3u8"));
  second->setTotalMins(0);
  const std::string key = download(second);
  auto player = openPlayer(0, PlayVideoViewController::kEnterFromCourseDetail, true);
  EXPECT_EQ(player->playbackVideoUrl(), lecture(0)->videoUrl());
  UITestDriver::tap(player->btnNext());
  ASSERT_TRUE(waitUntilPlaying(*player));
  const std::string port = std::to_string(services->httpServer()->httpServer()->listeningPort());
  EXPECT_EQ(player->playbackVideoUrl(), "http://127.0.0.1:" + port + "/" + key + "/index.m3u8");
  EXPECT_EQ(second->videoUrl(), server.mediaUrl("lecture1/index.m3u8"));
}

}  // namespace
