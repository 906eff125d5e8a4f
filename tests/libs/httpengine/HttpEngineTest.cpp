#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "httpengine/HttpEngine.h"
#include "httpengine/HttpEngineAdditions.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/FakeReachabilitySource.h"
#include "platform/net/URLError.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

using platform::Dictionary;
using platform::Error;
using platform::RunLoop;
using testsupport::runUntil;
using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;

namespace {

// What one operation reported, and whether every report came on the main thread.
struct Outcome {
  int completions = 0;
  int errors = 0;
  int notModified = 0;
  std::optional<Error> error;
  std::optional<std::string> body;
  bool onMain = true;
  bool done() const { return completions + errors + notModified > 0; }

  void attach(const HttpOperation::Ptr& op) {
    op->addCompletionHandler(
        [this](const HttpOperation::Ptr& done) {
          ++completions;
          body = done->responseString();
          onMain = onMain && RunLoop::isMainThread();
        },
        [this](const HttpOperation::Ptr& failed, const Error& e) {
          ++errors;
          error = e;
          body = failed->responseString();
          onMain = onMain && RunLoop::isMainThread();
        });
    op->onNotModified([this] { ++notModified; });
  }
};

std::shared_ptr<HttpEngine> engineFor(const ScriptedServer& server) {
  auto engine = HttpEngine::create("127.0.0.1");
  engine->setPortNumber(server.port());
  return engine;
}

ScriptedReply echo(const ScriptedRequest& r) {
  return ScriptedReply::text(200, r.method + " " + r.target + " " + r.body);
}

// Answers `body` to everything, holding the answers to `heldPath` until the test releases them.
ScriptedServer::Handler answerHoldingAt(std::string heldPath, std::string body) {
  return [heldPath, body](const ScriptedRequest& r) {
    auto reply = ScriptedReply::text(200, body);
    reply.gated = r.path() == heldPath;
    return reply;
  };
}

TEST(HttpEngineTest, UrlForming) {
  struct Case {
    std::string host;
    int port;
    std::optional<std::string> apiPath;
    std::string path;
    bool ssl;
    std::string url;
  };
  const Case cases[] = {
      {"h", 0, std::nullopt, "/", false, "http://h"},
      {"h", 0, std::nullopt, "", false, "http://h/"},
      {"h", 0, std::nullopt, "/a/b", false, "http://h/a/b"},
      {"h", 0, std::nullopt, "a", false, "http://h/a"},
      {"h", 8080, std::nullopt, "a", false, "http://h:8080/a"},
      {"h", 0, "v1", "a", true, "https://h/v1/a"},
      {"h/api", 0, std::nullopt, "getRetrainAreas.html", false,
       "http://h/api/getRetrainAreas.html"},
  };
  for (const auto& c : cases) {
    auto engine = HttpEngine::create(c.host);
    engine->setPortNumber(c.port);
    engine->setApiPath(c.apiPath);
    auto op = engine->operationWithPath(c.path, std::nullopt, "GET", c.ssl);
    ASSERT_TRUE(op) << c.url;
    EXPECT_EQ(op->url(), c.url);
  }
  auto hostless = HttpEngine::create();
  EXPECT_EQ(hostless->operationWithPath("a"), nullptr);
  EXPECT_TRUE(hostless->operationWithURLString("http://h/x"));
  // Null is reported and ignored, never fatal.
  hostless->enqueueOperation(nullptr);
}

TEST(HttpEngineTest, DefaultUserAgentAndCallersOwnWins) {
  auto& bundle = platform::Bundle::main();
  auto plain = HttpEngine::create("h");
  auto op = plain->operationWithPath("x");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("User-Agent"),
            bundle.name() + "/" + bundle.version());
  auto custom = HttpEngine::create("h", HeaderDictionary{{"User-Agent", "Mine/1"}, {"X-Key", "k"}});
  op = custom->operationWithPath("x");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("User-Agent"), "Mine/1");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("X-Key"), "k");
  // An operation the caller builds itself does not get the engine's headers.
  EXPECT_FALSE(
      HttpOperation::make("http://h/x")->readonlyRequest().valueForHTTPHeaderField("X-Key"));
}

TEST(HttpEngineTest, GetWithParametersAndJsonOffTheMainThread) {
  ScriptedServer server([](const ScriptedRequest& r) {
    return ScriptedReply::text(200, R"({"userId":5,"q":")" + r.query() + "\"}", "application/json");
  });
  auto engine = engineFor(server);
  auto op = engine->operationWithPath("getRetrainCourseDatas.html", Dictionary{{"userId", 5}});
  Outcome outcome;
  outcome.attach(op);
  std::optional<nlohmann::json> decoded;
  bool decodedOnMain = false;
  op->addCompletionHandler(
      [&](const HttpOperation::Ptr& done) {
        done->responseJSONWithCompletionHandler([&](const std::optional<nlohmann::json>& j) {
          decoded = j;
          decodedOnMain = RunLoop::isMainThread();
        });
      },
      nullptr);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return decoded.has_value(); }));
  EXPECT_EQ(server.requests().at(0).target, "/getRetrainCourseDatas.html?userId=5");
  EXPECT_EQ(outcome.completions, 1);
  EXPECT_TRUE(outcome.onMain);
  EXPECT_TRUE(decodedOnMain);
  EXPECT_EQ((*decoded)["userId"], 5);
  EXPECT_EQ(op->HTTPStatusCode(), 200);
}

