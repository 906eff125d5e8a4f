#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "dao/DBService.h"
#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "fakeserver/FakeCourseServer.h"
#include "model/GlobalModel.h"
#include "net/NetworkEngine.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/FakeReachabilitySource.h"
#include "platform/net/URLError.h"
#include "studytime/WaitingSettlement.h"
#include "support/FullDisk.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

using platform::Dictionary;
using platform::Value;
using testsupport::runUntil;

class NetworkEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    engine = NetworkEngine::create(server.apiHost() + "/api");
    GlobalModel::sharedModel()->setCourses(std::nullopt);
  }
  void TearDown() override {
    GlobalModel::sharedModel()->setCourses(std::nullopt);
    WaitingSettlement::shared().clear();
  }

  // Adds a study-log row of `seconds` for a lecture of user 7.
  void addRow(int year, int cwId, int seconds) {
    StudyLogDao().insert({{"userid", 7},
                          {"year", year},
                          {"reclassid", 301},
                          {"cwid", cwId},
                          {"createdTime", "2014-03-01 10:00:00"},
                          {"lastUpdateTime", "2014-03-01 10:05:00"},
                          {"listenedPos", seconds}});
  }

  // Adds `seconds` to the row of a lecture of user 7, as the player does, at `time`.
  // A lecture whose row is marked for an upload gets a new row.
  void addSeconds(int year, int cwId, int seconds, const char* time) {
    StudyLogDao studyLog;
    if (!studyLog.exists(Value(7), Value(year), Value(301), Value(cwId))) {
      studyLog.insert({{"userid", 7},
                       {"year", year},
                       {"reclassid", 301},
                       {"cwid", cwId},
                       {"createdTime", time},
                       {"lastUpdateTime", time},
                       {"listenedPos", std::to_string(seconds)}});
      return;
    }
    studyLog.update({{"userid", 7},
                     {"year", year},
                     {"reclassid", 301},
                     {"cwid", cwId},
                     {"logTime", seconds},
                     {"lastUpdateTime", time}});
  }

  std::map<std::string, std::string> secondsByLecture() {
    std::map<std::string, std::string> seconds;
    for (const auto& [year, rows] : StudyLogDao().getByUserId(Value(7))) {
      for (const auto& row : rows)
        seconds[*platform::find(row, "cwid")->asText()] =
            *platform::find(row, "listenedPos")->asText();
    }
    return seconds;
  }

  testsupport::TempHome home;
  platform::ScopedFakeReachability reachability;
  fakeserver::FakeCourseServer server;
  std::shared_ptr<NetworkEngine> engine;
};

TEST_F(NetworkEngineTest, LoginPostsTheFormAndAnswersUserIdAndCodeFlag) {
  std::optional<std::string> text;
  engine->login(
      {{"username", "zhang"},
       {"password", "5f4dcc3b"},
       {"mCode", "402719"},
       {"areaCode", "110000"}},
      [&](const std::string& t) { text = t; }, [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return text.has_value(); }));
  EXPECT_EQ(*text, "1234,1");
  auto logins = server.requestsTo("/api/getRetrainUserId.html");
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].method, "POST");
  EXPECT_EQ(logins[0].formParams, (std::map<std::string, std::string>{{"areaCode", "110000"},
                                                                      {"mCode", "402719"},
                                                                      {"password", "5f4dcc3b"},
                                                                      {"username", "zhang"}}));
}

