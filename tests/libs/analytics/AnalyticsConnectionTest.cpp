// One hit request, and watching the collection host.

#include <gtest/gtest.h>

#include <future>

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsError.h"
#include "analytics/AnalyticsReachabilityChecker.h"
#include "analytics/AnalyticsURLConnection.h"
#include "platform/dispatch/Queue.h"

namespace analyticstest {
namespace {

struct Outcome {
  std::optional<platform::URLResponse> response;
  std::optional<platform::Bytes> data;
  std::optional<platform::Error> error;
  bool onMain = false;
};

class AnalyticsURLConnectionTest : public AnalyticsTest {
 protected:
  std::shared_ptr<AnalyticsURLConnection> start(std::shared_ptr<std::optional<Outcome>> outcome,
                                                std::optional<std::string> url = std::nullopt) {
    platform::URLRequest request(url.value_or(endpoint_.origin() + "/collect?t=appview"));
    return AnalyticsURLConnection::initWithRequest(
        request, platform::dispatch::Queue::main(),
        [outcome](const std::optional<platform::URLResponse>& response,
                  const std::optional<platform::Bytes>& data,
                  const std::optional<platform::Error>& error) {
          *outcome = Outcome{response, data, error, platform::RunLoop::isMainThread()};
        });
  }
};

TEST_F(AnalyticsURLConnectionTest, AnswerArrivesOnceOnTheGivenQueue) {
  auto outcome = std::make_shared<std::optional<Outcome>>();
  auto connection = start(outcome);
  ASSERT_TRUE(runUntil([&] { return outcome->has_value(); }));
  EXPECT_TRUE((*outcome)->onMain);
  ASSERT_TRUE((*outcome)->response);
  EXPECT_EQ((*outcome)->response->statusCode(), 200);
  EXPECT_FALSE((*outcome)->error);
  EXPECT_EQ(endpoint_.requests()[0].target, "/collect?t=appview");
  EXPECT_FALSE(connection->isInFlight());
}

TEST_F(AnalyticsURLConnectionTest, AnAnswersBodyIsNotKept) {
  // Nobody reads it: an answer with a large body costs no memory.
  testsupport::ScriptedServer talkative([](const testsupport::ScriptedRequest&) {
    return testsupport::ScriptedReply::text(200, std::string(3u << 20, 'x'));
  });
  auto outcome = std::make_shared<std::optional<Outcome>>();
  auto connection = start(outcome, talkative.url("/collect?t=event"));
  ASSERT_TRUE(runUntil([&] { return outcome->has_value(); }));
  ASSERT_TRUE((*outcome)->response);
  EXPECT_EQ((*outcome)->response->statusCode(), 200);
  EXPECT_FALSE((*outcome)->error);
  EXPECT_EQ((*outcome)->data, platform::Bytes());
  EXPECT_EQ(talkative.requestCount(), 1u);
}

TEST_F(AnalyticsURLConnectionTest, DryRunSendsNothingAndAnswers200) {
  AnalyticsURLConnection::setDryRun(true);
  auto outcome = std::make_shared<std::optional<Outcome>>();
  auto connection = start(outcome);
  ASSERT_TRUE(runUntil([&] { return outcome->has_value(); }));
  AnalyticsURLConnection::setDryRun(false);
  EXPECT_EQ((*outcome)->response->statusCode(), 200);
  EXPECT_EQ((*outcome)->data, platform::Bytes());
  EXPECT_FALSE((*outcome)->error);
  EXPECT_EQ(endpoint_.requestCount(), 0u);
}

TEST_F(AnalyticsURLConnectionTest, CancelCompletesWithoutDataOrError) {
  endpoint_.script({CollectionEndpoint::Answer::Hang});
  auto outcome = std::make_shared<std::optional<Outcome>>();
  auto connection = start(outcome);
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  connection->cancel();
  ASSERT_TRUE(runUntil([&] { return outcome->has_value(); }));
  EXPECT_FALSE((*outcome)->response);
  EXPECT_FALSE((*outcome)->data);
  EXPECT_FALSE((*outcome)->error);
  // The time limit finds it finished: no second completion.
  outcome->reset();
  advance(61.0);
  drainMain();
  EXPECT_FALSE(outcome->has_value());
}

TEST_F(AnalyticsURLConnectionTest, RequestWithoutAnswerTimesOutAfterAMinute) {
  endpoint_.script({CollectionEndpoint::Answer::Hang});
  auto outcome = std::make_shared<std::optional<Outcome>>();
  auto connection = start(outcome);
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  advance(59.0);
  EXPECT_TRUE(connection->isInFlight());
  advance(1.0);
  ASSERT_TRUE(runUntil([&] { return outcome->has_value(); }));
  ASSERT_TRUE((*outcome)->error);
  EXPECT_EQ((*outcome)->error->code(), -1001);
  EXPECT_FALSE((*outcome)->response);
}

TEST(AnalyticsErrorTest, ErrorsCarryTheirDetails) {
  auto plain = AnalyticsError::errorWithCode(3);
  EXPECT_EQ(plain.domain(), kAnalyticsErrorDomain);
  EXPECT_TRUE(plain.userInfo().empty());
  EXPECT_EQ(AnalyticsError::errorWithCodeWithFormat(4, "%d hits", 7).localizedDescription(),
            "7 hits");
  auto file = AnalyticsError::errorWithCodeWithFailedFilePathWithFormat(5, "/x", "at %s", "y");
  EXPECT_EQ(file.userInfo().at(kAnalyticsFilePathErrorKey), platform::Value("/x"));
  auto wrapped = AnalyticsError::errorWithCode(6, plain, "outer");
  EXPECT_EQ(*wrapped.userInfo().at(platform::kUnderlyingErrorKey).object<platform::Error>(), plain);
}

class RecordingDelegate : public AnalyticsReachabilityDelegate {
 public:
  void reachabilityStatusChanged(AnalyticsReachabilityChecker&, std::int32_t status) override {
    statuses.push_back(status);
  }
  std::vector<std::int32_t> statuses;  // main thread only
};

class AnalyticsReachabilityCheckerTest : public AnalyticsTest {
 protected:
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

TEST_F(AnalyticsReachabilityCheckerTest, StatusFromFlags) {
  const std::pair<std::uint32_t, std::int32_t> cases[] = {
      {0, 1},
      {2, 2},
      {6, 1},
      {262146, 3},
      {2 | 4 | 8, 2},
      {2 | 4 | 32, 2},
      {2 | 4 | 8 | 16, 1},
      {2 | 16, 2},
  };
  for (const auto& [flags, status] : cases) {
    EXPECT_EQ(AnalyticsReachabilityChecker::statusForFlags(flags), status) << flags;
  }
}

TEST_F(AnalyticsReachabilityCheckerTest, TellsTheDelegateOfEachChangeOnce) {
  EXPECT_EQ(AnalyticsReachabilityChecker::initWithDelegate(delegate_, ""), nullptr);
  EXPECT_TRUE(logger_->contains("Invalid host specified."));

  auto checker = AnalyticsReachabilityChecker::initWithDelegate(delegate_, "collect.test:8080");
  ASSERT_TRUE(checker);
  EXPECT_EQ(checker->reachabilityStatus(), 0);
  EXPECT_TRUE(checker->start());
  EXPECT_TRUE(checker->start());
  EXPECT_EQ(reachability_->watcherCount(), 1u);
  ASSERT_TRUE(runUntil([&] { return delegate_->statuses.size() == 1; }));
  EXPECT_EQ(delegate_->statuses, (std::vector<std::int32_t>{2}));

  reachability_->setFlags("collect.test", 0);
  ASSERT_TRUE(runUntil([&] { return delegate_->statuses.size() == 2; }));
  checker->reachabilityFlagsChanged(0);
  reachability_->setFlags(
      "collect.test", platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN);
  ASSERT_TRUE(runUntil([&] { return delegate_->statuses.size() == 3; }));
  EXPECT_EQ(delegate_->statuses, (std::vector<std::int32_t>{2, 1, 3}));
  EXPECT_TRUE(logger_->contains("Reachability flags update: 0X040002"));

  checker->setReachabilityApi(nullptr);
  EXPECT_TRUE(logger_->contains(
      "Cannot change reachability API while reachability running; call stop first."));
  checker->stop();
  EXPECT_FALSE(checker->isActive());
  EXPECT_EQ(checker->reachabilityStatus(), 0);
  EXPECT_EQ(reachability_->watcherCount(), 0u);
  reachability_->setFlags("collect.test", 0);
  drainMain();
  EXPECT_EQ(delegate_->statuses.size(), 3u);
}

}  // namespace
}  // namespace analyticstest