TEST(HttpEngineTest, PostWithAndWithoutFormBody) {
  ScriptedServer server(echo);
  auto engine = engineFor(server);
  auto withBody = engine->operationWithPath("getRetrainUserId.html",
                                            Dictionary{{"name", "a b&c"}, {"n", 5}}, "POST");
  auto empty = engine->operationWithPath("saveRetrainServiceFeedback.html", std::nullopt, "POST");
  Outcome a, b;
  a.attach(withBody);
  b.attach(empty);
  engine->enqueueOperation(withBody);
  engine->enqueueOperation(empty);
  ASSERT_TRUE(runUntil([&] { return a.done() && b.done(); }));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& r : requests) {
    if (r.path() == "/getRetrainUserId.html") {
      EXPECT_EQ(r.body, "n=5&name=a%20b%26c");
      EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    } else {
      EXPECT_EQ(r.body, "");
      EXPECT_EQ(r.header("Content-Length"), "0");
      EXPECT_FALSE(r.header("Content-Type"));
    }
    EXPECT_TRUE(r.header("User-Agent"));
    EXPECT_TRUE(r.header("Accept-Language"));
  }
}

TEST(HttpEngineTest, WidthFollowsReachabilityCountedByTheServer) {
  platform::ScopedFakeReachability fake(platform::kReachabilityFlagsReachable);
  ScriptedServer server([](const ScriptedRequest& r) {
    auto reply = ScriptedReply::text(200, r.target);
    reply.gated = true;
    return reply;
  });
  auto engine = engineFor(server);
  auto queue = HttpEngine::sharedOperationQueue();
  ASSERT_TRUE(runUntil([&] { return fake->watcherCount() == 1; }));

  auto runBatch = [&](int count, const std::string& tag) {
    std::vector<Outcome> outcomes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      auto op = engine->operationWithPath(tag + std::to_string(i));
      outcomes[static_cast<std::size_t>(i)].attach(op);
      engine->enqueueOperation(op);
    }
    return outcomes;
  };
  auto allDone = [](const std::vector<Outcome>& outcomes) {
    return std::all_of(outcomes.begin(), outcomes.end(), [](const Outcome& o) { return o.done(); });
  };

  auto wifi = runBatch(10, "wifi");
  ASSERT_TRUE(runUntil([&] { return server.inFlight() == 6; }));
  EXPECT_TRUE(runUntil([&] { return queue->operationCount() == 10; }));
  EXPECT_EQ(server.inFlight(), 6u);
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return allDone(wifi); }));
  EXPECT_EQ(server.maxInFlight(), 6u);

  fake->setFlags(platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN);
  ASSERT_TRUE(runUntil([&] { return queue->maxConcurrentOperationCount() == 2; }));
  ScriptedServer mobileServer([](const ScriptedRequest& r) {
    auto reply = ScriptedReply::text(200, r.target);
    reply.gated = true;
    return reply;
  });
  engine->setPortNumber(mobileServer.port());
  auto mobile = runBatch(5, "mobile");
  ASSERT_TRUE(runUntil([&] { return mobileServer.inFlight() == 2; }));
  EXPECT_TRUE(runUntil([&] { return queue->operationCount() == 5; }));
  EXPECT_EQ(mobileServer.inFlight(), 2u);
  mobileServer.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return allDone(mobile); }));
  EXPECT_EQ(mobileServer.maxInFlight(), 2u);

  // Losing the network leaves the width alone; WiFi again widens to six.
  std::vector<NetworkStatus> statuses;
  engine->setReachabilityChangedHandler([&](NetworkStatus s) { statuses.push_back(s); });
  fake->setFlags(0);
  ASSERT_TRUE(runUntil([&] { return statuses.size() == 1; }));
  EXPECT_EQ(queue->maxConcurrentOperationCount(), 2);
  fake->setFlags(platform::kReachabilityFlagsReachable);
  ASSERT_TRUE(runUntil([&] { return statuses.size() == 2; }));
  EXPECT_EQ(queue->maxConcurrentOperationCount(), 6);
  EXPECT_EQ(statuses, (std::vector<NetworkStatus>{NotReachable, ReachableViaWiFi}));
}

TEST(HttpEngineTest, WifiOnlyModeStopsStartingOnMobile) {
  platform::ScopedFakeReachability fake(platform::kReachabilityFlagsReachable);
  auto engine = HttpEngine::create("api.example.test");
  engine->setWifiOnlyMode(true);
  ASSERT_TRUE(runUntil([&] { return fake->watcherCount() == 1; }));
  fake->setFlags(platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN);
  auto queue = HttpEngine::sharedOperationQueue();
  ASSERT_TRUE(runUntil([&] { return queue->maxConcurrentOperationCount() == 0; }));
  fake->setFlags(platform::kReachabilityFlagsReachable);
  ASSERT_TRUE(runUntil([&] { return queue->maxConcurrentOperationCount() == 6; }));
}

TEST(HttpEngineTest, RangeProgressCountsFromTheStartPosition) {
  const std::string file(1500, 'r');
  bool honourRange = true;
  ScriptedServer server([&](const ScriptedRequest& r) {
    if (honourRange) return ScriptedReply::ranged(r, file);
    return ScriptedReply::text(200, file, "application/octet-stream");
  });
  auto engine = engineFor(server);
  for (bool honour : {true, false}) {
    honourRange = honour;
    auto op = engine->operationWithPath("lecture.ts");
    op->addHeaders({{"Range", "bytes=1000-"}});
    std::vector<double> progress;
    op->onDownloadProgressChanged([&](double p) { progress.push_back(p); });
    Outcome outcome;
    outcome.attach(op);
    engine->enqueueOperation(op);
    ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
    ASSERT_EQ(outcome.completions, 1);
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(op->startPosition(), 1000);
    // A server that ignores Range sends everything; no check is made on the status.
    EXPECT_EQ(op->downloadedDataSize(), honour ? 1500u : 2500u);
  }
}