TEST_F(NetworkEngineTest, LoginAnswersTable) {
  const std::pair<const char*, const char*> cases[] = {
      {"{\"userId\": 98765, \"mCodeFlag\": 0}", "98765,0"},
      {"{\"userId\": \"42\", \"mCodeFlag\": \"1\"}", "42,1"},
      {"{\"mCodeFlag\": 1}", "(null),1"},
      {"{\"userId\": 0}", "0,(null)"},
      {"not json", "(null),(null)"},
      // A user id is a JSON integer or a text that is wholly one, within int.
      {"{\"userId\": true, \"mCodeFlag\": 1}", "(null),1"},
      {"{\"userId\": \"12abc\"}", "(null),(null)"},
      {"{\"userId\": \" 12\"}", "(null),(null)"},
      {"{\"userId\": \"12,5\"}", "(null),(null)"},
      {"{\"userId\": 12.0}", "(null),(null)"},
      {"{\"userId\": 2147483648}", "(null),(null)"},
      {"{\"userId\": \"-2147483648\"}", "-2147483648,(null)"},
      {"{\"userId\": 18446744073709551615}", "(null),(null)"},
  };
  for (const auto& [body, expected] : cases) {
    server.setAnswer("/api/getRetrainUserId.html", 200, body);
    std::optional<std::string> text;
    engine->login(
        {}, [&](const std::string& t) { text = t; }, [](const platform::Error&) {});
    ASSERT_TRUE(runUntil([&] { return text.has_value(); })) << body;
    EXPECT_EQ(*text, expected) << body;
  }
}

TEST_F(NetworkEngineTest, FailuresReachTheErrorCallbackWithTheStatus) {
  server.failPath("/api/getRetrainCourseDatas.html", 500);
  std::optional<platform::Error> error;
  bool completed = false;
  engine->getRetrainCourseDatas(
      "7", [&](const model::List<Course>&) { completed = true; },
      [&](const platform::Error& e) { error = e; });
  ASSERT_TRUE(runUntil([&] { return error.has_value(); }));
  EXPECT_FALSE(completed);
  EXPECT_EQ(error->domain(), platform::kURLErrorDomain);
  EXPECT_EQ(error->code(), 500);
}

TEST_F(NetworkEngineTest, CoursesComeFromTheAnswer) {
  std::optional<model::List<Course>> courses;
  engine->getRetrainCourseDatas(
      "7", [&](const model::List<Course>& c) { courses = c; }, [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return courses.has_value(); }));
  ASSERT_EQ(courses->size(), 2u);
  EXPECT_EQ((*courses)[0]->year(), 2014);
  auto requests = server.requestsTo("/api/getRetrainCourseDatas.html");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].query, "userId=7");

  // An empty list that decodes is an answer: the learner has no courses.
  server.setAnswer("/api/getRetrainCourseDatas.html", 200, "{\"courses\": []}");
  courses.reset();
  engine->getRetrainCourseDatas(
      "7", [&](const model::List<Course>& c) { courses = c; }, [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return courses.has_value(); }));
  EXPECT_TRUE(courses->empty());
}

TEST_F(NetworkEngineTest, ACourseAnswerWithoutACourseListIsAFailedFetch) {
  for (const char* body :
       {"{\"nothing\": 1}", "<html><body>Sign in</body></html>", "", "{\"courses\": null}",
        "{\"courses\": {\"year\": 2014}}", "[{\"courses\": []}]", "{\"courses\": [}"}) {
    SCOPED_TRACE(body);
    server.setAnswer("/api/getRetrainCourseDatas.html", 200, body);
    std::optional<platform::Error> error;
    bool completed = false;
    engine->getRetrainCourseDatas(
        "7", [&](const model::List<Course>&) { completed = true; },
        [&](const platform::Error& e) { error = e; });
    ASSERT_TRUE(runUntil([&] { return error.has_value() || completed; }));
    EXPECT_FALSE(completed);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain(), platform::kURLErrorDomain);
    EXPECT_EQ(error->code(), platform::kURLErrorBadServerResponse);
  }
}

