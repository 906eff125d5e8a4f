// The further response kinds: bytes in memory, redirects, files read off the connection queue,
// and text templates sent in chunked coding, served over loopback and fetched with curl.

#include <gtest/gtest.h>

#include <filesystem>

#include "HttpServerTestSupport.h"
#include "httpserver/core/HTTPAsyncFileResponse.h"
#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPDataResponse.h"
#include "httpserver/core/HTTPDynamicFileResponse.h"
#include "httpserver/core/HTTPRedirectResponse.h"
#include "httpserver/core/HTTPServer.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using httpservertest::RawClient;

// "/redirect" redirects, "*.tmpl" is a template, "*.async" is read asynchronously.
class ResponseConnection : public HTTPConnection {
  CH_SHARED_OBJECT(ResponseConnection)

 protected:
  using HTTPConnection::HTTPConnection;
  std::shared_ptr<HTTPResponse> httpResponseForMethod(
      const std::string& method, const std::optional<std::string>& path) override {
    if (path == "/redirect") return std::make_shared<HTTPRedirectResponse>("/x.ts");
    std::optional<std::string> file = filePathForURI(path, false);
    if (file && file->ends_with(".tmpl")) {
      platform::Dictionary values;
      values["name"] = platform::Value("chengheng");
      values["long"] = platform::Value(std::string(1000, 'L'));
      values["count"] = platform::Value(42);
      return HTTPDynamicFileResponse::initWithFilePath(file, weak_from_this(), "%%", values);
    }
    if (file && file->ends_with(".async"))
      return HTTPAsyncFileResponse::initWithFilePath(file, weak_from_this());
    return HTTPConnection::httpResponseForMethod(method, path);
  }
};

class ResponsesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = platform::Paths::documents() + "/7";
    std::filesystem::create_directories(root);
    testsupport::writeFile(root + "/x.ts", "x");
    server =
        httpservertest::startServer(root, &HTTPConnection::initWithAsyncSocket<ResponseConnection>);
    ASSERT_TRUE(server);
    port = server->listeningPort();
  }
  void TearDown() override {
    if (server) server->stop();
  }
  std::string curl(const std::string& path) {
    return httpservertest::run("curl -s http://127.0.0.1:" + std::to_string(port) + path).output;
  }

  testsupport::TempHome home;
  std::string root;
  std::shared_ptr<HTTPServer> server;
  std::uint16_t port = 0;
};

TEST(HTTPDataResponseTest, ServesItsBytesFromTheOffset) {
  HTTPDataResponse response(platform::Bytes{'a', 'b', 'c', 'd', 'e'});
  EXPECT_EQ(response.contentLength(), 5u);
  response.setOffset(1);
  EXPECT_EQ(response.readDataOfLength(3), (platform::Bytes{'b', 'c', 'd'}));
  EXPECT_FALSE(response.isDone());
  EXPECT_EQ(response.readDataOfLength(10), (platform::Bytes{'e'}));
  EXPECT_TRUE(response.isDone());
}

TEST_F(ResponsesTest, ARedirectIsA302WithOnlyALocation) {
  RawClient client(port);
  client.send("GET /redirect HTTP/1.1\r\nHost: x\r\n\r\n");
  auto reply = client.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status(), 302);
  EXPECT_EQ(reply->header("Location"), "/x.ts");
  EXPECT_EQ(reply->header("Content-Length"), "0");
  EXPECT_EQ(reply->body, "");
}

TEST_F(ResponsesTest, AnAsynchronousFileIsServedWholeAndInRanges) {
  const std::string bytes = httpservertest::patternBytes(300000, 9);
  testsupport::writeFile(root + "/big.async", bytes);
  testsupport::writeFile(root + "/empty.async", "");
  RawClient client(port);
  client.send("GET /big.async HTTP/1.1\r\nHost: x\r\n\r\n");
  auto whole = client.readReply();
  ASSERT_TRUE(whole);
  EXPECT_TRUE(whole->body == bytes);
  client.send("GET /big.async HTTP/1.1\r\nHost: x\r\nRange: bytes=10-19,200000-200009\r\n\r\n");
  auto ranges = client.readReply();
  ASSERT_TRUE(ranges);
  EXPECT_EQ(ranges->status(), 206);
  EXPECT_NE(ranges->body.find(bytes.substr(10, 10)), std::string::npos);
  EXPECT_NE(ranges->body.find(bytes.substr(200000, 10)), std::string::npos);
  client.send("GET /empty.async HTTP/1.1\r\nHost: x\r\n\r\n");
  auto empty = client.readReply();
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->header("Content-Length"), "0");
}

TEST_F(ResponsesTest, ATemplateReplacesKnownKeysAndKeepsUnknownOnes) {
  testsupport::writeFile(root + "/page.tmpl",
                         "Hello %%name%%, %%count%% times; %%missing%% stays; %%long%%!");
  EXPECT_EQ(curl("/page.tmpl"),
            "Hello chengheng, 42 times; %%missing%% stays; " + std::string(1000, 'L') + "!");
  RawClient client(port);
  client.send("GET /page.tmpl HTTP/1.1\r\nHost: x\r\n\r\n");
  std::string head = client.readBytes(17).value_or("");
  EXPECT_EQ(head, "HTTP/1.1 200 OK\r\n");
}

TEST_F(ResponsesTest, ATemplateKeySplitBetweenReadsIsStillReplaced) {
  // The connection asks for 128 KiB at a time: put keys across that line, and many values
  // longer than their keys so the buffer grows.
  std::string text(131072 - 5, '.');
  text += "%%name%%";
  std::string expected(131072 - 5, '.');
  expected += "chengheng";
  for (int i = 0; i < 300; ++i) {
    text += "<%%long%%>";
    expected += "<" + std::string(1000, 'L') + ">";
  }
  text += std::string(131072, '-') + "%%count%%";
  expected += std::string(131072, '-') + "42";
  testsupport::writeFile(root + "/split.tmpl", text);
  std::string served = curl("/split.tmpl");
  EXPECT_EQ(served.size(), expected.size());
  EXPECT_TRUE(served == expected);
}

}  // namespace