TEST(HttpEngineTest, DownloadStreamTakesTheBodyInsteadOfMemory) {
  testsupport::TempHome home;
  ScriptedServer server([](const ScriptedRequest&) {
    return ScriptedReply::text(200, std::string(100000, 'd'), "video/mp2t");
  });
  auto engine = engineFor(server);
  auto op = engine->operationWithPath("seg.ts");
  std::string path = home.path() + "/seg.ts";
  op->addDownloadStream(platform::OutputStream::toFile(path, false));
  Outcome outcome;
  outcome.attach(op);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
  EXPECT_EQ(outcome.completions, 1);
  EXPECT_FALSE(op->responseData());
  EXPECT_EQ(std::filesystem::file_size(path), 100000u);
}

TEST(HttpEngineTest, ClientErrorsCarryTheStatusAndKeepTheBody) {
  ScriptedServer server([](const ScriptedRequest&) {
    auto reply = ScriptedReply::text(404, "no such page");
    reply.headers.emplace_back("X-Reason", "gone");
    return reply;
  });
  auto engine = engineFor(server);
  auto op = engine->operationWithPath("missing.html");
  Outcome outcome;
  outcome.attach(op);
  std::optional<Error> plainError;
  op->onCompletion([](const HttpOperation::Ptr&) {}, [&](const Error& e) { plainError = e; });
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return outcome.done() && plainError; }));
  EXPECT_EQ(outcome.errors, 1);
  EXPECT_EQ(outcome.error->domain(), "NSURLErrorDomain");
  EXPECT_EQ(outcome.error->code(), 404);
  EXPECT_EQ(outcome.error->userInfo().at("X-Reason"), platform::Value("gone"));
  EXPECT_EQ(outcome.body, "no such page");
  EXPECT_EQ(plainError->code(), 404);
}

// Statuses that used to finish without any handler now reach the error handlers.
TEST(HttpEngineTest, UnfollowedRedirectsAndOddStatusesAreErrors) {
  int status = 0;
  ScriptedServer server([&](const ScriptedRequest&) { return ScriptedReply::text(status, "x"); });
  auto engine = engineFor(server);
  for (int s : {301, 302, 307, 600, 799}) {
    status = s;
    auto op = engine->operationWithPath("odd");
    Outcome outcome;
    outcome.attach(op);
    engine->enqueueOperation(op);
    ASSERT_TRUE(runUntil([&] { return outcome.done(); })) << s;
    EXPECT_EQ(outcome.errors, 1) << s;
    EXPECT_EQ(outcome.error->code(), s);
  }
  status = 304;
  auto op = engine->operationWithPath("same");
  Outcome notModified;
  notModified.attach(op);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return notModified.done(); }));
  EXPECT_EQ(notModified.notModified, 1);
  EXPECT_EQ(notModified.errors + notModified.completions, 0);
}

TEST(HttpEngineTest, StalledServerFailsWithTheIdleTimeout) {
  ScriptedServer server([](const ScriptedRequest&) {
    auto reply = ScriptedReply::text(200, "never");
    reply.behaviour = ScriptedReply::Behaviour::StallAfterHead;
    return reply;
  });
  auto engine = engineFor(server);
  auto op = engine->operationWithPath("stall");
  op->setTimeoutInterval(1);  // the connection's idle limit, on the system clock
  Outcome outcome;
  outcome.attach(op);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return outcome.done(); }, 20));
  EXPECT_EQ(outcome.error->domain(), "NSURLErrorDomain");
  EXPECT_EQ(outcome.error->code(), platform::kURLErrorTimedOut);
}

TEST(HttpEngineTest, CancelledOperationCallsNoHandler) {
  ScriptedServer server(answerHoldingAt("/held", "late"));
  auto engine = engineFor(server);
  auto held = engine->operationWithPath("held");
  Outcome cancelled;
  cancelled.attach(held);
  std::vector<int> states;
  held->setOperationStateChangedHandler([&](int s) { states.push_back(s); });
  engine->enqueueOperation(held);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  held->cancel();
  EXPECT_TRUE(held->isFinished());
  server.releaseReplies();
  ASSERT_TRUE(server.waitForReplies(1));
  auto later = engine->operationWithPath("later");
  Outcome other;
  other.attach(later);
  engine->enqueueOperation(later);
  ASSERT_TRUE(runUntil([&] { return other.done(); }));
  runUntil([] { return RunLoop::main()->pendingCount() == 0; });
  EXPECT_FALSE(cancelled.done());
  EXPECT_EQ(HttpEngine::sharedOperationQueue()->operationCount(), 0u);

  // Cancelled before it starts: finished by the queue, still silent.
  auto early = engine->operationWithPath("early");
  Outcome silent;
  silent.attach(early);
  early->cancel();
  engine->enqueueOperation(early);
  ASSERT_TRUE(runUntil([&] { return early->isFinished(); }));
  EXPECT_FALSE(silent.done());
}

TEST(HttpEngineTest, EqualGetsMakeOneRequestAndEachHandlerRunsOnce) {
  ScriptedServer server(answerHoldingAt("/same", "shared"));
  auto engine = engineFor(server);
  auto first = engine->operationWithPath("same");
  auto second = engine->operationWithPath("same");
  Outcome a, b;
  a.attach(first);
  b.attach(second);
  engine->enqueueOperation(first);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  engine->enqueueOperation(second);
  // The merge happens on the main thread; let it happen before the reply comes.
  ASSERT_TRUE(runUntil([&] { return first->completionHandlerCount() == 2; }));
  EXPECT_EQ(HttpEngine::sharedOperationQueue()->operationCount(), 1u);
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return a.done() && b.done(); }));
  runUntil([] { return HttpEngine::sharedOperationQueue()->operationCount() == 0; });
  EXPECT_EQ(a.completions, 1);
  EXPECT_EQ(b.completions, 1);
  EXPECT_EQ(b.body, "shared");
  EXPECT_EQ(server.requestCount(), 1u);

  // POSTs are never merged.
  auto postA = engine->operationWithPath("p", Dictionary{{"a", 1}}, "POST");
  auto postB = engine->operationWithPath("p", Dictionary{{"a", 1}}, "POST");
  Outcome pa, pb;
  pa.attach(postA);
  pb.attach(postB);
  engine->enqueueOperation(postA);
  engine->enqueueOperation(postB);
  ASSERT_TRUE(runUntil([&] { return pa.done() && pb.done(); }));
  EXPECT_EQ(pa.completions + pb.completions, 2);
  EXPECT_EQ(server.requestCount(), 3u);
}

