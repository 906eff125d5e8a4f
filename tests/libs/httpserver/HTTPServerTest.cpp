// The server object: starting and stopping, its connection list, its announcement and its log
// lines (context 80 through the logging framework).

#include <gtest/gtest.h>

#include <filesystem>

#include "HttpServerTestSupport.h"
#include "httpserver/core/HTTPServer.h"
#include "logging/LoggingTestSupport.h"
#include "platform/foundation/Paths.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

using httpservertest::RawClient;

class HTTPServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = platform::Paths::documents() + "/7";
    std::filesystem::create_directories(root);
    testsupport::writeFile(root + "/x.ts", "x-bytes");
  }
  testsupport::TempHome home;
  std::string root;
};

bool eventually(const std::function<bool()>& condition) {
  return testsupport::runUntil(condition, 20);
}

TEST_F(HTTPServerTest, StopClosesEveryLiveConnectionAndTheListener) {
  auto server = httpservertest::startServer(root);
  ASSERT_TRUE(server);
  EXPECT_TRUE(server->isRunning());
  std::uint16_t port = server->listeningPort();
  RawClient first(port), second(port);
  first.send("GET /x.ts HTTP/1.1\r\n\r\n");
  second.send("GET /x.ts HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(first.readReply() && second.readReply());
  EXPECT_EQ(server->numberOfHTTPConnections(), 2u);

  server->stop();
  EXPECT_FALSE(server->isRunning());
  EXPECT_EQ(server->listeningPort(), 0);
  EXPECT_EQ(server->numberOfHTTPConnections(), 0u);
  EXPECT_TRUE(first.closedByServer());
  EXPECT_TRUE(second.closedByServer());
  server->stop();  // harmless when stopped
}

TEST_F(HTTPServerTest, AConnectionLeavesTheListWhenItEnds) {
  auto server = httpservertest::startServer(root);
  ASSERT_TRUE(server);
  {
    RawClient client(server->listeningPort());
    client.send("GET /x.ts HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(client.readReply());
    EXPECT_TRUE(client.closedByServer());
  }
  EXPECT_TRUE(eventually([&] { return server->numberOfHTTPConnections() == 0; }));
  RawClient idle(server->listeningPort());
  EXPECT_TRUE(eventually([&] { return server->numberOfHTTPConnections() == 1; }));
  server->stop(true);  // keeps the connection
  EXPECT_EQ(server->numberOfHTTPConnections(), 1u);
  idle.send("GET /x.ts HTTP/1.1\r\n\r\n");
  auto reply = idle.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "x-bytes");
  server->stop();
  EXPECT_TRUE(idle.closedByServer());
}

TEST_F(HTTPServerTest, ASecondStartFailsAndLeavesTheServerRunning) {
  auto server = httpservertest::startServer(root);
  ASSERT_TRUE(server);
  std::uint16_t port = server->listeningPort();
  platform::Error error;
  EXPECT_FALSE(server->start(&error));
  EXPECT_EQ(error.domain(), kDispatchSocketErrorDomain);
  EXPECT_TRUE(server->isRunning());
  EXPECT_EQ(server->listeningPort(), port);
  RawClient client(port);
  client.send("GET /x.ts HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(client.readReply());
  server->stop();
}

TEST_F(HTTPServerTest, APortInUseLeavesTheServerStoppedAndLogsTheFailure) {
  auto logger = logtest::RecordingLogger::create();
  LGLog::addLogger(logger);
  auto first = httpservertest::startServer(root);
  ASSERT_TRUE(first);
  auto second = HTTPServer::create();
  second->setInterface(std::string("127.0.0.1"));
  second->setPort(first->listeningPort());
  platform::Error error;
  EXPECT_FALSE(second->start(&error));
  EXPECT_FALSE(error.domain().empty());
  EXPECT_FALSE(second->isRunning());
  EXPECT_EQ(second->listeningPort(), 0);
  first->stop();
  LGLog::flushLog();
  bool logged = false;
  for (const auto& text : logger->texts())
    logged |= text.rfind("HTTPServer: Failed to start HTTP Server: ", 0) == 0;
  EXPECT_TRUE(logged);
  LGLog::removeAllLoggers();
}

TEST_F(HTTPServerTest, LogsGoThroughTheLoggingFrameworkWithContext80) {
  auto logger = logtest::RecordingLogger::create();
  std::vector<int> contexts;
  std::mutex mutex;
  logger->onMessage = [&](const LGLogMessage& message) {
    std::lock_guard<std::mutex> lock(mutex);
    contexts.push_back(message.logContext());
  };
  LGLog::addLogger(logger);
  auto server = httpservertest::startServer(root);
  ASSERT_TRUE(server);
  std::uint16_t port = server->listeningPort();
  RawClient client(port);
  client.send("DELETE /x.ts HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(client.readReply());
  server->stop();
  LGLog::flushLog();
  auto texts = logger->texts();
  LGLog::removeAllLoggers();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "HTTPServer: Started HTTP server on port " + std::to_string(port));
  EXPECT_EQ(texts[1], "HTTP Server: Error 405 - Method Not Allowed: DELETE (/x.ts)");
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(contexts, (std::vector<int>{80, 80}));
}

TEST_F(HTTPServerTest, TheAnnouncementStaysOnTheDevice) {
  auto logger = logtest::RecordingLogger::create();
  LGLog::addLogger(logger);
  auto server = HTTPServer::create();
  server->setInterface(std::string("127.0.0.1"));
  ASSERT_TRUE(server->start());
  EXPECT_FALSE(server->publishedName());  // no type: no announcement
  server->stop();

  server->setType(std::string("_http._tcp."));
  server->setName("lectures");
  server->setTXTRecordDictionary(platform::Dictionary{{"k", platform::Value("v")}});
  ASSERT_TRUE(server->start());
  EXPECT_EQ(server->publishedName(), "lectures");
  EXPECT_TRUE(logger->waitForMessages(3));
  server->stop();
  EXPECT_FALSE(server->publishedName());
  LGLog::flushLog();
  auto texts = logger->texts();
  LGLog::removeAllLoggers();
  bool refused = false;
  for (const auto& text : texts)
    refused |= text.rfind(
                   "Failed to Publish Service: domain(local.) type(_http._tcp.) "
                   "name(lectures) - {NSNetServicesErrorCode = -72000",
                   0) == 0;
  EXPECT_TRUE(refused) << testing::PrintToString(texts);
}

TEST_F(HTTPServerTest, PropertiesKeepWhatTheyAreGiven) {
  auto server = HTTPServer::create();
  EXPECT_FALSE(server->documentRoot());
  EXPECT_FALSE(server->interface());
  EXPECT_EQ(server->port(), 0);
  EXPECT_EQ(server->domain(), "local.");
  EXPECT_EQ(server->name(), "");
  EXPECT_FALSE(server->type());
  EXPECT_FALSE(server->isRunning());
  server->setDocumentRoot(std::optional<std::string>("/data/7/"));
  server->setDocumentRoot(platform::Value(42));  // refused with a warning
  server->setPort(8080);
  EXPECT_EQ(server->documentRoot(), "/data/7/");
  EXPECT_EQ(server->port(), 8080);
  EXPECT_EQ(server->config()->documentRoot(), "/data/7");
  EXPECT_EQ(server->config()->server(), server);
  server->setDocumentRoot(platform::Value());
  EXPECT_FALSE(server->documentRoot());
}

}  // namespace
