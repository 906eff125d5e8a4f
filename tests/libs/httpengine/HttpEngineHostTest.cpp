// What an operation asks of the application through the installed host (background tasks,
// local notifications for failures in the background), and that it runs the same without one.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "httpengine/HttpEngine.h"
#include "httpengine/HttpEngineHost.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLError.h"
#include "support/MainLoop.h"
#include "support/ScriptedServer.h"

using platform::Error;
using testsupport::runUntil;
using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;

namespace {

// A host that keeps what it was asked; operations begin their tasks on queue threads.
class RecordingHost : public HttpEngineHost {
 public:
  BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expiration) override
      EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    running_[++lastId_] = std::move(expiration);
    return lastId_;
  }
  void endBackgroundTask(BackgroundTaskIdentifier task) override EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    running_.erase(task);
  }
  bool isInBackground() const override { return background; }
  void presentLocalNotificationNow(const platform::LocalNotification& n) override {
    shown.push_back(n);
  }

  std::size_t runningCount() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return running_.size();
  }
  // Runs out of background time: calls every running task's expiration handler.
  void expire() EXCLUDES(mutex_) {
    std::vector<std::function<void()>> handlers;
    {
      platform::MutexLock lock(mutex_);
      for (const auto& [id, handler] : running_) handlers.push_back(handler);
    }
    for (const auto& handler : handlers) handler();
  }

  // Main thread only.
  bool background = false;
  std::vector<platform::LocalNotification> shown;

 private:
  mutable platform::Mutex mutex_;
  BackgroundTaskIdentifier lastId_ GUARDED_BY(mutex_) = kBackgroundTaskInvalid;
  std::map<BackgroundTaskIdentifier, std::function<void()>> running_ GUARDED_BY(mutex_);
};

ScriptedReply replies(const ScriptedRequest& r) {
  if (r.path() == "/held") {
    ScriptedReply reply = ScriptedReply::text(200, "held");
    reply.gated = true;
    return reply;
  }
  if (r.path() == "/ok") return ScriptedReply::text(200, "ok");
  return ScriptedReply::text(404, "gone");
}

class HttpEngineHostTest : public ::testing::Test {
 protected:
  void TearDown() override {
    server.releaseReplies();
    HttpEngineHost::install(nullptr);
  }

  // Enqueues `op` and runs the main loop until one of its handlers has run; the error if any.
  std::optional<Error> run(const HttpOperation::Ptr& op) {
    bool done = false;
    std::optional<Error> failure;
    op->addCompletionHandler([&](const HttpOperation::Ptr&) { done = true; },
                             [&](const HttpOperation::Ptr&, const Error& e) {
                               failure = e;
                               done = true;
                             });
    engine->enqueueOperation(op);
    EXPECT_TRUE(runUntil([&] { return done; }));
    return failure;
  }

  ScriptedServer server{replies};
  std::shared_ptr<HttpEngine> engine = HttpEngine::create();
};

TEST_F(HttpEngineHostTest, WithoutAHostOperationsRunAndHoldNoTask) {
  ASSERT_EQ(HttpEngineHost::installed(), nullptr);
  auto ok = HttpOperation::make(server.url("/ok"));
  EXPECT_FALSE(run(ok));
  EXPECT_EQ(ok->responseString(), "ok");
  EXPECT_EQ(ok->backgroundTaskId(), HttpEngineHost::kBackgroundTaskInvalid);

  auto failing = HttpOperation::make(server.url("/fail"));
  failing->setShouldShowLocalNotificationOnError(true);
  auto error = run(failing);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 404);
}

TEST_F(HttpEngineHostTest, TheInstalledHostHoldsATaskWhileAnOperationRuns) {
  auto host = std::make_shared<RecordingHost>();
  HttpEngineHost::install(host);
  EXPECT_EQ(HttpEngineHost::installed(), host);

  auto held = HttpOperation::make(server.url("/held"));
  bool done = false;
  held->addCompletionHandler([&](const HttpOperation::Ptr&) { done = true; }, nullptr);
  engine->enqueueOperation(held);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  EXPECT_EQ(host->runningCount(), 1u);
  EXPECT_NE(held->backgroundTaskId(), HttpEngineHost::kBackgroundTaskInvalid);
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return done; }));
  ASSERT_TRUE(runUntil([&] { return host->runningCount() == 0; }));
  EXPECT_EQ(held->backgroundTaskId(), HttpEngineHost::kBackgroundTaskInvalid);
}

TEST_F(HttpEngineHostTest, RunningOutOfBackgroundTimeCancelsTheOperation) {
  auto host = std::make_shared<RecordingHost>();
  HttpEngineHost::install(host);
  auto expiring = HttpOperation::make(server.url("/held"));
  engine->enqueueOperation(expiring);
  // The reply is held until the tear-down, so the operation is still running.
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  host->expire();
  ASSERT_TRUE(runUntil([&] { return expiring->isCancelled(); }));
  EXPECT_TRUE(expiring->isFinished());
  EXPECT_EQ(host->runningCount(), 0u);
}

TEST_F(HttpEngineHostTest, AFailureShowsItsNotificationOnlyWhileTheHostIsInTheBackground) {
  auto host = std::make_shared<RecordingHost>();
  HttpEngineHost::install(host);
  platform::LocalNotification own{"传输失败", "打开", std::nullopt, {}};
  auto inFront = HttpOperation::make(server.url("/fail"));
  inFront->setLocalNotification(own);
  ASSERT_TRUE(run(inFront));
  EXPECT_TRUE(host->shown.empty());

  host->background = true;
  auto behind = HttpOperation::make(server.url("/fail"));
  behind->setLocalNotification(own);
  ASSERT_TRUE(run(behind));
  auto generic = HttpOperation::make(server.url("/fail"));
  generic->setShouldShowLocalNotificationOnError(true);
  auto error = run(generic);
  ASSERT_TRUE(error);
  EXPECT_EQ(host->shown, (std::vector<platform::LocalNotification>{
                             own, {error->localizedDescription(), "Dismiss", std::nullopt, {}}}));
}

}  // namespace