// An operation that is never cached is started inside the call that queues it; one that the
// cache could serve or merge still goes the usual way, where an equal GET in flight takes it in.
TEST(HttpEngineTest, AnUncachedOperationStartsInsideTheCallThatQueuesIt) {
  ScriptedServer server(answerHoldingAt("/same", "shared"));
  auto engine = engineFor(server);
  auto uncached = engine->operationWithPath("plain");
  uncached->setShouldNotCacheResponse(true);
  Outcome a;
  a.attach(uncached);
  engine->enqueueUncachedOperation(uncached);
  EXPECT_TRUE(uncached->isExecuting());
  ASSERT_TRUE(runUntil([&] { return a.done(); }));
  EXPECT_EQ(a.completions, 1);
  EXPECT_EQ(a.body, "shared");
  EXPECT_TRUE(a.onMain);

  auto first = engine->operationWithPath("same");
  auto second = engine->operationWithPath("same");
  Outcome b, c;
  b.attach(first);
  c.attach(second);
  engine->enqueueOperation(first);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 2; }));
  engine->enqueueUncachedOperation(second);
  ASSERT_TRUE(runUntil([&] { return first->completionHandlerCount() == 2; }));
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return b.done() && c.done(); }));
  EXPECT_EQ(c.completions, 1);
  EXPECT_EQ(server.requestCount(), 2u);
  ASSERT_TRUE(runUntil([] { return HttpEngine::sharedOperationQueue()->operationCount() == 0; }));
}

TEST(HttpEngineTest, AGetEqualToOneThatIsOverIsSentAgain) {
  ScriptedServer server(answerHoldingAt("/held", "again"));
  auto engine = engineFor(server);
  struct Case {
    const char* path;
    bool cancelFirst;
  };
  for (const Case& c : {Case{"done", false}, Case{"held", true}}) {
    SCOPED_TRACE(c.path);
    std::size_t before = server.requestCount();
    auto first = engine->operationWithPath(c.path);
    Outcome a;
    a.attach(first);
    engine->enqueueOperation(first);
    if (c.cancelFirst) {
      ASSERT_TRUE(runUntil([&] { return server.requestCount() == before + 1; }));
      first->cancel();
    } else {
      ASSERT_TRUE(runUntil([&] { return a.done(); }));
    }
    ASSERT_TRUE(runUntil([] { return HttpEngine::sharedOperationQueue()->operationCount() == 0; }));
    // The first is over: the newcomer is neither merged into it nor dropped.
    auto second = engine->operationWithPath(c.path);
    Outcome b;
    b.attach(second);
    engine->enqueueOperation(second);
    if (c.cancelFirst) {
      ASSERT_TRUE(runUntil([&] { return server.requestCount() == before + 2; }));
      server.releaseReplies();
    }
    ASSERT_TRUE(runUntil([&] { return b.done(); }));
    EXPECT_EQ(b.completions, 1);
    EXPECT_EQ(b.body, "again");
    EXPECT_EQ(a.completions, c.cancelFirst ? 0 : 1);
    EXPECT_EQ(server.requestCount(), before + 2);
  }
}

TEST(HttpEngineTest, OperationCountIsPosted) {
  ScriptedServer server(echo);
  auto engine = engineFor(server);
  std::mutex mutex;
  std::vector<std::int64_t> counts;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kHttpEngineOperationCountChanged, [&](const platform::Notification& n) {
        std::lock_guard lock(mutex);
        counts.push_back(n.object.integerValue());
      });
  auto op = engine->operationWithPath("count");
  Outcome outcome;
  outcome.attach(op);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] {
    std::lock_guard lock(mutex);
    return outcome.done() && !counts.empty() && counts.back() == 0;
  }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(counts, (std::vector<std::int64_t>{1, 0}));
  EXPECT_FALSE(HttpEngine::networkActivityIndicatorVisible());
}

TEST(HttpEngineTest, ReachableFollowsTheHostsWatcher) {
  platform::ScopedFakeReachability fake(0);
  auto engine = HttpEngine::create("api.example.test/api");
  EXPECT_EQ(engine->readonlyHostName(), "api.example.test/api");
  EXPECT_FALSE(engine->isReachable());
  fake->setFlags("api.example.test", platform::kReachabilityFlagsReachable);
  EXPECT_TRUE(engine->isReachable());
  // An engine without host has no watcher and never counts as reachable.
  auto hostless = HttpEngine::create();
  EXPECT_EQ(hostless->readonlyHostName(), "");
  EXPECT_FALSE(hostless->isReachable());
}

