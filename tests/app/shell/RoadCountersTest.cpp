// The figures of a road's summary come from where the application keeps them: the study time the
// players wrote this run, the minutes the course server accepted this run and the seconds left in
// the study log, lecture bytes from the folders of the lectures the download queue finishes,
// requests from the local media server.

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <filesystem>

#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "download/DownloadNotifications.h"
#include "fakeserver/FakeCourseServer.h"
#include "httpserver/core/HTTPServer.h"
#include "localserver/LocalHttpServer.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/Application.h"
#include "screens/ScreenTestSupport.h"
#include "shell/RoadCounters.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "util/DateUtil.h"

namespace {

using platform::Dictionary;

class RoadCountersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services = std::make_shared<screentest::TestServices>("127.0.0.1:9");
    platform::Application::sharedApplication().setDelegate(services);
  }
  void TearDown() override {
    platform::Application::sharedApplication().setDelegate(nullptr);
    GlobalModel::sharedModel()->setUserId(0);
  }

  static Dictionary firstStep(int cwId) {
    const std::string now = DateUtil::getCurrDateString();
    return {{"userid", 7},        {"year", "2014"},        {"reclassid", 301},   {"cwid", cwId},
            {"createdTime", now}, {"lastUpdateTime", now}, {"listenedPos", "10"}};
  }
  static void writeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testsupport::writeFile(path, content);
  }

  testsupport::TempHome home;
  platform::ScopedManualClock clock;
  std::shared_ptr<screentest::TestServices> services;
};

TEST_F(RoadCountersTest, StudyTimeIsWhatThisRunCreditedWhatTheServerTookAndWhatIsLeft) {
  fakeserver::FakeCourseServer server;
  ASSERT_TRUE(server.start());
  services->setNetWork(NetworkEngine::create(server.apiHost() + "/api"));
  GlobalModel::sharedModel()->setUserId(7);

  RoadCounters counters;
  counters.sample();  // before any store exists: nothing
  EXPECT_EQ(counters.studySecondsKept(), 0);

  // A home used before: ten seconds an earlier run left unsent. They are kept, not credited now.
  StudyLogDao dao;
  ModelDao histories;
  ASSERT_TRUE(dao.insert(firstStep(9001)));
  counters.sample();
  EXPECT_EQ(counters.studySecondsCredited(), 0);
  EXPECT_EQ(counters.studySecondsKept(), 10);

  auto& backlog = *services->studyTimeBacklog();
  ASSERT_TRUE(backlog.addStep(dao, histories, firstStep(9001), 10));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(backlog.addStep(dao, histories, firstStep(9002), 10));
  counters.sample();
  EXPECT_EQ(counters.studySecondsCredited(), 40);
  EXPECT_EQ(counters.studyMinutesSent(), 0);
  EXPECT_EQ(counters.studySecondsKept(), 50);

  // The upload: 20 seconds earn no minute and stay; 30 seconds are sent as one minute.
  bool done = false;
  services->netWork()->syncStudyLog(
      "7", [&](const std::optional<std::string>&) { done = true; },
      [&](const platform::Error&) { done = true; });
  ASSERT_TRUE(testsupport::runUntil([&] { return done; }));
  counters.sample();
  EXPECT_EQ(counters.studySecondsCredited(), 40);
  EXPECT_EQ(counters.studyMinutesSent(), 1);
  EXPECT_EQ(counters.studySecondsKept(), 20);
  counters.sample();
  EXPECT_EQ(counters.studySecondsCredited(), 40) << "a second look counts nothing twice";
  EXPECT_EQ(counters.studyMinutesSent(), 1);
}

TEST_F(RoadCountersTest, LectureBytesAreTheFoldersOfFinishedLectures) {
  const std::string root = platform::Paths::documents() + "/7";
  services->downloadManager()->setDownloadToPath(root);
  writeFile(root + "/110000_2014_9001/index.m3u8", std::string(100, 'm'));
  writeFile(root + "/110000_2014_9001/0.ts", std::string(4000, 't'));
  writeFile(root + "/110000_2014_9001/css/notes.css", std::string(20, 'c'));
  writeFile(root + "/110000_2014_9002/0.ts", std::string(5000, 't'));

  RoadCounters counters;
  auto& center = platform::NotificationCenter::defaultCenter();
  center.post(kCellFinish, platform::Value(), {{kCwIdKey, "110000_2014_9001"}});
  EXPECT_EQ(counters.lectureBytesDownloaded(), 4120u);
  center.post(kCellNetworkError, platform::Value(), {{kCwIdKey, "110000_2014_9002"}});
  EXPECT_EQ(counters.lectureBytesDownloaded(), 4120u) << "only finished lectures count";
  center.post(kCellFinish, platform::Value(), {{kCwIdKey, "110000_2014_9002"}});
  EXPECT_EQ(counters.lectureBytesDownloaded(), 9120u);
}

TEST_F(RoadCountersTest, MediaRequestsAreTheLocalServersAnswers) {
  ::setenv("CHENGHENG_MEDIA_PORT", "0", 1);
  GlobalModel::sharedModel()->setUserId(7);
  writeFile(platform::Paths::documents() + "/7/k/index.m3u8", "#EXTM3U\n");
  RoadCounters counters;
  counters.sample();
  EXPECT_EQ(counters.mediaRequestsServed(), 0u) << "no media server made yet";

  services->setHttpServer(std::make_shared<LocalHttpServer>());
  services->httpServer()->start();
  ASSERT_TRUE(services->httpServer()->isRunning());
  httplib::Client client("127.0.0.1", services->httpServer()->httpServer()->listeningPort());
  auto found = client.Get("/k/index.m3u8");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->status, 200);
  auto missing = client.Get("/k/none.ts");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  ASSERT_TRUE(testsupport::runUntil([&] {
    counters.sample();
    return counters.mediaRequestsServed() == 2;
  }));
  services->httpServer()->stop();
  ::unsetenv("CHENGHENG_MEDIA_PORT");
}

}  // namespace