TEST_F(NetworkEngineTest, RegionsReachTheCallerBeforeTheStoreIsRewritten) {
  std::optional<std::size_t> storedAtDelivery;
  std::optional<model::List<Area>> areas;
  engine->getAllAreas(
      [&](const model::List<Area>& list) {
        areas = list;
        storedAtDelivery = engine->dbService()->getAreaFromLocalDB().size();
      },
      [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return areas.has_value(); }));
  EXPECT_EQ(areas->size(), 3u);
  EXPECT_EQ(*storedAtDelivery, 0u);
  ASSERT_TRUE(runUntil([&] { return engine->dbService()->getAreaFromLocalDB().size() == 3; }));

  // An answer that does not decode gives no regions and leaves the stored ones.
  server.setAnswer("/api/getRetrainAreas.html", 200, "<html>maintenance</html>");
  areas.reset();
  auto operation = engine->getAllAreas([&](const model::List<Area>& list) { areas = list; },
                                       [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return areas.has_value(); }));
  EXPECT_TRUE(areas->empty());
  bool decoded = false;
  operation->responseJSONWithCompletionHandler(
      [&](const std::optional<nlohmann::json>&) { decoded = true; });
  ASSERT_TRUE(runUntil([&] { return decoded; }));
  EXPECT_EQ(engine->dbService()->getAreaFromLocalDB().size(), 3u);
}

TEST_F(NetworkEngineTest, MinutesRuleTable) {
  const std::pair<const char*, int> cases[] = {{"10", 0}, {"20", 0},   {"21", 1},  {"59", 1},
                                               {"60", 1}, {"119", 1},  {"120", 2}, {"3599", 59},
                                               {"0", 0},  {"21.5", 1}, {"180", 3}, {"", 0}};
  for (const auto& [seconds, minutes] : cases)
    EXPECT_EQ(NetworkEngine::listenedMinutes(seconds), minutes) << seconds;
}

TEST_F(NetworkEngineTest, UploadDocumentReadsTheRowsTextsAsNumbers) {
  using Rows = std::map<std::string, std::vector<platform::Dictionary>>;
  auto row = [](const char* cwid, const char* seconds) {
    return platform::Dictionary{{"cwid", cwid},
                                {"listenedPos", seconds},
                                {"createdTime", "2014-03-01 10:00:00"},
                                {"lastUpdateTime", "2014-03-01 10:05:00"}};
  };
  const std::map<std::int64_t, std::string> types = {{9001, "3"}, {9002, "x"}};
  auto document = NetworkEngine::uploadDocument(
      "12abc", Rows{{"2014", {row("9001", "90"), row("9002", "30"), row("9003x", "")}}}, types);
  EXPECT_EQ(document, nlohmann::json::parse(R"({"userId": 12, "logs": [{"year": 2014, "cws": [
      {"id": 9001, "createdTime": "2014-03-01 10:00:00", "lastUpdateTime": "2014-03-01 10:05:00",
       "listenedMinutes": 1, "type": 3},
      {"id": 9002, "createdTime": "2014-03-01 10:00:00", "lastUpdateTime": "2014-03-01 10:05:00",
       "listenedMinutes": 1, "type": 0},
      {"id": 9003, "createdTime": "2014-03-01 10:00:00", "lastUpdateTime": "2014-03-01 10:05:00",
       "listenedMinutes": 0, "type": 0}]}]})"));
  // A row without its texts still gives an entry; no rows give no years.
  EXPECT_EQ(NetworkEngine::uploadDocument("7", Rows{{"2013", {platform::Dictionary{}}}}, {}),
            nlohmann::json::parse(R"({"userId": 7, "logs": [{"year": 2013, "cws": [
      {"id": 0, "createdTime": "", "lastUpdateTime": "", "listenedMinutes": 0, "type": 0}]}]})"));
  EXPECT_EQ(NetworkEngine::uploadDocument("7", Rows{}, types),
            nlohmann::json::parse(R"({"userId": 7, "logs": []})"));
}