TEST(HttpEngineTest, StreamedBodyReportsUploadProgress) {
  ScriptedServer server(echo);
  auto engine = engineFor(server);
  auto op = engine->operationWithPath("upload.html", std::nullopt, "PUT");
  op->setUploadStream(std::make_shared<std::istringstream>(std::string(100000, 'u')));
  std::vector<double> progress;
  op->onUploadProgressChanged([&](double p) { progress.push_back(p); });
  Outcome outcome;
  outcome.attach(op);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
  EXPECT_EQ(outcome.completions, 1);
  EXPECT_EQ(server.requests().at(0).body, std::string(100000, 'u'));
  // A stream's length is unknown up front: no fraction can be given.
  EXPECT_TRUE(progress.empty());

  auto sized =
      engine->operationWithPath("upload.html", Dictionary{{"a", std::string(70000, 'x')}}, "POST");
  progress.clear();
  sized->onUploadProgressChanged([&](double p) { progress.push_back(p); });
  Outcome posted;
  posted.attach(sized);
  engine->enqueueOperation(sized);
  ASSERT_TRUE(runUntil([&] { return posted.done(); }));
  ASSERT_FALSE(progress.empty());
  EXPECT_DOUBLE_EQ(progress.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST(HttpEngineTest, EngineGoingAwayStopsItsWatcher) {
  platform::ScopedFakeReachability fake(platform::kReachabilityFlagsReachable);
  std::weak_ptr<Reachability> watcher;
  {
    auto engine = HttpEngine::create("api.example.test");
    watcher = engine->reachability();
    ASSERT_TRUE(runUntil([&] { return fake->watcherCount() == 1; }));
  }
  EXPECT_EQ(fake->watcherCount(), 0u);
  EXPECT_TRUE(watcher.expired());
  // A change after the engine is gone reaches nobody and breaks nothing.
  fake->setFlags(0);
  runUntil([] { return RunLoop::main()->pendingCount() == 0; });
}

TEST(HttpEngineTest, CacheServesRepeatedGetsAndAsksAgainConditionally) {
  testsupport::TempHome home;
  ScriptedServer server([](const ScriptedRequest& r) {
    if (r.header("IF-NONE-MATCH") == "\"v1\"") return ScriptedReply::text(304, "");
    auto reply = ScriptedReply::text(200, "body of " + r.path(), "text/html");
    reply.headers.emplace_back("Cache-Control", r.path() == "/fresh" ? "max-age=300" : "max-age=0");
    reply.headers.emplace_back("ETag", "\"v1\"");
    return reply;
  });
  auto engine = engineFor(server);
  engine->useCache();
  ASSERT_TRUE(engine->isCacheEnabled());
  auto fetch = [&](const std::string& path, bool force, Outcome& outcome) {
    auto op = engine->operationWithPath(path);
    outcome.attach(op);
    engine->enqueueOperation(op, force);
    return op;
  };
  auto cachedUnder = [&](const std::string& key) {
    return runUntil([&] {
      auto keys = engine->memoryCacheKeys();
      return std::find(keys.begin(), keys.end(), key) != keys.end();
    });
  };

  Outcome first;
  auto op = fetch("fresh", false, first);
  ASSERT_TRUE(runUntil([&] { return first.done(); }));
  ASSERT_TRUE(cachedUnder(op->uniqueIdentifier()));
  Outcome again;
  auto repeat = fetch("fresh", false, again);
  ASSERT_TRUE(runUntil([&] { return again.done(); }));
  EXPECT_EQ(again.body, "body of /fresh");
  EXPECT_TRUE(repeat->isCachedResponse());
  EXPECT_EQ(server.requestCount(), 1u);  // still fresh: not asked again

  Outcome staleFirst;
  op = fetch("stale", false, staleFirst);
  ASSERT_TRUE(runUntil([&] { return staleFirst.done(); }));
  ASSERT_TRUE(cachedUnder(op->uniqueIdentifier()));
  Outcome stale;
  fetch("stale", false, stale);
  // The cached copy is handed over at once, then the server is asked whether it changed.
  ASSERT_TRUE(runUntil([&] { return stale.completions == 1 && stale.notModified == 1; }));
  EXPECT_EQ(server.requests().back().header("IF-NONE-MATCH"), "\"v1\"");

  Outcome forced;
  fetch("fresh", true, forced);
  ASSERT_TRUE(runUntil([&] { return forced.completions == 2; }));
  EXPECT_FALSE(server.requests().back().header("IF-NONE-MATCH"));
  EXPECT_EQ(server.requestCount(), 4u);
  engine->emptyCache();
  EXPECT_FALSE(std::filesystem::exists(engine->cacheDirectoryName() + ".plist"));
}

TEST(HttpEngineTest, MemoryCacheKeepsAtMostNineEntries) {
  testsupport::TempHome home;
  auto engine = HttpEngine::create();
  engine->useCache();
  for (int i = 0; i < 10; ++i)
    engine->saveCacheData({static_cast<std::uint8_t>(i)}, "k" + std::to_string(i));
  std::string evicted = platform::Paths::join(engine->cacheDirectoryName(), "k0");
  ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(evicted); }));
  auto keys = engine->memoryCacheKeys();
  EXPECT_EQ(keys.size(), 9u);
  EXPECT_EQ(keys.front(), "k9");
  EXPECT_EQ(std::find(keys.begin(), keys.end(), "k0"), keys.end());
  EXPECT_EQ(testsupport::readFile(evicted), std::string(1, '\0'));

  // Data on disk is still found, and comes back into memory.
  auto op = HttpOperation::make("http://h/x");
  testsupport::writeFile(
      platform::Paths::join(engine->cacheDirectoryName(), op->uniqueIdentifier()), "kept");
  EXPECT_EQ(engine->cachedDataForOperation(*op), (platform::Bytes{'k', 'e', 'p', 't'}));
  ASSERT_TRUE(
      runUntil([&] { return engine->memoryCacheKeys().front() == op->uniqueIdentifier(); }));
  engine->saveCache();
  EXPECT_TRUE(engine->memoryCacheKeys().empty());
  EXPECT_TRUE(std::filesystem::exists(engine->cacheDirectoryName() + ".plist"));
}

