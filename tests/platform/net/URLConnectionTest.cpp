#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <sstream>

#include "platform/foundation/Clock.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLError.h"
#include "support/MainLoop.h"
#include "support/ScriptedServer.h"

namespace platform {
namespace {

using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;

// Records what a connection delivers, and on which thread.
class Recorder : public URLConnectionDelegate {
 public:
  void connectionDidReceiveResponse(URLConnection&, const URLResponse& r) override {
    events.push_back("response");
    response = r;
    checkThread();
  }
  void connectionDidReceiveData(URLConnection&, const Bytes& data) override {
    if (events.empty() || events.back() != "data") events.push_back("data");
    body.append(data.begin(), data.end());
    bytes += data.size();
    checkThread();
    if (onData) onData();
  }
  void connectionDidSendBodyData(URLConnection&, std::int64_t, std::int64_t total,
                                 std::int64_t expected) override {
    uploaded = total;
    uploadExpected = expected;
  }
  void connectionDidFinishLoading(URLConnection&) override {
    events.push_back("finish");
    checkThread();
  }
  void connectionDidFailWithError(URLConnection&, const Error& e) override {
    events.push_back("fail");
    error = e;
    checkThread();
  }
  bool done() const {
    return !events.empty() && (events.back() == "finish" || events.back() == "fail");
  }
  void checkThread() { onMainThread = onMainThread && RunLoop::isMainThread(); }

  std::vector<std::string> events;
  URLResponse response;
  std::string body;
  std::size_t bytes = 0;
  std::optional<Error> error;
  std::int64_t uploaded = 0, uploadExpected = 0;
  bool onMainThread = true;
  std::function<void()> onData;
};

struct Fixture {
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<URLConnection> connection;

