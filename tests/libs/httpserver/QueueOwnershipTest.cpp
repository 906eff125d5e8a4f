// State owned by a queue is checked at run time: the entry points of the connection, the
// WebSocket endpoint, the asynchronous file response and the server's accept callback fail an
// assertion when called off the queue that owns their state, and run on it.

#include <gtest/gtest.h>

#include "httpserver/core/HTTPAsyncFileResponse.h"
#include "httpserver/core/HTTPConfig.h"
#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPServer.h"
#include "httpserver/core/WebSocket.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using platform::AssertionFailure;

// The text of the assertion `call` fails, or "" when it runs through.
std::string failureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const AssertionFailure& failure) {
    return failure.what();
  }
  return "";
}

class ExposedFileResponse : public HTTPAsyncFileResponse {
  CH_SHARED_OBJECT(ExposedFileResponse)

 public:
  using HTTPAsyncFileResponse::openFileIfNeeded;
  using HTTPAsyncFileResponse::readQueue;

 private:
  using HTTPAsyncFileResponse::HTTPAsyncFileResponse;
};

}  // namespace

TEST(QueueOwnershipTest, AConnectionRunsOnlyOnItsQueue) {
  auto queue = platform::dispatch::Queue::serial("HTTPConnection");
  auto config = std::make_shared<HTTPConfig>(std::weak_ptr<HTTPServer>(), "/nowhere", queue);
  auto connection = HTTPConnection::initWithAsyncSocket<HTTPConnection>(nullptr, config);
  EXPECT_EQ(failureOf([&] { connection->socketDidReadData(nullptr, SocketData("GET"), 10); }),
            "Must be dispatched on connectionQueue");
  EXPECT_EQ(failureOf([&] { connection->socketDidWriteDataWithTag(nullptr, 90); }),
            "Must be dispatched on connectionQueue");
  EXPECT_EQ(failureOf([&] { connection->socketDidDisconnect(nullptr, std::nullopt); }),
            "Must be dispatched on connectionQueue");
  queue->sync([&] {
    EXPECT_EQ(failureOf([&] { connection->socketDidWriteDataWithTag(nullptr, 0); }), "");
  });
}

TEST(QueueOwnershipTest, AWebSocketEndpointRunsOnlyOnItsQueue) {
  HTTPMessage request("GET", "/ws", "HTTP/1.1");
  auto ws = WebSocket::initWithRequest(&request, nullptr);
  ASSERT_TRUE(ws);
  EXPECT_EQ(failureOf([&] { ws->socketDidReadData(nullptr, SocketData("x"), 304); }),
            "Must be dispatched on websocketQueue");
  EXPECT_EQ(failureOf([&] { ws->socketDidDisconnect(nullptr, std::nullopt); }),
            "Must be dispatched on websocketQueue");
  ws->websocketQueue()->sync([&] {
    EXPECT_EQ(failureOf([&] { ws->socketDidReadData(nullptr, SocketData("x"), 304); }), "");
  });
}

TEST(QueueOwnershipTest, AnAsynchronousFileResponseReadsOnlyOnItsQueue) {
  testsupport::TempHome home;
  const std::string path = platform::Paths::documents() + "/file.bin";
  testsupport::writeFile(path, "bytes");
  auto response = ExposedFileResponse::create(path, std::weak_ptr<HTTPConnection>(), 5);
  EXPECT_EQ(failureOf([&] { response->openFileIfNeeded(); }), "Must be dispatched on readQueue");
  bool opened = false;
  response->readQueue->sync([&] { opened = response->openFileIfNeeded(); });
  EXPECT_TRUE(opened);
  // The public operations step onto the queue themselves.
  EXPECT_EQ(failureOf([&] { response->setOffset(1); }), "");
  EXPECT_EQ(response->offset(), 1u);
}

TEST(QueueOwnershipTest, TheServerAcceptsOnlyOnItsQueue) {
  auto server = HTTPServer::create();
  auto listener = DispatchSocket::create();
  auto accepted = DispatchSocket::create();
  EXPECT_EQ(failureOf([&] { server->socketDidAcceptNewSocket(listener, accepted); }),
            "Invalid queue");
  EXPECT_EQ(server->numberOfHTTPConnections(), 0u);
}