// A server may send header bytes that are not UTF-8; the JSON header store cannot hold them.
// Saving (on a notification) must neither throw nor lose the other entries.
TEST(HttpEngineTest, CacheHeadersThatAreNotTextStayOutOfTheStore) {
  testsupport::TempHome home;
  ScriptedServer server([](const ScriptedRequest& r) {
    auto reply = ScriptedReply::text(200, "body", "text/html");
    reply.headers.emplace_back("ETag", r.path() == "/raw" ? "\"\xFF\xFE\"" : "\"v2\"");
    return reply;
  });
  auto engine = engineFor(server);
  engine->useCache();
  std::vector<std::string> keys;
  for (const char* path : {"raw", "plain"}) {
    auto op = engine->operationWithPath(path);
    Outcome outcome;
    outcome.attach(op);
    engine->enqueueOperation(op);
    ASSERT_TRUE(runUntil([&] { return outcome.completions == 1; })) << path;
    keys.push_back(op->uniqueIdentifier());
    ASSERT_TRUE(runUntil([&] {
      auto cached = engine->memoryCacheKeys();
      return std::find(cached.begin(), cached.end(), keys.back()) != cached.end();
    }));
  }
  platform::NotificationCenter::defaultCenter().post(
      platform::kApplicationDidEnterBackgroundNotification);
  auto store =
      platform::Json::parse(testsupport::readFile(engine->cacheDirectoryName() + ".plist"));
  ASSERT_TRUE(store);
  EXPECT_FALSE(store->contains(keys[0]));
  ASSERT_TRUE(store->contains(keys[1]));
  EXPECT_EQ((*store)[keys[1]]["ETag"], "\"v2\"");
}

// Stands for a queued request whose outcome arrives just as it is frozen: it finishes before the
// cancel can take.
class FinishesBeforeTheCancel : public HttpOperation {
 public:
  using HttpOperation::HttpOperation;
  void cancel() override {
    setState(kStateFinished);
    HttpOperation::cancel();
  }
};

// Holds the shared queue at a width for one test, and gives later tests the WiFi width back
// however the test ends (the queue outlives it).
class ScopedQueueWidth {
 public:
  explicit ScopedQueueWidth(long width) {
    HttpEngine::sharedOperationQueue()->setMaxConcurrentOperationCount(width);
  }
  ~ScopedQueueWidth() {
    HttpEngine::sharedOperationQueue()->setMaxConcurrentOperationCount(HttpEngine::kWiFiWidth);
  }
};

std::string frozenPathOf(const HttpEngine& engine, const HttpOperation& op) {
  return platform::Paths::join(engine.cacheDirectoryName(),
                               op.uniqueIdentifier() + ".httpenginefrozenoperation");
}

TEST(HttpEngineTest, FrozenOperationsAreRestoredWhenTheHostComesBack) {
  testsupport::TempHome home;
  platform::ScopedFakeReachability fake(0);
  ScriptedServer server(echo);
  auto engine = engineFor(server);
  engine->useCache();
  ASSERT_TRUE(runUntil([&] { return fake->watcherCount() == 1; }));
  auto queue = HttpEngine::sharedOperationQueue();
  ASSERT_EQ(queue->maxConcurrentOperationCount(), HttpEngine::kWiFiWidth);

  auto op =
      engine->operationWithPath("acceptRetrainStudyLog.html", Dictionary{{"log", "1"}}, "POST");
  op->setFreezable(true);
  Outcome silent;
  silent.attach(op);
  // The queue would start it at once: freezing is decided before it gets there, so it arrives
  // already cancelled and is never sent while its archive waits.
  std::mutex mutex;
  std::optional<bool> cancelledWhenQueued;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kHttpEngineOperationCountChanged, [&](const platform::Notification&) {
        std::lock_guard lock(mutex);
        for (const auto& queued : queue->operations()) {
          if (queued == op && !cancelledWhenQueued) cancelledWhenQueued = op->isCancelled();
        }
      });
  engine->enqueueOperation(op);
  std::string frozen = frozenPathOf(*engine, *op);
  ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(frozen) && op->isFinished(); }));
  {
    // The queue may start and retire the cancelled operation before the count notice is
    // delivered; whenever the notice did see it queued, it was already cancelled.
    std::lock_guard lock(mutex);
    if (cancelledWhenQueued) {
      EXPECT_TRUE(*cancelledWhenQueued);
    }
  }
  token.reset();
  EXPECT_EQ(server.requestCount(), 0u);

  fake->setFlags(platform::kReachabilityFlagsReachable);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  EXPECT_EQ(server.requests().at(0).body, "log=1");
  EXPECT_EQ(queue->maxConcurrentOperationCount(), 6);
  ASSERT_TRUE(
      runUntil([&] { return !std::filesystem::exists(frozen) && queue->operationCount() == 0; }));
  EXPECT_FALSE(silent.done());
}

TEST(HttpEngineTest, AnArchiveIsRemovedWhenTheCancelDidNotTake) {
  testsupport::TempHome home;
  platform::ScopedFakeReachability fake(0);
  auto engine = HttpEngine::create("127.0.0.1");
  engine->useCache();
  ScopedQueueWidth stopped(0);
  auto op = HttpOperation::make<FinishesBeforeTheCancel>("http://127.0.0.1:9/log.html",
                                                         Dictionary{{"log", "4"}}, "POST");
  op->setFreezable(true);
  auto queue = HttpEngine::sharedOperationQueue();
  queue->addOperation(op);
  engine->freezeOperations();
  // Its caller had the outcome: an archive left behind would send the request once more.
  EXPECT_FALSE(op->isCancelled());
  EXPECT_FALSE(std::filesystem::exists(frozenPathOf(*engine, *op)));
  EXPECT_TRUE(runUntil([&] { return queue->operationCount() == 0; }));
}