TEST_F(NetworkEngineTest, UploadSendsTheDocumentAndTakesBackWhatTheServerCredited) {
  auto tree = platform::Json::parse(
      R"([{"year": 2014, "reclasses": [{"reclassId": 301, "type": "3", "cws": [{"cwId": 9001}]}]}])");
  auto courses = Course::jsonToObject(&*tree);
  GlobalModel::sharedModel()->setCourses(courses);
  addRow(2014, 9001, 130);
  addRow(2014, 9002, 20);
  addRow(2013, 8001, 60);

  std::optional<std::optional<std::string>> reply;
  server.holdAnswers("/api/acceptRetrainStudyLog.html");
  auto operation = engine->syncStudyLog(
      "7", [&](const std::optional<std::string>& r) { reply = r; }, [](const platform::Error&) {});
  ASSERT_TRUE(operation);
  ASSERT_TRUE(runUntil([&] { return server.isHolding("/api/acceptRetrainStudyLog.html"); }));
  // Study time the player adds while the upload is in flight.
  addSeconds(2014, 9001, 10, "2014-03-01 10:06:00");
  addRow(2014, 9003, 10);
  server.releaseHolds();
  ASSERT_TRUE(runUntil([&] { return reply.has_value(); }));
  ASSERT_TRUE(reply->has_value());
  EXPECT_NE(reply->value().find("resultCode"), std::string::npos);

  auto uploads = server.requestsTo("/api/acceptRetrainStudyLog.html");
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].method, "GET");
  auto document = platform::Json::parse(uploads[0].param("studyLogs"));
  ASSERT_TRUE(document);
  auto expected = platform::Json::parse(R"({"userId": 7, "logs": [
      {"year": 2013, "cws": [{"id": 8001, "createdTime": "2014-03-01 10:00:00",
        "lastUpdateTime": "2014-03-01 10:05:00", "listenedMinutes": 1, "type": 0}]},
      {"year": 2014, "cws": [
        {"id": 9001, "createdTime": "2014-03-01 10:00:00",
         "lastUpdateTime": "2014-03-01 10:05:00", "listenedMinutes": 2, "type": 3},
        {"id": 9002, "createdTime": "2014-03-01 10:00:00",
         "lastUpdateTime": "2014-03-01 10:05:00", "listenedMinutes": 0, "type": 0}]}]})");
  EXPECT_EQ(*document, *expected);
  EXPECT_EQ(engine->types().at(9001), "3");

  // The server credits whole minutes: what it credited is gone, the seconds short of a minute
  // stay for the next upload (130 s sent as 2 minutes keep 10, a 20 s row credited nothing
  // keeps all of it), and so do the 10 seconds added meanwhile and the new row.
  EXPECT_EQ(secondsByLecture(),
            (std::map<std::string, std::string>{{"9001", "20"}, {"9002", "20"}, {"9003", "10"}}));
}

TEST_F(NetworkEngineTest, UploadWithoutRowsSendsNothing) {
  bool called = false;
  std::optional<std::string> reply = "unset";
  auto operation = engine->syncStudyLog(
      "7",
      [&](const std::optional<std::string>& r) {
        called = true;
        reply = r;
      },
      [](const platform::Error&) {});
  EXPECT_TRUE(called);  // synchronously
  EXPECT_FALSE(reply.has_value());
  EXPECT_FALSE(operation);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(NetworkEngineTest, ASecondUploadWhileOneIsInFlightIsRefused) {
  addRow(2014, 9001, 30);
  bool firstDone = false;
  engine->syncStudyLog(
      "7", [&](const std::optional<std::string>&) { firstDone = true; },
      [](const platform::Error&) {});
  std::optional<platform::Error> refused;
  auto second = engine->syncStudyLog(
      "7", [](const std::optional<std::string>&) {},
      [&](const platform::Error& e) { refused = e; });
  EXPECT_FALSE(second);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->domain(), NetworkEngine::kErrorDomain);
  EXPECT_EQ(refused->code(), NetworkEngine::kUploadInProgress);
  ASSERT_TRUE(runUntil([&] { return firstDone; }));
  EXPECT_EQ(server.requestsTo("/api/acceptRetrainStudyLog.html").size(), 1u);
  EXPECT_TRUE(secondsByLecture().empty());
}

