// The roads of a learner's study time against a course server that keeps a ledger. On each road
// the invariant is read from the database and the server's ledger: the seconds heard equal the
// seconds on the device plus the seconds the server credited from this device, and nothing is
// credited that was not heard.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "dao/DBService.h"
#include "dao/StudyLogDao.h"
#include "fakeserver/FakeCourseServer.h"
#include "model/GlobalModel.h"
#include "net/NetworkEngine.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "studytime/StudyBatch.h"
#include "studytime/UnsentStudyTime.h"
#include "studytime/WaitingSettlement.h"
#include "support/FullDisk.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

extern char** environ;

namespace {

using platform::Value;
using testsupport::runUntil;

constexpr int kLearner = 7;
constexpr int kOtherLearner = 8;
constexpr int kYear = 2014;
constexpr int kClass = 301;
constexpr int kLecture = 9001;
constexpr const char* kUpload = "/api/acceptRetrainStudyLog.html";
// The child of the in-flight road reads its home and server from these.
constexpr const char* kChildHome = "CHENGHENG_STUDY_CHILD_HOME";
constexpr const char* kChildApi = "CHENGHENG_STUDY_CHILD_API";

// One lecture of 45 minutes, nothing credited before the ledger's.
const char* kCourseList = R"({"courses": [{"year": 2014, "reclasses": [{"reclassId": 301,
  "cwNum": 1, "cwTotalMinutes": 45, "listenedMinutes": 0, "cws": [{"cwId": 9001,
  "totalMinutes": 45, "listenedMinutes": 0}]}]}]})";

// What a sync ended with: success, or the error's code.
struct SyncEnd {
  bool succeeded = false;
  std::int64_t code = 0;
};

// Seconds heard on lecture kLecture, written as the player writes them.
void hear(int learner, int seconds) {
  StudyLogDao studyLog;
  const Value user(learner), year(kYear), rc(kClass), cw(kLecture);
  if (!studyLog.exists(user, year, rc, cw)) {
    ASSERT_TRUE(studyLog.insert({{"userid", learner},
                                 {"year", std::to_string(kYear)},
                                 {"reclassid", kClass},
                                 {"cwid", kLecture},
                                 {"createdTime", "2014-03-01 10:00:00"},
                                 {"lastUpdateTime", "2014-03-01 10:00:00"},
                                 {"listenedPos", std::to_string(seconds)}}));
    return;
  }
  ASSERT_TRUE(studyLog.update({{"userid", learner},
                               {"year", std::to_string(kYear)},
                               {"reclassid", kClass},
                               {"cwid", kLecture},
                               {"logTime", seconds},
                               {"lastUpdateTime", "2014-03-01 10:01:00"}}));
}

// Every second of the learner's lecture on the device, marked or not.
std::int64_t secondsOnDevice(int learner) {
  std::int64_t seconds = 0;
  for (const auto& [year, rows] : StudyLogDao().getByUserId(Value(learner)))
    for (const auto& row : rows) seconds += platform::find(row, "listenedPos")->integerValue();
  return seconds;
}

class StudyTimeRoadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.setCourseList(kCourseList);
    ASSERT_TRUE(server.start());
    startProcess();
  }
  void TearDown() override {
    GlobalModel::sharedModel()->setCourses(std::nullopt);
    GlobalModel::sharedModel()->setUserId(userBefore);
    WaitingSettlement::shared().clear();
  }

  int userBefore = GlobalModel::sharedModel()->userId();
  // A new run of the application: what lived only in memory is gone.
  void startProcess() {
    WaitingSettlement::shared().clear();
    GlobalModel::sharedModel()->setCourses(std::nullopt);
    engine = NetworkEngine::create(server.apiHost() + "/api");
  }
  // The launch's look at batches found marked.
  void launch() {
    startProcess();
    bool done = false;
    engine->resolveMarkedBatches([&] { done = true; });
    ASSERT_TRUE(runUntil([&] { return done; }));
  }

  SyncEnd sync(int learner = kLearner) {
    std::optional<SyncEnd> end;
    engine->syncStudyLog(
        std::to_string(learner), [&](const std::optional<std::string>&) { end = SyncEnd{true}; },
        [&](const platform::Error& e) {
          end = SyncEnd{false, e.code()};
        });
    EXPECT_TRUE(runUntil([&] { return end.has_value(); }));
    return end.value_or(SyncEnd{});
  }
  // Starts a sync whose upload the server holds once it has credited it.
  void syncHeld(std::optional<SyncEnd>& end) {
    server.holdAnswers(kUpload);
    engine->syncStudyLog(
        std::to_string(kLearner), [&](const std::optional<std::string>&) { end = SyncEnd{true}; },
        [&](const platform::Error& e) {
          end = SyncEnd{false, e.code()};
        });
    ASSERT_TRUE(runUntil([&] { return server.isHolding(kUpload); }));
  }
  // The tree a screen fetches and stores, then the write a screen makes after it.
  void fetchAndStoreTree(int learner = kLearner) {
    std::optional<model::List<Course>> tree;
    engine->getRetrainCourseDatas(
        std::to_string(learner), [&](const model::List<Course>& t) { tree = t; },
        [](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription(); });
    ASSERT_TRUE(runUntil([&] { return tree.has_value(); }));
    GlobalModel::sharedModel()->setUserId(learner);  // the store files the tree under it
    GlobalModel::sharedModel()->setCourses(*tree);
    DBService().refreshCourse(Value(std::string("110000")), *tree, Value(learner));
    WaitingSettlement::shared().write();
  }

  std::int64_t secondsCredited(int learner = kLearner) const {
    return 60 * server.creditedMinutes(learner, kLecture);
  }
  void expectBalanced(int heard, int learner = kLearner) {
    EXPECT_EQ(secondsOnDevice(learner) + secondsCredited(learner), heard)
        << "device " << secondsOnDevice(learner) << " s, server " << secondsCredited(learner)
        << " s";
    EXPECT_TRUE(StudyBatch::marked(Value(learner)).empty()) << "a batch still in doubt";
  }
  std::size_t uploads() const { return server.requestsTo(kUpload).size(); }

  testsupport::TempHome home;
  fakeserver::FakeCourseServer server;
  std::shared_ptr<NetworkEngine> engine;
};

TEST_F(StudyTimeRoadsTest, AnAnswerLostAfterTheServerCreditedIsNotSentAgain) {
  hear(kLearner, 120);
  server.loseAnswerAfterProcessing(kUpload);
  SyncEnd first = sync();
  EXPECT_FALSE(first.succeeded);
  EXPECT_EQ(secondsCredited(), 120);

  SyncEnd second = sync();
  EXPECT_TRUE(second.succeeded);
  EXPECT_EQ(uploads(), 1u) << "the batch in doubt was sent again";
  expectBalanced(120);
}

TEST_F(StudyTimeRoadsTest, AnswersThatCreditNothingKeepTheSecondsAndAreNoSuccess) {
  const struct {
    const char* name;
    int status;
    const char* body;
    std::int64_t code;
  } cases[] = {
      {"a Wi-Fi login page", 200, "<html><body>请登录</body></html>",
       NetworkEngine::kUploadRefused},
      {"resultCode 0", 200, R"({"resultCode": 0})", NetworkEngine::kUploadRefused},
      {"resultCode \"0\"", 200, R"({"resultCode": "0"})", NetworkEngine::kUploadRefused},
      {"a server error", 500, "failure", 500},
  };
  int heard = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    hear(kLearner, 120);
    heard += 120;
    server.answerNext(kUpload, c.status, c.body);
    SyncEnd refused = sync();
    EXPECT_FALSE(refused.succeeded);
    EXPECT_EQ(refused.code, c.code);
    EXPECT_EQ(secondsOnDevice(kLearner), heard - secondsCredited());
    expectBalanced(heard);
  }
  // The next sync sends them, once.
  EXPECT_TRUE(sync().succeeded);
  EXPECT_EQ(secondsCredited(), heard);
  expectBalanced(heard);
}