TEST(HttpEngineTest, DamagedFrozenArchivesAreDroppedNotRun) {
  testsupport::TempHome home;
  platform::ScopedFakeReachability fake(platform::kReachabilityFlagsReachable);
  ScriptedServer server(echo);
  auto engine = engineFor(server);
  engine->useCache();
  std::string url = server.url("/log.html");
  const std::string damaged[] = {
      R"({"dataToBePosted":[{}]})",
      R"({"request":{"method":"POST"},"filesToBePosted":[{}]})",
      R"({"request":{"url":")" + url + R"(","method":"POST"},"dataToBePosted":[{"name":"d"}]})",
      R"({"request":{"url":")" + url + R"(","method":"POST"},"filesToBePosted":[{"name":"f"}]})",
      "not json",
  };
  int n = 0;
  for (const auto& text : damaged) {
    testsupport::writeFile(
        platform::Paths::join(engine->cacheDirectoryName(),
                              "d" + std::to_string(n++) + ".httpenginefrozenoperation"),
        text);
  }
  // One sound archive beside them still goes out.
  auto sound = HttpOperation::make(url, Dictionary{{"log", "5"}}, "POST");
  testsupport::writeFile(
      platform::Paths::join(engine->cacheDirectoryName(), "sound.httpenginefrozenoperation"),
      sound->encodeWithCoder().dump());
  engine->checkAndRestoreFrozenOperations();
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  EXPECT_EQ(server.requests().at(0).body, "log=5");
  ASSERT_TRUE(runUntil([] { return HttpEngine::sharedOperationQueue()->operationCount() == 0; }));
  EXPECT_EQ(testsupport::filesIn(engine->cacheDirectoryName()), std::vector<std::string>{});
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST(HttpEngineTest, AFilePartThatCannotBeReadFailsTheRequest) {
  testsupport::TempHome home;
  ScriptedServer server(echo);
  auto engine = engineFor(server);
  struct Case {
    std::string path;
    int code;
  };
  const Case cases[] = {{home.path(), platform::kURLErrorFileIsDirectory},
                        {home.path() + "/missing.txt", platform::kURLErrorFileDoesNotExist}};
  for (const auto& c : cases) {
    auto op = engine->operationWithPath("upload.html", Dictionary{{"k", "v"}}, "POST");
    op->addFile(c.path, "doc");
    Outcome outcome;
    outcome.attach(op);
    engine->enqueueOperation(op);
    ASSERT_TRUE(runUntil([&] { return outcome.done(); })) << c.path;
    EXPECT_TRUE(outcome.onMain);
    ASSERT_EQ(outcome.errors, 1);
    EXPECT_EQ(outcome.error->domain(), platform::kURLErrorDomain);
    EXPECT_EQ(outcome.error->code(), c.code) << c.path;
    EXPECT_TRUE(op->isFinished());
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST(HttpEngineTest, GzipJsonAnswerDecodes) {
  ScriptedServer server([](const ScriptedRequest&) {
    auto reply = ScriptedReply::text(
        200, ScriptedReply::encoded(R"({"userId": 1234, "mCodeFlag": 1})", "gzip"),
        "application/json");
    reply.headers.emplace_back("Content-Encoding", "gzip");
    return reply;
  });
  auto engine = engineFor(server);
  auto op = engine->operationWithPath("getRetrainUserId.html", Dictionary{{"a", "1"}}, "POST");
  std::optional<std::optional<nlohmann::json>> decoded;
  op->addCompletionHandler(
      [&](const HttpOperation::Ptr& done) {
        done->responseJSONWithCompletionHandler(
            [&](const std::optional<nlohmann::json>& j) { decoded = j; });
      },
      nullptr);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return decoded.has_value(); }));
  ASSERT_TRUE(decoded->has_value());
  EXPECT_EQ((**decoded)["userId"], 1234);
}

TEST(HttpEngineTest, CancellingAllTakesOnlyThisHostsOperations) {
  ScopedQueueWidth stopped(0);
  auto engine = HttpEngine::create("127.0.0.1");
  auto mine = engine->operationWithPath("a");
  auto other = HttpOperation::make("http://localhost/b");
  auto queue = HttpEngine::sharedOperationQueue();
  queue->addOperation(mine);
  queue->addOperation(other);
  engine->cancelAllOperations();
  EXPECT_TRUE(mine->isCancelled());
  EXPECT_FALSE(other->isCancelled());
  other->cancel();
  EXPECT_TRUE(runUntil([&] { return queue->operationCount() == 0; }));
}

}  // namespace

namespace {

// Holds the queue's thread in `start` until released, so a cancelled operation stays in the
// shared queue for as long as the test needs.
class GatedOperation : public HttpOperation {
 public:
  using HttpOperation::HttpOperation;
  void start() override {
    gate.get_future().wait();
    HttpOperation::start();
  }
  std::promise<void> gate;
};

TEST(HttpEngineTest, FreezingAgainLeavesAnAlreadyFrozenOperationsArchiveAlone) {
  testsupport::TempHome home;
  platform::ScopedFakeReachability fake(0);
  ScriptedServer server(echo);
  auto engine = engineFor(server);
  engine->useCache();
  ASSERT_TRUE(runUntil([&] { return fake->watcherCount() == 1; }));
  auto queue = HttpEngine::sharedOperationQueue();

  std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/log.html";
  auto op = HttpOperation::make<GatedOperation>(url, Dictionary{{"log", "2"}}, "POST");
  op->setFreezable(true);
  std::string frozen = frozenPathOf(*engine, *op);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(frozen) && op->isCancelled(); }));

  // The cancelled operation is still queued: freezing once more must not archive it again.
  engine->freezeOperations();
  op->gate.set_value();
  auto archive = platform::Json::parse(testsupport::readFile(frozen));
  ASSERT_TRUE(archive && archive->is_object());
  EXPECT_EQ(archive->value("isCancelled", true), false);

  fake->setFlags(platform::kReachabilityFlagsReachable);
  ASSERT_TRUE(runUntil([&] { return server.requestCount() == 1; }));
  EXPECT_EQ(server.requests().at(0).body, "log=2");
  ASSERT_TRUE(
      runUntil([&] { return !std::filesystem::exists(frozen) && queue->operationCount() == 0; }));
}