TEST_F(NetworkEngineTest, AFailedUploadKeepsEveryRow) {
  addRow(2014, 9001, 30);
  server.failPath("/api/acceptRetrainStudyLog.html", 503);
  std::optional<platform::Error> error;
  engine->syncStudyLog(
      "7", [](const std::optional<std::string>&) {}, [&](const platform::Error& e) { error = e; });
  ASSERT_TRUE(runUntil([&] { return error.has_value(); }));
  EXPECT_EQ(error->code(), 503);
  EXPECT_EQ(secondsByLecture(), (std::map<std::string, std::string>{{"9001", "30"}}));
}

// Faults that keep the settlement of an accepted upload from being written. A full device fails
// every write; a refused credit fails only the course tree's, after the rows' seconds were taken
// back on the same connection, so the rows stay whole only if both are one transaction.
class RefusedCredit {
 public:
  RefusedCredit() {
    EXPECT_TRUE(ModelDao().db()->executeUpdate(
        "create trigger refuse_credit before update of listenedMinutes on courseware "
        "begin select raise(abort, 'credit refused'); end"));
  }
  ~RefusedCredit() { ModelDao().db()->executeUpdate("drop trigger refuse_credit"); }
  RefusedCredit(const RefusedCredit&) = delete;
  RefusedCredit& operator=(const RefusedCredit&) = delete;
};

struct SettlementFault {
  const char* name;
  // The fault lasts as long as what this gives back.
  std::function<std::shared_ptr<void>()> begin;
};

void PrintTo(const SettlementFault& fault, std::ostream* os) { *os << fault.name; }

class UnwrittenSettlementTest : public NetworkEngineTest,
                                public ::testing::WithParamInterface<SettlementFault> {
 protected:
  void SetUp() override {
    NetworkEngineTest::SetUp();
    userBefore = GlobalModel::sharedModel()->userId();
    GlobalModel::sharedModel()->setUserId(7);
  }
  void TearDown() override {
    GlobalModel::sharedModel()->setUserId(userBefore);
    NetworkEngineTest::TearDown();
  }

  // Lecture 9001 of class 301 (year 2014) with `minutes` credited, in memory and on the device,
  // as a course fetch leaves it.
  void storeTree(int minutes) {
    const std::string figure = std::to_string(minutes);
    auto tree = platform::Json::parse(
        R"([{"year": 2014, "reclasses": [{"reclassId": 301, "listenedMinutes": )" + figure +
        R"(, "cws": [{"cwId": 9001, "listenedMinutes": )" + figure + "}]}]}]");
    auto courses = Course::jsonToObject(&*tree);
    GlobalModel::sharedModel()->setCourses(courses);
    engine->dbService()->refreshCourse(Value(std::string(kArea)), courses, Value(7));
    server.setCourseList(R"({"courses": )" + tree->dump() + "}");
  }
  // Holds the upload's answer until the batch is marked and sent, then starts the fault, so
  // only the settlement meets it.
  std::shared_ptr<void> faultOnceSent() {
    server.holdAnswers(kUpload);
    EXPECT_TRUE(runUntil([&] { return server.isHolding(kUpload); }));
    auto fault = GetParam().begin();
    server.releaseHolds();
    return fault;
  }
  // The minutes of lecture 9001 and of its class: in memory, then on the device.
  static std::vector<std::int64_t> creditedMinutes() {
    const auto& memory = (*GlobalModel::sharedModel()->courses())[0]->reClasses()->at(0);
    auto stored = DBService().getCourseFromLocalDB(Value(7), Value(std::string(kArea)));
    EXPECT_EQ(stored.size(), 1u);
    if (stored.empty()) return {};
    const auto& onDevice = stored[0]->reClasses()->at(0);
    return {memory->cws()->at(0)->listenedMins().value_or(-1), memory->listenedMins().value_or(-1),
            onDevice->cws()->at(0)->listenedMins().value_or(-1),
            onDevice->listenedMins().value_or(-1)};
  }
  // Lecture id to the minutes an upload sent for it.
  static std::map<std::int64_t, int> minutesSent(const fakeserver::RecordedRequest& upload) {
    std::map<std::int64_t, int> minutes;
    auto document = platform::Json::parse(upload.param("studyLogs"));
    EXPECT_TRUE(document);
    if (!document) return minutes;
    for (const auto& year : (*document)["logs"])
      for (const auto& cw : year["cws"])
        minutes[cw["id"].get<std::int64_t>()] = cw["listenedMinutes"].get<int>();
    return minutes;
  }

  static constexpr const char* kArea = "110000";
  static constexpr const char* kUpload = "/api/acceptRetrainStudyLog.html";
  int userBefore = 0;
};