  void start(URLRequest request) {
    connection = URLConnection::make(std::move(request), recorder);
    connection->start();
  }
  bool runToEnd(double seconds = 20) {
    return testsupport::runUntil([&] { return recorder->done(); }, seconds);
  }
};

TEST(URLConnectionTest, DeliversResponseDataAndFinishOnTheCallersRunLoop) {
  ScriptedServer server([](const ScriptedRequest&) {
    auto reply = ScriptedReply::text(200, "hello", "text/plain; charset=UTF-8");
    reply.headers.emplace_back("X-Thing", "one");
    reply.headers.emplace_back("X-Thing", "two");
    return reply;
  });
  Fixture f;
  f.start(URLRequest(server.url("/a?b=c")));
  ASSERT_TRUE(f.runToEnd());
  EXPECT_EQ(f.recorder->events, (std::vector<std::string>{"response", "data", "finish"}));
  EXPECT_TRUE(f.recorder->onMainThread);
  EXPECT_EQ(f.recorder->body, "hello");
  EXPECT_EQ(f.recorder->response.statusCode(), 200);
  EXPECT_EQ(f.recorder->response.expectedContentLength(), 5);
  EXPECT_EQ(f.recorder->response.mimeType(), "text/plain");
  EXPECT_EQ(f.recorder->response.textEncodingName(), "utf-8");
  EXPECT_EQ(f.recorder->response.valueForHTTPHeaderField("x-thing"), "one, two");
  EXPECT_EQ(server.requests().at(0).target, "/a?b=c");
}

TEST(URLConnectionTest, SendsOnlyTheRequestsOwnHeaders) {
  ScriptedServer server([](const ScriptedRequest&) { return ScriptedReply::text(200, ""); });
  URLRequest request(server.url("/post"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(Bytes(2000, 'x'));
  request.setValue("tester", "User-Agent");
  Fixture f;
  f.start(request);
  ASSERT_TRUE(f.runToEnd());
  auto seen = server.requests().at(0);
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.body, std::string(2000, 'x'));
  EXPECT_EQ(seen.header("User-Agent"), "tester");
  EXPECT_EQ(seen.header("Content-Length"), "2000");
  EXPECT_FALSE(seen.header("Accept"));
  EXPECT_FALSE(seen.header("Expect"));
  EXPECT_FALSE(seen.header("Content-Type"));
}

TEST(URLConnectionTest, EmptyPostSendsZeroLengthAndBodyStreamIsSent) {
  ScriptedServer server([](const ScriptedRequest&) { return ScriptedReply::text(200, ""); });
  URLRequest empty(server.url("/empty"));
  empty.setHTTPMethod("POST");
  Fixture a;
  a.start(empty);
  ASSERT_TRUE(a.runToEnd());
  EXPECT_EQ(server.requests().at(0).header("Content-Length"), "0");

  URLRequest streamed(server.url("/stream"));
  streamed.setHTTPMethod("PUT");
  streamed.setHTTPBodyStream(std::make_shared<std::istringstream>(std::string(70000, 's')));
  Fixture b;
  b.start(streamed);
  ASSERT_TRUE(b.runToEnd());
  EXPECT_EQ(server.requests().at(1).method, "PUT");
  EXPECT_EQ(server.requests().at(1).body, std::string(70000, 's'));
  EXPECT_EQ(b.recorder->uploaded, 70000);
}

TEST(URLConnectionTest, FollowsRedirectsKeepingTheMethodWhenAsked) {
  ScriptedServer server([](const ScriptedRequest& r) {
    if (r.path() == "/final") return ScriptedReply::text(200, r.method + ":" + r.body);
    ScriptedReply reply = ScriptedReply::text(302, "moved");
    reply.headers.emplace_back("Location", "/final");
    return reply;
  });
  for (bool keep : {false, true}) {
    URLRequest request(server.url("/start"));
    request.setHTTPMethod("POST");
    request.setHTTPBody(Bytes{'a', '=', '1'});
    request.setKeepsMethodOnRedirect(keep);
    Fixture f;
    f.start(request);
    ASSERT_TRUE(f.runToEnd());
    EXPECT_EQ(f.recorder->response.statusCode(), 200);
    EXPECT_EQ(f.recorder->response.url(), server.url("/final"));
    EXPECT_EQ(f.recorder->body, keep ? "POST:a=1" : "GET:");
  }
}

TEST(URLConnectionTest, TransportFailuresCarryTheirUrlErrorCodes) {
  struct Case {
    ScriptedReply::Behaviour behaviour;
    int code;
  };
  for (auto c : {Case{ScriptedReply::Behaviour::CloseMidBody, kURLErrorNetworkConnectionLost},
                 Case{ScriptedReply::Behaviour::StallAfterHead, kURLErrorTimedOut},
                 Case{ScriptedReply::Behaviour::StallBeforeHead, kURLErrorTimedOut}}) {
    ScriptedServer server([&](const ScriptedRequest&) {
      auto reply = ScriptedReply::text(200, std::string(1000, 'b'));
      reply.behaviour = c.behaviour;
      return reply;
    });
    URLRequest request(server.url("/x"));
    request.setTimeoutInterval(1);  // the idle limit, on the system clock
    Fixture f;
    f.start(request);
    ASSERT_TRUE(f.runToEnd(20));
    ASSERT_TRUE(f.recorder->error);
    EXPECT_EQ(f.recorder->error->domain(), "NSURLErrorDomain");
    EXPECT_EQ(f.recorder->error->code(), c.code);
    EXPECT_EQ(f.recorder->error->userInfo().at(kURLErrorStringKey), Value(server.url("/x")));
  }
}

// The idle limit restarts with every byte: a trickle never times out, however long it lasts in
// total, and silence does, on the shared clock.
TEST(URLConnectionTest, IdleLimitRestartsWithEveryByteOnTheClock) {
  ScopedManualClock clock;
  ScriptedServer server([](const ScriptedRequest&) {
    auto reply = ScriptedReply::text(200, "abcdef");
    reply.behaviour = ScriptedReply::Behaviour::Paced;
    return reply;
  });
  URLRequest request(server.url("/trickle"));
  request.setTimeoutInterval(30);
  Fixture f;
  f.start(request);
  // Five bytes 20 s apart: 100 s in all, never 30 s without a byte.
  for (std::size_t sent = 1; sent <= 5; ++sent) {
    server.allowBodyBytes(1);
    ASSERT_TRUE(
        testsupport::runUntil([&] { return f.recorder->bytes == sent || f.recorder->done(); }));
    ASSERT_FALSE(f.recorder->error) << "failed after " << sent << " bytes";
    clock->advanceSeconds(20);
  }
  server.allowBodyBytes(1);
  ASSERT_TRUE(f.runToEnd());
  EXPECT_EQ(f.recorder->events.back(), "finish");
  EXPECT_EQ(f.recorder->body, "abcdef");

  // Silence as long as the limit fails the transfer, without waiting for real time to pass.
  Fixture silent;
  silent.start(request);
  server.allowBodyBytes(1);
  ASSERT_TRUE(testsupport::runUntil([&] { return silent.recorder->bytes == 1; }));
  clock->advanceSeconds(29);
  clock->advanceSeconds(1);
  ASSERT_TRUE(silent.runToEnd(20));
  ASSERT_TRUE(silent.recorder->error);
  EXPECT_EQ(silent.recorder->error->code(), kURLErrorTimedOut);
  EXPECT_EQ(silent.recorder->body, "a");
}

TEST(URLConnectionTest, AsksForAndDecodesGzipAndDeflate) {
  const std::string json = R"({"resultCode":1,"text":")" + std::string(4000, 'x') + "\"}";
  for (const char* coding : {"gzip", "deflate"}) {
    ScriptedServer server([&](const ScriptedRequest&) {
      auto reply = ScriptedReply::text(200, ScriptedReply::encoded(json, coding), "text/json");
      reply.headers.emplace_back("Content-Encoding", coding);
      return reply;
    });
    Fixture f;
    f.start(URLRequest(server.url("/answer")));
    ASSERT_TRUE(f.runToEnd()) << coding;
    EXPECT_EQ(f.recorder->events.back(), "finish") << coding;
    EXPECT_TRUE(f.recorder->body == json) << coding << ": " << f.recorder->body.size() << " bytes";
    // The announced length counts the coded bytes, not those delivered.
    EXPECT_EQ(f.recorder->response.expectedContentLength(), -1) << coding;
    auto asked = server.requests().at(0).header("Accept-Encoding");
    ASSERT_TRUE(asked);
    EXPECT_NE(asked->find("gzip"), std::string::npos);
    EXPECT_NE(asked->find("deflate"), std::string::npos);
  }
}

TEST(URLConnectionTest, RefusedConnectionIsCannotConnect) {
  int port;
  {
    ScriptedServer server([](const ScriptedRequest&) { return ScriptedReply::text(200, ""); });
    port = server.port();
  }
  Fixture f;
  f.start(URLRequest("http://127.0.0.1:" + std::to_string(port) + "/"));
  ASSERT_TRUE(f.runToEnd());
  ASSERT_TRUE(f.recorder->error);
  EXPECT_EQ(f.recorder->error->code(), kURLErrorCannotConnectToHost);
}

TEST(URLConnectionTest, NothingIsDeliveredAfterCancel) {
  ScriptedServer server([](const ScriptedRequest& r) {
    auto reply = ScriptedReply::text(200, "late");
    reply.gated = r.path() == "/held";
    return reply;
  });
  Fixture cancelled;
  cancelled.start(URLRequest(server.url("/held")));
  ASSERT_TRUE(server.waitForRequests(1));
  cancelled.connection->cancel();
  server.releaseReplies();
  ASSERT_TRUE(server.waitForReplies(1));
  // A later transfer on the same run loop finishing shows the loop has run past anything the
  // cancelled one could have queued.
  Fixture later;
  later.start(URLRequest(server.url("/other")));
  ASSERT_TRUE(later.runToEnd());
  testsupport::runUntil([] { return RunLoop::main()->pendingCount() == 0; });
  EXPECT_TRUE(cancelled.recorder->events.empty());
}

TEST(URLConnectionTest, ATransferCountsInFlightUntilItsEndIsDeliveredOrItIsCancelled) {
  ScriptedServer server([](const ScriptedRequest& r) {
    auto reply = ScriptedReply::text(200, "late");
    reply.gated = r.path() == "/held";
    return reply;
  });
  const std::size_t before = URLConnection::transfersInFlight();
  Fixture answered;
  answered.connection = URLConnection::make(URLRequest(server.url("/held")), answered.recorder);
  EXPECT_EQ(URLConnection::transfersInFlight(), before) << "made, not started";
  answered.connection->start();
  EXPECT_EQ(URLConnection::transfersInFlight(), before + 1);
  Fixture cancelled;
  cancelled.start(URLRequest(server.url("/held")));
  EXPECT_EQ(URLConnection::transfersInFlight(), before + 2);
  ASSERT_TRUE(server.waitForRequests(2));
  cancelled.connection->cancel();
  EXPECT_EQ(URLConnection::transfersInFlight(), before + 1);
  cancelled.connection->cancel();
  EXPECT_EQ(URLConnection::transfersInFlight(), before + 1) << "counted off once";
  server.releaseReplies();
  ASSERT_TRUE(server.waitForReplies(2));
  EXPECT_EQ(URLConnection::transfersInFlight(), before + 1) << "answered, not yet delivered";
  ASSERT_TRUE(answered.runToEnd());
  EXPECT_EQ(URLConnection::transfersInFlight(), before);

  Fixture refused;  // a failure ends it too
  int port;
  {
    ScriptedServer gone([](const ScriptedRequest&) { return ScriptedReply::text(200, ""); });
    port = gone.port();
  }
  refused.start(URLRequest("http://127.0.0.1:" + std::to_string(port) + "/"));
  ASSERT_TRUE(refused.runToEnd());
  EXPECT_EQ(URLConnection::transfersInFlight(), before);
}

TEST(URLConnectionTest, PausesWhileTheRunLoopIsBehindAndLosesNothing) {
  const std::size_t total = 48u << 20;
  std::string body(total, 'z');
  ScriptedServer server([&](const ScriptedRequest&) {
    return ScriptedReply::text(200, body, "application/octet-stream");
  });
  Fixture f;
  bool blocked = false;
  std::size_t sentWhileBlocked = 0;
  f.recorder->onData = [&] {
    if (blocked) return;
    blocked = true;
    // The run loop is busy here: the server can only fill our bounded buffer and the sockets.
    server.waitForBodyBytes(32u << 20, 1.0);
    sentWhileBlocked = server.bodyBytesSent();
  };
  f.start(URLRequest(server.url("/big")));
  // 48 MiB through ThreadSanitizer on a busy machine can take a minute; a stuck transfer never
  // ends, so the long limit costs nothing when it works.
  ASSERT_TRUE(f.runToEnd(100));
  EXPECT_LT(sentWhileBlocked, 32u << 20);
  EXPECT_EQ(f.recorder->bytes, total);
  EXPECT_EQ(f.recorder->events.back(), "finish");
}

// A TCP port on loopback that nobody answers on: it only tells whether anything connected.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  int port() const { return port_; }
  // Whether a connection waits to be accepted (the kernel completes it without us).
  bool wasConnected() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(URLConnectionTest, OnlyHttpAndHttpsAreFetchedAlsoAfterARedirect) {
  SilentListener listener;
  const std::string target = "127.0.0.1:" + std::to_string(listener.port());
  ScriptedServer server([&](const ScriptedRequest& r) {
    auto reply = ScriptedReply::text(302, "moved");
    reply.headers.emplace_back("Location", r.query() == "to=dict" ? "dict://" + target + "/d:x"
                                                                  : "gopher://" + target + "/_x");
    return reply;
  });
  const std::string urls[] = {"gopher://" + target + "/_GET%20/%0D%0A", "dict://" + target + "/d:x",
                              server.url("/r?to=gopher"), server.url("/r?to=dict")};
  for (const auto& url : urls) {
    Fixture f;
    f.start(URLRequest(url));
    ASSERT_TRUE(f.runToEnd()) << url;
    ASSERT_TRUE(f.recorder->error) << url;
    EXPECT_EQ(f.recorder->error->code(), kURLErrorUnsupportedURL) << url;
    EXPECT_NE(f.recorder->error->userInfo()
                  .at(kLocalizedFailureReasonKey)
                  .stringValue()
                  .find("only http and https"),
              std::string::npos)
        << url;
    EXPECT_FALSE(listener.wasConnected()) << url;
  }
  EXPECT_EQ(server.requestCount(), 2u);
}

TEST(URLConnectionTest, ABodyLongerThanTheRequestsLimitFails) {
  EXPECT_EQ(URLRequest().maximumBodyLength(), std::uint64_t{64} << 20);
  struct Case {
    std::optional<std::uint64_t> limit;
    std::size_t bodySize;
    const char* coding;  // the body is sent coded; the limit counts what is delivered
    bool fits;
  };
  const Case cases[] = {
      {1000, 1000, nullptr, true},          {1000, 1001, nullptr, false},
      {1u << 20, 5u << 20, nullptr, false}, {std::nullopt, 5u << 20, nullptr, true},
      {64u << 10, 4u << 20, "gzip", false},
  };
  for (const auto& c : cases) {
    const std::string body(c.bodySize, 'q');
    ScriptedServer server([&](const ScriptedRequest&) {
      if (!c.coding) return ScriptedReply::text(200, body, "application/octet-stream");
      auto reply = ScriptedReply::text(200, ScriptedReply::encoded(body, c.coding));
      reply.headers.emplace_back("Content-Encoding", c.coding);
      return reply;
    });
    URLRequest request(server.url("/big"));
    request.setMaximumBodyLength(c.limit);
    Fixture f;
    f.start(request);
    ASSERT_TRUE(f.runToEnd(60)) << c.bodySize;
    if (c.fits) {
      EXPECT_EQ(f.recorder->events.back(), "finish") << c.bodySize;
      EXPECT_EQ(f.recorder->bytes, c.bodySize);
      continue;
    }
    ASSERT_TRUE(f.recorder->error) << c.bodySize;
    EXPECT_EQ(f.recorder->error->code(), kURLErrorDataLengthExceedsMaximum) << c.bodySize;
    EXPECT_LE(f.recorder->bytes, *c.limit) << c.bodySize;
  }
}

}  // namespace
}  // namespace platform
