// WebSocket endpoints over loopback: the upgrade from a connection, the RFC 6455 accept key and
// frames of every length form, masking, empty frames, the frames that end an endpoint, the
// message cap, and the old drafts with the draft 76 challenge.

#include <gtest/gtest.h>

#include <mutex>

#include "HttpServerTestSupport.h"
#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPServer.h"
#include "httpserver/core/WebSocket.h"
#include "platform/foundation/Paths.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

using httpservertest::RawClient;

// Echoes every message; "size:N" is answered with N bytes of "x".
class EchoSocket : public WebSocket {
  CH_SHARED_OBJECT(EchoSocket)

 public:
  static std::vector<std::string> received() {
    std::lock_guard<std::mutex> lock(mutex());
    return log();
  }
  static void reset() {
    std::lock_guard<std::mutex> lock(mutex());
    log().clear();
  }

 protected:
  using WebSocket::WebSocket;
  std::size_t maxMessageLength() override { return 1000; }
  void didOpen() override {
    record("open");
    WebSocket::didOpen();
  }
  void didReceiveMessage(const std::string& msg) override {
    record("message:" + msg);
    if (msg.rfind("size:", 0) == 0) {
      sendMessage(std::string(std::stoul(msg.substr(5)), 'x'));
    } else {
      sendMessage(msg);
    }
  }
  void didClose() override {
    record("close");
    WebSocket::didClose();
  }

 private:
  // Never destroyed: an endpoint the server closes as the process ends may still record its
  // close from a worker thread after static destructors have run.
  static std::mutex& mutex() {
    static auto* m = new std::mutex;
    return *m;
  }
  static std::vector<std::string>& log() {
    static auto* entries = new std::vector<std::string>;
    return *entries;
  }
  static void record(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex());
    log().push_back(entry);
  }
};

// Records what a plain endpoint tells its delegate.
class RecordingDelegate : public WebSocketDelegate {
 public:
  void webSocketDidOpen(const std::shared_ptr<WebSocket>&) override { add("open"); }
  void webSocketDidReceiveMessage(const std::shared_ptr<WebSocket>& ws,
                                  const std::string& msg) override {
    add("message:" + msg);
    ws->sendMessage("got " + msg);
  }
  void webSocketDidClose(const std::shared_ptr<WebSocket>&) override { add("close"); }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  void add(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

std::shared_ptr<RecordingDelegate>& theDelegate() {
  static std::shared_ptr<RecordingDelegate> recorder;
  return recorder;
}
std::shared_ptr<WebSocket>& lastPlainSocket() {
  static std::shared_ptr<WebSocket> ws;
  return ws;
}

class WebSocketConnection : public HTTPConnection {
  CH_SHARED_OBJECT(WebSocketConnection)

 protected:
  using HTTPConnection::HTTPConnection;
  std::shared_ptr<WebSocket> webSocketForURI(const std::string& path) override {
    if (path == "/plain") {
      std::shared_ptr<WebSocket> ws = WebSocket::initWithRequest(request.get(), asyncSocket);
      ws->setDelegate(theDelegate());
      lastPlainSocket() = ws;
      return ws;
    }
    if (path != "/ws") return nullptr;
    return WebSocket::initWithRequest<EchoSocket>(request.get(), asyncSocket);
  }
};

std::string maskedFrame(std::uint8_t first, const std::string& payload,
                        const std::string& key = "\x37\xfa\x21\x3d") {
  std::string frame(1, static_cast<char>(first));
  if (payload.size() < 126) {
    frame += static_cast<char>(0x80 | payload.size());
  } else {
    frame += static_cast<char>(0x80 | 126);
    frame += static_cast<char>(payload.size() >> 8);
    frame += static_cast<char>(payload.size() & 0xFF);
  }
  frame += key;
  for (std::size_t i = 0; i < payload.size(); ++i)
    frame += static_cast<char>(payload[i] ^ key[i % 4]);
  return frame;
}

class WebSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EchoSocket::reset();
    server = httpservertest::startServer(platform::Paths::documents(),
                                         &HTTPConnection::initWithAsyncSocket<WebSocketConnection>);
    ASSERT_TRUE(server);
    port = server->listeningPort();
  }
  void TearDown() override {
    if (server) server->stop();
  }