TEST_P(UnwrittenSettlementTest, NothingIsHalfWrittenOrSentAgainAndItIsWrittenOnceItCan) {
  storeTree(5);
  addRow(2014, 9001, 130);  // sent as 2 minutes
  addRow(2013, 8001, 30);   // sent as 1 minute
  {
    bool completed = false;
    std::optional<platform::Error> error;
    engine->syncStudyLog(
        "7", [&](const std::optional<std::string>&) { completed = true; },
        [&](const platform::Error& e) { error = e; });
    auto fault = faultOnceSent();
    ASSERT_TRUE(runUntil([&] { return completed || error.has_value(); }));
    EXPECT_FALSE(completed);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NetworkEngine::kErrorDomain);
    EXPECT_EQ(error->code(), NetworkEngine::kStudyTimeNotWritten);
    // The server credited 3 minutes, but the device shows none of it: the seconds stay and no
    // lecture gained minutes, neither on the device nor in memory.
    EXPECT_EQ(engine->minutesAccepted(), 3);
    EXPECT_EQ(secondsByLecture(),
              (std::map<std::string, std::string>{{"9001", "130"}, {"8001", "30"}}));
    EXPECT_EQ(creditedMinutes(), (std::vector<std::int64_t>{5, 5, 5, 5}));

    // Those seconds are credited already: while the settlement still cannot be written, the
    // next upload sends nothing.
    error.reset();
    EXPECT_FALSE(engine->syncStudyLog(
        "7", [&](const std::optional<std::string>&) { completed = true; },
        [&](const platform::Error& e) { error = e; }));
    ASSERT_TRUE(error);  // at once
    EXPECT_EQ(error->code(), NetworkEngine::kStudyTimeNotWritten);
    EXPECT_FALSE(completed);
    EXPECT_EQ(server.requestsTo(kUpload).size(), 1u);
    EXPECT_EQ(secondsByLecture(),
              (std::map<std::string, std::string>{{"9001", "130"}, {"8001", "30"}}));
  }

  // The fault is gone, and lecture 9001 was heard 100 seconds more meanwhile. The next upload
  // writes the waiting settlement first, so it sends only what the server has not credited.
  addSeconds(2014, 9001, 100, "2014-03-01 10:09:00");
  std::optional<std::optional<std::string>> reply;
  ASSERT_TRUE(engine->syncStudyLog(
      "7", [&](const std::optional<std::string>& r) { reply = r; },
      [](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription(); }));
  ASSERT_TRUE(runUntil([&] { return reply.has_value(); }));
  auto uploads = server.requestsTo(kUpload);
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(minutesSent(uploads[1]), (std::map<std::int64_t, int>{{9001, 1}}));
  // 130 + 100 - 120 (first upload) - 60 (second) on the device; the two minutes of the first
  // upload and the one of the second credited once each.
  EXPECT_EQ(secondsByLecture(), (std::map<std::string, std::string>{{"9001", "50"}}));
  EXPECT_EQ(creditedMinutes(), (std::vector<std::int64_t>{8, 8, 8, 8}));
  EXPECT_EQ(engine->minutesAccepted(), 4);
}