TEST_F(StudyTimeRoadsTest, AnAnswerOfNoKnownFormLeavesTheBatchInDoubt) {
  for (const char* body : {"", "{}", R"({"resultCode": null})", "ok", "[1]"}) {
    SCOPED_TRACE(body);
    hear(kLearner, 120);
    server.answerNext(kUpload, 200, body);
    SyncEnd doubt = sync();
    EXPECT_FALSE(doubt.succeeded);
    EXPECT_EQ(doubt.code, NetworkEngine::kUploadInDoubt);
    EXPECT_FALSE(StudyBatch::marked(Value(kLearner)).empty());
    // Not credited (the answer stood in for the server), so the tree shows nothing and the
    // next sync sends the lecture again, as a new batch.
    EXPECT_TRUE(sync().succeeded);
  }
  expectBalanced(5 * 120);
}

TEST_F(StudyTimeRoadsTest, AFullDeviceWhenMarkingSendsNothing) {
  hear(kLearner, 120);
  {
    testsupport::FullDisk full;
    SyncEnd end = sync();
    EXPECT_FALSE(end.succeeded);
    EXPECT_EQ(end.code, NetworkEngine::kStudyTimeNotWritten);
  }
  EXPECT_EQ(uploads(), 0u);
  expectBalanced(120);
  EXPECT_TRUE(sync().succeeded);
  expectBalanced(120);
}

// An accepted upload whose settlement the full device cannot write, then whatever comes next.
class WaitingSettlementRoadsTest : public StudyTimeRoadsTest {
 protected:
  void acceptWhileFull() {
    hear(kLearner, 120);
    std::optional<SyncEnd> end;
    syncHeld(end);
    full.emplace();
    server.releaseHolds();
    ASSERT_TRUE(runUntil([&] { return end.has_value(); }));
    EXPECT_FALSE(end->succeeded);
    EXPECT_EQ(end->code, NetworkEngine::kStudyTimeNotWritten);
    heard += 120;
    EXPECT_EQ(secondsCredited(), heard);
    EXPECT_TRUE(WaitingSettlement::shared().isWaiting());
  }
  std::optional<testsupport::FullDisk> full;
  int heard = 0;
};

TEST_F(WaitingSettlementRoadsTest, ItIsWrittenAtTheNextSyncAndNothingIsSentTwice) {
  acceptWhileFull();
  EXPECT_EQ(sync().code, NetworkEngine::kStudyTimeNotWritten);  // still full
  full.reset();
  EXPECT_TRUE(sync().succeeded);
  EXPECT_EQ(uploads(), 1u);
  expectBalanced(120);
}

TEST_F(WaitingSettlementRoadsTest, AProcessEndWhileItWaitsLeavesABatchTheLaunchResolves) {
  // A kill and an orderly exit leave the same behind: the marked rows, and nothing in memory.
  for (const char* end : {"kill", "orderly exit"}) {
    SCOPED_TRACE(end);
    acceptWhileFull();
    full.reset();
    launch();
    expectBalanced(heard);
    EXPECT_TRUE(sync().succeeded);
    expectBalanced(heard);
  }
  EXPECT_EQ(uploads(), 2u);
}

TEST_F(WaitingSettlementRoadsTest, ATreeStoredWhileItWaitsWritesItAndTheResumePointHolds) {
  acceptWhileFull();
  full.reset();
  // Before anything is written the tree in memory already holds the 2 minutes: the unsent
  // seconds leave them out, so the player resumes at 2:00, not 4:00.
  std::optional<model::List<Course>> tree;
  engine->getRetrainCourseDatas(
      std::to_string(kLearner), [&](const model::List<Course>& t) { tree = t; },
      [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return tree.has_value(); }));
  StudyLogDao studyLog;
  EXPECT_EQ(UnsentStudyTime::seconds(studyLog, Value(kLearner), kYear, Value(kClass), kLecture, 2),
            0);
  EXPECT_EQ(UnsentStudyTime::seconds(studyLog, Value(kLearner), kYear, Value(kClass), kLecture, 0),
            120)
      << "a figure that does not show the batch counts its seconds as unsent";
  fetchAndStoreTree();
  EXPECT_FALSE(WaitingSettlement::shared().isWaiting());
  expectBalanced(120);
  EXPECT_EQ(DBService()
                .getCourseFromLocalDB(Value(kLearner), Value(std::string("110000")))
                .at(0)
                ->reClasses()
                ->at(0)
                ->cws()
                ->at(0)
                ->listenedMins(),
            2)
      << "the stored tree counts the batch once";
}