TEST(HttpEngineTest, ARequestThatWentOutIsNeverFrozenHoweverTheNetworkFlaps) {
  testsupport::TempHome home;
  platform::ScopedFakeReachability fake(platform::kReachabilityFlagsReachable);
  ScriptedServer server(answerHoldingAt("/log.html", "stored"));
  auto engine = engineFor(server);
  engine->useCache();
  ASSERT_TRUE(runUntil([&] { return fake->watcherCount() == 1; }));
  std::atomic<int> lost{0}, back{0};
  engine->setReachabilityChangedHandler(
      [&](NetworkStatus status) { ++(status == NotReachable ? lost : back); });

  auto op = engine->operationWithPath("log.html", Dictionary{{"log", "7"}}, "POST");
  op->setFreezable(true);
  Outcome outcome;
  outcome.attach(op);
  engine->enqueueOperation(op);
  // The server has the request and holds its answer while the network comes and goes.
  ASSERT_TRUE(server.waitForRequests(1));
  for (int flap = 1; flap <= 3; ++flap) {
    fake->setFlags(0);
    ASSERT_TRUE(runUntil([&] { return lost >= flap; }));
    fake->setFlags(platform::kReachabilityFlagsReachable);
    ASSERT_TRUE(runUntil([&] { return back >= flap; }));
  }
  server.releaseReplies();
  ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
  EXPECT_EQ(outcome.completions, 1);
  EXPECT_EQ(outcome.body, "stored");
  ASSERT_TRUE(runUntil([] { return HttpEngine::sharedOperationQueue()->operationCount() == 0; }));
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(testsupport::filesIn(engine->cacheDirectoryName()), std::vector<std::string>{});
  engine->setReachabilityChangedHandler(nullptr);
}

TEST(HttpEngineTest, OperationThatCannotBeArchivedIsNotCancelled) {
  testsupport::TempHome home;
  platform::ScopedFakeReachability fake(0);
  auto engine = HttpEngine::create("127.0.0.1");
  engine->useCache();
  ScopedQueueWidth stopped(0);
  auto queue = HttpEngine::sharedOperationQueue();

  auto op = HttpOperation::make("http://127.0.0.1:9/log.html", Dictionary{{"log", "3"}}, "POST");
  op->setFreezable(true);
  // A folder where the archive should go makes writing it fail.
  std::filesystem::create_directories(frozenPathOf(*engine, *op));
  queue->addOperation(op);
  engine->freezeOperations();
  EXPECT_FALSE(op->isCancelled());

  op->cancel();
  ASSERT_TRUE(runUntil([&] { return queue->operationCount() == 0; }));
}

}  // namespace

namespace {

// An operation class of a caller's own, told apart only by its type.
class TaggedOperation : public HttpOperation {
 public:
  using HttpOperation::HttpOperation;
};

TEST(HttpEngineTest, TheRegisteredClassMakesTheEnginesOperations) {
  auto engine = HttpEngine::create("h", HeaderDictionary{{"X-Key", "k"}});
  EXPECT_FALSE(std::dynamic_pointer_cast<TaggedOperation>(engine->operationWithPath("a")));
  engine->registerOperationSubclass<TaggedOperation>();
  for (const auto& op : {engine->operationWithPath("a", Dictionary{{"n", 1}}, "POST"),
                         engine->operationWithURLString("http://other/b")}) {
    ASSERT_TRUE(std::dynamic_pointer_cast<TaggedOperation>(op));
    // Whatever its class, an operation the engine makes carries the engine's headers.
    EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("X-Key"), "k");
  }
  EXPECT_EQ(engine->customHeaders().at("X-Key"), "k");

  // A factory that refuses gives no operation, and no headers are added to nothing.
  engine->registerOperationSubclass(
      [](const std::string&, const std::optional<Dictionary>&,
         const std::optional<std::string>&) -> HttpOperation::Ptr { return nullptr; });
  EXPECT_EQ(engine->operationWithPath("a"), nullptr);
}

TEST(HttpEngineTest, CancellingByUrlTextTakesEveryQueuedOperationThatContainsIt) {
  ScopedQueueWidth stopped(0);
  auto lectures = HttpEngine::create("media.example.test");
  auto api = HttpEngine::create("api.example.test");
  auto first = lectures->operationWithURLString("http://media.example.test/lecture1/0.ts");
  auto second = lectures->operationWithURLString("http://media.example.test/lecture1/1.ts");
  auto other = lectures->operationWithURLString("http://media.example.test/lecture2/0.ts");
  auto login = api->operationWithPath("lecture1.html");
  auto queue = HttpEngine::sharedOperationQueue();
  for (const auto& op : {first, second, other, login}) queue->addOperation(op);

  // Whichever engine asks: the text is looked for in every URL of the shared queue.
  HttpEngine::cancelOperationsContainingURLString("/lecture1/");
  EXPECT_TRUE(first->isCancelled());
  EXPECT_TRUE(second->isCancelled());
  EXPECT_FALSE(other->isCancelled());
  EXPECT_FALSE(login->isCancelled());  // "lecture1.html" has no "/lecture1/"
  HttpEngine::cancelOperationsContainingURLString("/LECTURE2/");  // case counts
  EXPECT_FALSE(other->isCancelled());

  other->cancel();
  login->cancel();
  EXPECT_TRUE(runUntil([&] { return queue->operationCount() == 0; }));
}

TEST(HttpEngineTest, TheResponseIsReadableOnceTheAnswerCame) {
  ScriptedServer server([](const ScriptedRequest&) {
    auto reply = ScriptedReply::text(201, "made");
    reply.headers.push_back({"X-Served-By", "scripted"});
    return reply;
  });
  auto engine = engineFor(server);
  auto op = engine->operationWithPath("things", std::nullopt, "POST");
  EXPECT_FALSE(op->readonlyResponse());
  Outcome outcome;
  outcome.attach(op);
  engine->enqueueOperation(op);
  ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
  auto response = op->readonlyResponse();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->statusCode(), 201);
  EXPECT_EQ(response->url(), op->url());
  EXPECT_EQ(response->allHeaderFields().value("x-served-by"), "scripted");
}

}  // namespace