// A course fetch answered while the settlement waits brings the server's tree, which counts the
// accepted minutes already: writing the settlement afterwards must take the seconds off the rows
// but add those minutes nowhere again.
TEST_P(UnwrittenSettlementTest, ATreeFetchedWhileItWaitsIsNotCreditedAgain) {
  storeTree(5);
  addRow(2014, 9001, 120);  // sent as 2 minutes
  {
    std::optional<platform::Error> error;
    engine->syncStudyLog(
        "7", [](const std::optional<std::string>&) { ADD_FAILURE() << "settled"; },
        [&](const platform::Error& e) { error = e; });
    auto fault = faultOnceSent();
    ASSERT_TRUE(runUntil([&] { return error.has_value(); }));
    EXPECT_EQ(error->code(), NetworkEngine::kStudyTimeNotWritten);
  }
  // The learner opens the course list: the server's tree has the 2 minutes; the screen keeps it
  // in memory and on the device.
  server.setAnswer(
      "/api/getRetrainCourseDatas.html", 200,
      R"({"courses": [{"year": 2014, "reclasses": [{"reclassId": 301, "listenedMinutes": 7, )"
      R"("cws": [{"cwId": 9001, "listenedMinutes": 7}]}]}]})");
  std::optional<model::List<Course>> fetched;
  engine->getRetrainCourseDatas(
      "7", [&](const model::List<Course>& courses) { fetched = courses; },
      [](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription(); });
  ASSERT_TRUE(runUntil([&] { return fetched.has_value(); }));
  GlobalModel::sharedModel()->setCourses(*fetched);
  engine->dbService()->refreshCourse(Value(std::string(kArea)), *fetched, Value(7));

  std::optional<std::optional<std::string>> reply;
  ASSERT_TRUE(engine->syncStudyLog(
                  "7", [&](const std::optional<std::string>& r) { reply = r; },
                  [](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription(); }) ==
              nullptr);
  // The settlement was written and left no row, so there was nothing more to send.
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(server.requestsTo(kUpload).size(), 1u);
  EXPECT_TRUE(secondsByLecture().empty());
  EXPECT_EQ(creditedMinutes(), (std::vector<std::int64_t>{7, 7, 7, 7}));
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, UnwrittenSettlementTest,
    ::testing::Values(
        SettlementFault{"FullDevice", [] { return std::make_shared<testsupport::FullDisk>(); }},
        SettlementFault{"RefusedCredit", [] { return std::make_shared<RefusedCredit>(); }}),
    [](const ::testing::TestParamInfo<SettlementFault>& info) { return info.param.name; });