// The limit of the rule: study of the same lecture elsewhere between two syncs, when this
// device's batch was not credited, is taken for the batch. The device then under-credits (the
// seconds are settled without being sent); it never over-credits.
TEST_F(StudyTimeRoadsTest, StudyElsewhereBetweenTwoSyncsIsTakenForTheBatchInDoubt) {
  hear(kLearner, 120);
  server.answerNext(kUpload, 200, "");  // in doubt, and the server credited nothing
  EXPECT_EQ(sync().code, NetworkEngine::kUploadInDoubt);
  // Another device of the learner uploads 2 minutes of the same lecture.
  nlohmann::json elsewhere = {
      {"userId", kLearner},
      {"logs", {{{"year", kYear}, {"cws", {{{"id", kLecture}, {"listenedMinutes", 2}}}}}}}};
  httplib::Client client(server.host(), server.port());
  auto answer = client.Get(std::string(kUpload), httplib::Params{{"studyLogs", elsewhere.dump()}},
                           httplib::Headers{});
  ASSERT_TRUE(answer);
  EXPECT_TRUE(sync().succeeded);
  EXPECT_EQ(uploads(), 2u) << "this device's batch was not sent again";
  EXPECT_EQ(secondsOnDevice(kLearner), 0);
  EXPECT_EQ(secondsCredited(), 120) << "120 s heard here and 120 s elsewhere count as 120 s";
}

TEST_F(StudyTimeRoadsTest, TwoLearnersOnOneDeviceAreCreditedEachOnce) {
  hear(kLearner, 120);
  hear(kOtherLearner, 60);
  server.loseAnswerAfterProcessing(kUpload);
  EXPECT_FALSE(sync(kLearner).succeeded);
  EXPECT_TRUE(sync(kOtherLearner).succeeded);
  launch();  // the first learner's batch is resolved at launch, from their own tree
  EXPECT_TRUE(sync(kLearner).succeeded);
  EXPECT_TRUE(sync(kOtherLearner).succeeded);
  expectBalanced(120, kLearner);
  expectBalanced(60, kOtherLearner);
  EXPECT_EQ(uploads(), 2u);
}

// The in-flight road's child: a process that syncs and is killed while the server holds the
// answer it has already credited. Skipped unless the parent started it.
TEST(StudyTimeChild, SyncsUntilKilled) {
  const char* home = std::getenv(kChildHome);
  const char* api = std::getenv(kChildApi);
  if (!home || !api) GTEST_SKIP() << "run by the in-flight road only";
  platform::Paths::setHome(home);
  auto engine = NetworkEngine::create(std::string(api) + "/api");
  engine->syncStudyLog(
      std::to_string(kLearner), [](const std::optional<std::string>&) {},
      [](const platform::Error&) {});
  runUntil([] { return false; }, 60);
  ADD_FAILURE() << "the child was not killed";
}

TEST_F(StudyTimeRoadsTest, AProcessKilledWithTheUploadInFlightResolvesItAtLaunch) {
  hear(kLearner, 120);
  server.holdAnswers(kUpload);
  std::string filter = "--gtest_filter=StudyTimeChild.SyncsUntilKilled";
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::vector<char*> argv = {self, filter.data(), nullptr};
  std::vector<std::string> env = {std::string(kChildHome) + "=" + home.path(),
                                  std::string(kChildApi) + "=" + server.apiHost()};
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, self, nullptr, nullptr, argv.data(), envp.data()), 0);
  const bool held = server.waitForHold(kUpload, std::chrono::seconds(60));
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(held) << "the child's upload never reached the server";
  EXPECT_TRUE(WIFSIGNALED(status));
  server.releaseHolds();  // the server finishes what it processed
  EXPECT_EQ(secondsCredited(), 120);

  launch();
  expectBalanced(120);
  EXPECT_TRUE(sync().succeeded);
  EXPECT_EQ(uploads(), 1u);
  expectBalanced(120);
}

}  // namespace
