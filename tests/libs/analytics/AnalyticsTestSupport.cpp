#include "AnalyticsTestSupport.h"

#include "analytics/AnalyticsDefaultLogger.h"
#include "analytics/AnalyticsServerConfig.h"
#include "analytics/AnalyticsUsageTracker.h"
#include "platform/dispatch/Queue.h"
#include "support/MainLoop.h"

namespace analyticstest {

using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;

std::vector<std::string> RecordingLogger::lines() const {
  platform::MutexLock lock(mutex_);
  return lines_;
}

std::size_t RecordingLogger::count(const std::string& text) const {
  std::size_t found = 0;
  for (const auto& line : lines()) {
    if (line.find(text) != std::string::npos) ++found;
  }
  return found;
}

void RecordingLogger::add(const std::string& message) {
  platform::MutexLock lock(mutex_);
  lines_.push_back(message);
}

CollectionEndpoint::CollectionEndpoint()
    : server_(std::make_unique<testsupport::ScriptedServer>(
          [this](const ScriptedRequest&) { return answer(); })) {}

void CollectionEndpoint::script(std::vector<Answer> answers) {
  platform::MutexLock lock(mutex_);
  script_.assign(answers.begin(), answers.end());
}

std::string CollectionEndpoint::origin() const {
  return "http://127.0.0.1:" + std::to_string(server_->port());
}

ScriptedReply CollectionEndpoint::answer() {
  Answer next = Answer::Ok;
  {
    platform::MutexLock lock(mutex_);
    if (!script_.empty()) {
      next = script_.front();
      script_.pop_front();
    }
  }
  ScriptedReply reply = ScriptedReply::text(200, "");
  switch (next) {
    case Answer::Ok:
      break;
    case Answer::ServerError:
      reply = ScriptedReply::text(500, "");
      reply.reason = "Internal Server Error";
      break;
    case Answer::Close:
      reply.behaviour = ScriptedReply::Behaviour::CloseBeforeHead;
      break;
    case Answer::Hang:
      reply.behaviour = ScriptedReply::Behaviour::StallBeforeHead;
      break;
  }
  return reply;
}

std::string queryValue(const std::string& query, const std::string& name) {
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string piece = query.substr(start, end - start);
    if (piece.compare(0, name.size() + 1, name + "=") == 0) return piece.substr(name.size() + 1);
    start = end + 1;
  }
  return {};
}

AnalyticsTest::AnalyticsTest() = default;

void AnalyticsTest::SetUp() {
  AnalyticsServerConfig::setSecureHost(endpoint_.origin());
  AnalyticsServerConfig::setPlainHost(endpoint_.origin());
  auto analytics = Analytics::sharedInstance();
  analytics->reset();
  analytics->setLogger(logger_);
  // Codes recorded so far belong to earlier tests.
  AnalyticsUsageTracker::getUsageSequence();
}

void AnalyticsTest::TearDown() {
  if (HasFailure()) {
    for (const auto& line : logger_->lines()) std::fprintf(stderr, "  log: %s\n", line.c_str());
  }
  auto analytics = Analytics::sharedInstance();
  analytics->reset();
  analytics->setOptOut(false);
  analytics->setDryRun(false);
  analytics->setTrackUncaughtExceptions(false);
  analytics->setLogger(std::make_shared<AnalyticsDefaultLogger>());
  AnalyticsServerConfig::setSecureHost("");
  AnalyticsServerConfig::setPlainHost("");
}

void AnalyticsTest::flush() {
  Analytics::thread()->runLoop()->performAndWait([] {});
}

bool AnalyticsTest::runUntil(const std::function<bool()>& predicate) {
  return testsupport::runUntil(predicate);
}

void AnalyticsTest::drainMain() {
  auto done = std::make_shared<std::atomic<bool>>(false);
  platform::dispatch::Queue::main()->async([done] { *done = true; });
  testsupport::runUntil([done] { return done->load(); });
}

void AnalyticsTest::advance(double seconds) {
  clock_->advanceSeconds(seconds);
  flush();
}

}  // namespace analyticstest