TEST_F(NetworkEngineTest, FeedbackPostsTheMessageDocumentAndModuleType) {
  std::optional<Dictionary> result;
  engine->getMessage(
      "7", "视频无法播放", [&](const Dictionary& r) { result = r; }, [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
  EXPECT_EQ(*result, (Dictionary{{"resultCode", 1}}));
  auto posts = server.requestsTo("/api/saveRetrainServiceFeedback.html");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].method, "POST");
  EXPECT_EQ(posts[0].formParams.at("moduletype"), "30");
  auto message = platform::Json::parse(posts[0].formParams.at("message"));
  ASSERT_TRUE(message);
  EXPECT_EQ(*message, (nlohmann::json{{"userId", "7"}, {"suggestion", "视频无法播放"}}));

  server.setAnswer("/api/saveRetrainServiceFeedback.html", 200, "{}");
  result.reset();
  engine->getMessage(
      "7", "x", [&](const Dictionary& r) { result = r; }, [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
  EXPECT_TRUE(result->empty());
}

// The feedback answer is outside input: whatever it holds, the completion gets a dictionary, and
// a "resultCode" nested beyond what the JSON reader takes reads as no result.
TEST_F(NetworkEngineTest, FeedbackAnswersTable) {
  std::string deep = "{\"resultCode\":" + std::string(30000, '[') + std::string(30000, ']') + "}";
  nlohmann::json nested = 1;
  for (int i = 0; i < platform::Json::kMaxDepth + 1; ++i) nested = nlohmann::json::array({nested});
  const std::pair<std::optional<nlohmann::json>, Dictionary> cases[] = {
      {nlohmann::json{{"resultCode", 1}}, {{"resultCode", 1}}},
      {nlohmann::json{{"resultCode", "ok"}}, {{"resultCode", "ok"}}},
      {nlohmann::json{{"resultCode", nullptr}}, {}},
      {nlohmann::json::object(), {}},
      {nlohmann::json::array({1}), {}},
      {std::nullopt, {}},
      {platform::Json::parse(deep), {}},
      {nlohmann::json{{"resultCode", nested}}, {}},
  };
  for (const auto& [answer, expected] : cases)
    EXPECT_EQ(NetworkEngine::feedbackResult(answer), expected) << (answer ? "answer" : "none");

  server.setAnswer("/api/saveRetrainServiceFeedback.html", 200, deep);
  std::optional<Dictionary> result;
  engine->getMessage(
      "7", "x", [&](const Dictionary& r) { result = r; }, [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
  EXPECT_TRUE(result->empty());
}

TEST_F(NetworkEngineTest, StringFormDictWritesNestedEntries) {
  Dictionary inner{{"b", 2}};
  Dictionary d{{"a", 1}, {"d", inner}, {"l", platform::Array{Value(inner), Value("x")}}};
  EXPECT_EQ(NetworkEngine::stringFormDict(d),
            "\n******a: 1\n+++++d: \n******b: 2\n-----l:\n\n******b: 2\nx");
}

TEST_F(NetworkEngineTest, CompeleteHandlerGivesTheLoginTextExceptForTheLogin) {
  auto login = engine->operationWithPath("getRetrainUserId.html", Dictionary{{"a", 1}}, "POST");
  engine->compeleteHandler("getRetrainUserId.html", login, [](const std::string&) {});
  EXPECT_EQ(login->completionHandlerCount(), 0u);

  auto other = engine->operationWithPath("getRetrainUserId.html", Dictionary{{"a", 1}}, "POST");
  std::optional<std::string> text;
  engine->compeleteHandler("saveRetrainServiceFeedback.html", other,
                           [&](const std::string& t) { text = t; });
  engine->enqueueOperation(other);
  ASSERT_TRUE(runUntil([&] { return text.has_value(); }));
  EXPECT_EQ(*text, "1234,1");
}

TEST_F(NetworkEngineTest, RequestsOffTheMainThreadAreRefusedInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "the main-thread check runs in debug builds only";
#else
  bool refused = false;
  std::thread([&] {
    try {
      engine->getAllAreas([](const model::List<Area>&) {}, [](const platform::Error&) {});
    } catch (const platform::AssertionFailure&) {
      refused = true;
    }
  }).join();
  EXPECT_TRUE(refused);
  EXPECT_TRUE(server.requests().empty());
#endif
}

TEST_F(NetworkEngineTest, PlaylistTextComesBackWhole) {
  std::optional<std::optional<std::string>> text;
  engine->getM3u8(
      server.mediaUrl("lecture1/index.m3u8"),
      [&](const std::optional<std::string>& t) { text = t; }, [](const platform::Error&) {});
  ASSERT_TRUE(runUntil([&] { return text.has_value(); }));
  ASSERT_TRUE(text->has_value());
  EXPECT_EQ(text->value().rfind("#EXTM3U", 0), 0u);
  auto requests = server.requestsTo("/media/lecture1/index.m3u8");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].header("User-Agent").empty());
}

}  // namespace
