#pragma once
// What the analytics tests share:
// - RecordingLogger keeps every line the SDK logs, whatever the level;
// - CollectionEndpoint is the hit collection service on 127.0.0.1, answering each request as
//   scripted (200, 500, closing without an answer, or never answering) and 200 once the script
//   is used up;
// - AnalyticsTest gives each test its own home, a manual clock, a fake reachability source (the
//   endpoint reachable), the endpoint as both collection hosts, and an `Analytics` reset before
//   and after, with its options put back.

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsBatchingDispatcher.h"
#include "analytics/AnalyticsDataStore.h"
#include "analytics/AnalyticsLogger.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "platform/net/FakeReachabilitySource.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

namespace analyticstest {

class RecordingLogger : public AnalyticsLogger {
 public:
  void verbose(const std::string& message) override { add(message); }
  void info(const std::string& message) override { add(message); }
  void warning(const std::string& message) override { add(message); }
  void error(const std::string& message) override { add(message); }
  std::uint32_t logLevel() const override { return level_; }
  void setLogLevel(std::uint32_t level) override { level_ = level; }

  std::vector<std::string> lines() const EXCLUDES(mutex_);
  // Lines that hold `text` (after the SDK prefix, usually).
  std::size_t count(const std::string& text) const;
  bool contains(const std::string& text) const { return count(text) > 0; }

 private:
  void add(const std::string& message) EXCLUDES(mutex_);

  std::atomic<std::uint32_t> level_{4};
  mutable platform::Mutex mutex_;
  std::vector<std::string> lines_ GUARDED_BY(mutex_);
};

class CollectionEndpoint {
 public:
  enum class Answer { Ok, ServerError, Close, Hang };

  CollectionEndpoint();

  // The answers of the next requests, in order.
  void script(std::vector<Answer> answers) EXCLUDES(mutex_);
  // "http://127.0.0.1:<port>".
  std::string origin() const;
  std::vector<testsupport::ScriptedRequest> requests() const { return server_->requests(); }
  std::size_t requestCount() const { return server_->requestCount(); }
  bool waitForRequests(std::size_t n) { return server_->waitForRequests(n, 20); }

 private:
  testsupport::ScriptedReply answer() EXCLUDES(mutex_);

  mutable platform::Mutex mutex_;
  std::deque<Answer> script_ GUARDED_BY(mutex_);
  std::unique_ptr<testsupport::ScriptedServer> server_;
};

// The value of `name` in a query ("a=1&b=2"), empty when absent.
std::string queryValue(const std::string& query, const std::string& name);

class AnalyticsTest : public ::testing::Test {
 protected:
  AnalyticsTest();
  void SetUp() override;
  void TearDown() override;

  // Runs everything queued on the analytics thread so far.
  static void flush();
  // Runs the main run loop until `predicate` holds (request completions arrive there).
  static bool runUntil(const std::function<bool()>& predicate);
  // Runs what the main queue holds now.
  static void drainMain();
  void advance(double seconds);

  std::shared_ptr<AnalyticsBatchingDispatcher> dispatcher() {
    return Analytics::sharedInstance()->dispatcher();
  }
  std::int64_t storedHits() { return dispatcher()->dataStore()->hitCount(); }

  testsupport::TempHome home_;
  platform::ScopedFakeReachability reachability_;
  platform::ScopedManualClock clock_;
  CollectionEndpoint endpoint_;
  std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
};

}  // namespace analyticstest