  // Upgrades `client` with an RFC 6455 handshake and checks the answer.
  void upgrade(RawClient& client) {
    client.send("GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                "\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: http://example.com\r\n"
                "Sec-WebSocket-Version: 13\r\n\r\n");
    auto reply = client.readReply(true);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->statusLine, "HTTP/1.1 101 Web Socket Protocol Handshake");
    EXPECT_EQ(reply->header("Upgrade"), "WebSocket");
    EXPECT_EQ(reply->header("Connection"), "Upgrade");
    EXPECT_EQ(reply->header("Sec-WebSocket-Accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(reply->header("WebSocket-Origin"), "http://example.com");
    EXPECT_EQ(reply->header("WebSocket-Location"),
              "ws://127.0.0.1:" + std::to_string(port) + "/ws");
  }

  bool endpointsGone() {
    return testsupport::runUntil([&] { return server->numberOfWebSocketConnections() == 0; });
  }

  testsupport::TempHome home;
  std::shared_ptr<HTTPServer> server;
  std::uint16_t port = 0;
};

TEST(WebSocketKeyTest, TheAcceptValueOfTheRFCExample) {
  EXPECT_EQ(WebSocket::acceptValueForKey("dGhlIHNhbXBsZSBub25jZQ=="),
            "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST_F(WebSocketTest, AnUpgradeHandsTheSocketToAnEndpointThatEchoesMaskedAndUnmaskedFrames) {
  RawClient client(port);
  upgrade(client);
  EXPECT_TRUE(testsupport::runUntil([&] { return server->numberOfWebSocketConnections() == 1; }));
  EXPECT_TRUE(testsupport::runUntil([&] { return server->numberOfHTTPConnections() == 0; }));

  client.send(maskedFrame(0x81, "hello"));
  EXPECT_EQ(client.readBytes(7), std::string("\x81\x05hello"));
  client.send(std::string("\x81\x03", 2) + "abc");  // unmasked: taken as it comes
  EXPECT_EQ(client.readBytes(5), std::string("\x81\x03", 2) + "abc");
}

TEST_F(WebSocketTest, MessagesOfEveryLengthFormAreFramedByTheirLength) {
  RawClient client(port);
  upgrade(client);
  struct Case {
    std::size_t length;
    std::string head;
  };
  const Case cases[] = {
      {125, std::string("\x81\x7d", 2)},
      {126, std::string("\x81\x7e\x00\x7e", 4)},
      {65535, std::string("\x81\x7e\xff\xff", 4)},
      {65536, std::string("\x81\x7f\x00\x00\x00\x00\x00\x01\x00\x00", 10)},
  };
  for (const Case& c : cases) {
    client.send(maskedFrame(0x81, "size:" + std::to_string(c.length)));
    EXPECT_EQ(client.readBytes(c.head.size()), c.head) << c.length;
    EXPECT_EQ(client.readBytes(c.length), std::string(c.length, 'x')) << c.length;
  }
  // A client frame with a 16-bit length comes in whole.
  const std::string long126(300, 'y');
  client.send(maskedFrame(0x81, long126));
  EXPECT_EQ(client.readBytes(4), std::string("\x81\x7e\x01\x2c", 4));
  EXPECT_EQ(client.readBytes(300), long126);
}

TEST_F(WebSocketTest, AnEmptyTextFrameIsDeliveredAndReadingGoesOn) {
  RawClient client(port);
  upgrade(client);
  client.send(maskedFrame(0x81, "") + std::string("\x81\x00", 2) + maskedFrame(0x81, "after"));
  EXPECT_EQ(client.readBytes(2), std::string("\x81\x00", 2));
  EXPECT_EQ(client.readBytes(2), std::string("\x81\x00", 2));
  EXPECT_EQ(client.readBytes(7), std::string("\x81\x05"
                                             "after"));
  EXPECT_EQ(EchoSocket::received(),
            (std::vector<std::string>{"open", "message:", "message:", "message:after"}));
}

TEST_F(WebSocketTest, FramesOtherThanTextEndTheEndpoint) {
  struct Case {
    const char* name;
    std::string frame;
  };
  const Case cases[] = {
      {"empty close", maskedFrame(0x88, "")},
      {"unmasked empty close", std::string("\x88\x00", 2)},
      {"close with reason", maskedFrame(0x88, "\x03\xe8")},
      {"ping", maskedFrame(0x89, "?")},
      {"binary", maskedFrame(0x82, "b")},
      {"reserved bit", maskedFrame(0xC1, "r")},
      {"reserved opcode", maskedFrame(0x83, "r")},
      {"64-bit length", std::string("\x81\x7f\x00\x00\x00\x00\x00\x00\x00\x01x", 11)},
      {"above the cap", maskedFrame(0x81, std::string(1001, 'z'))},
  };
  for (const Case& c : cases) {
    EchoSocket::reset();
    RawClient client(port);
    upgrade(client);
    ASSERT_TRUE(testsupport::runUntil([&] { return server->numberOfWebSocketConnections() == 1; }));
    client.send(c.frame);
    EXPECT_TRUE(endpointsGone()) << c.name;
    std::vector<std::string> received = EchoSocket::received();
    ASSERT_FALSE(received.empty()) << c.name;
    EXPECT_EQ(received.back(), "close") << c.name;
    // Closed without a close frame (a reset when the frame was not read whole).
    EXPECT_EQ(client.readToEnd(), "") << c.name;
  }
}

TEST_F(WebSocketTest, OldDraftFramesAndTheDraft76Challenge) {
  RawClient client(port);
  client.send(
      "GET /ws HTTP/1.1\r\nHost: example.com\r\nUpgrade: WebSocket\r\n"
      "Connection: Upgrade\r\nSec-WebSocket-Key1: 4 @1  46546xW%0l 1 5\r\n"
      "Sec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\nOrigin: http://example.com\r\n\r\n"
      "^n:ds[4U");
  auto reply = client.readReply(true);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->header("Sec-WebSocket-Origin"), "http://example.com");
  EXPECT_EQ(reply->header("Sec-WebSocket-Location"), "ws://example.com/ws");
  EXPECT_EQ(client.readBytes(16), "8jKS'y:G*Co,Wxa-");

  client.send(std::string("\x00hi\xff", 4));
  EXPECT_EQ(client.readBytes(4), std::string("\x00hi\xff", 4));
  client.send("\x80");  // a frame type with the high bit set ends the endpoint
  EXPECT_TRUE(endpointsGone());
}

TEST_F(WebSocketTest, APlainEndpointTellsItsDelegate) {
  theDelegate() = std::make_shared<RecordingDelegate>();
  {
    RawClient client(port);
    client.send(
        "GET /plain HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    ASSERT_TRUE(client.readReply(true));
    client.send(maskedFrame(0x81, "hi"));
    EXPECT_EQ(client.readBytes(8), std::string("\x81\x06", 2) + "got hi");
    EXPECT_EQ(lastPlainSocket()->delegate(), theDelegate());
  }
  EXPECT_TRUE(endpointsGone());
  EXPECT_EQ(theDelegate()->events(), (std::vector<std::string>{"open", "message:hi", "close"}));
  lastPlainSocket().reset();
  theDelegate().reset();
}

TEST_F(WebSocketTest, AnUpgradeNobodyTakesIsNotFound) {
  RawClient client(port);
  client.send(
      "GET /other HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
  auto reply = client.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status(), 404);
}

TEST_F(WebSocketTest, StoppingTheServerEndsItsEndpoints) {
  RawClient client(port);
  upgrade(client);
  ASSERT_TRUE(testsupport::runUntil([&] { return server->numberOfWebSocketConnections() == 1; }));
  server->stop();
  EXPECT_EQ(server->numberOfWebSocketConnections(), 0u);
  EXPECT_TRUE(client.closedByServer());
  EXPECT_TRUE(testsupport::runUntil([&] { return EchoSocket::received().back() == "close"; }));
}

}  // namespace
