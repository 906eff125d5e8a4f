// The request head parser and the response serialiser.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "httpserver/core/HTTPConfig.h"
#include "httpserver/core/HTTPMessage.h"

namespace {

// Feeds `head` one CR LF-terminated line per append, as the connection does; false at the first
// refused line.
bool feedLines(HTTPMessage& message, const std::string& head) {
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t end = head.find("\r\n", start);
    end = end == std::string::npos ? head.size() : end + 2;
    if (!message.appendData(head.substr(start, end - start))) return false;
    start = end;
  }
  return true;
}

TEST(HTTPMessageTest, ParsesARequestHeadLineByLine) {
  HTTPMessage request;
  ASSERT_TRUE(feedLines(request,
                        "GET /1_2024_55/index.m3u8?t=1 HTTP/1.1\r\n"
                        "Host: 127.0.0.1:12345\r\n"
                        "Range:   bytes=0-499 \t\r\n"
                        "X-Empty:\r\n"));
  EXPECT_FALSE(request.isHeaderComplete());
  EXPECT_FALSE(request.url());
  ASSERT_TRUE(request.appendData("\r\n"));
  EXPECT_TRUE(request.isHeaderComplete());
  EXPECT_EQ(request.method(), "GET");
  EXPECT_EQ(request.url(), "/1_2024_55/index.m3u8?t=1");
  EXPECT_EQ(request.version(), "HTTP/1.1");
  EXPECT_EQ(request.headerField("range"), "bytes=0-499");
  EXPECT_EQ(request.headerField("RANGE"), "bytes=0-499");
  EXPECT_EQ(request.headerField("X-Empty"), "");
  EXPECT_FALSE(request.headerField("Content-Length"));
  EXPECT_EQ(request.allHeaderFields().size(), 3u);
  EXPECT_EQ(request.allHeaderFields().at("Host"), "127.0.0.1:12345");
}

TEST(HTTPMessageTest, AcceptsAHeadInOneAppendAndKeepsWhatFollowsAsBody) {
  HTTPMessage request;
  ASSERT_TRUE(request.appendData("HEAD / HTTP/1.0\r\nConnection: keep-alive\r\n\r\nabc"));
  EXPECT_TRUE(request.isHeaderComplete());
  EXPECT_EQ(request.method(), "HEAD");
  EXPECT_EQ(request.body(), "abc");
}

TEST(HTTPMessageTest, LinesSplitAcrossAppendsStillParse) {
  HTTPMessage request;
  for (std::string piece : {"GE", "T / HT", "TP/1.1\r", "\nA: b\r", "\n\r", "\n"})
    ASSERT_TRUE(request.appendData(piece)) << piece;
  EXPECT_TRUE(request.isHeaderComplete());
  EXPECT_EQ(request.headerField("a"), "b");
}

TEST(HTTPMessageTest, RepeatedRequestFieldsFormOneList) {
  HTTPMessage request;
  ASSERT_TRUE(
      feedLines(request, "GET / HTTP/1.1\r\nAccept: a\r\naccept: b\r\nX: \r\nX: c\r\nX:\r\n\r\n"));
  EXPECT_EQ(request.headerField("Accept"), "a, b");
  EXPECT_EQ(request.headerField("X"), "c");
}

TEST(HTTPMessageTest, RefusesMalformedHeads) {
  const std::vector<std::string> bad = {
      "\r\n",                                   // blank line before the request line
      "GET / HTTP/1.1\n",                       // bare LF
      "GET / HTTP/1.1\r\r\n",                   // stray CR
      "GET /a\rb HTTP/1.1\r\n",                 // CR inside
      "GET  / HTTP/1.1\r\n",                    // double space
      "GET / HTTP/1.1 \r\n",                    // trailing space
      "GET /\r\n",                              // no version
      "GET / HTTP/1.1 extra\r\n",               // four parts
      " GET / HTTP/1.1\r\n",                    // leading space
      "G@T / HTTP/1.1\r\n",                     // method not a token
      "GET / http/1.1\r\n",                     // version not upper case
      "GET / HTTP/1\r\n",                       // version without minor
      "GET / HTTP/.1\r\n",                      // version without major
      "GET / HTTP/1.x\r\n",                     // version not digits
      std::string("GET /\0 HTTP/1.1\r\n", 17),  // NUL in the target
      "GET /\x7f HTTP/1.1\r\n",                 // DEL in the target
      "GET /\xc3\xa9 HTTP/1.1\r\n",             // raw bytes in the target
      "GET / HTTP/1.1\r\nNoColon\r\n",          // header without colon
      "GET / HTTP/1.1\r\nName : v\r\n",         // space before the colon
      "GET / HTTP/1.1\r\n: v\r\n",              // empty name
      "GET / HTTP/1.1\r\nA: b\r\n folded\r\n",  // obsolete line folding
      "GET / HTTP/1.1\r\nA: b\x01\r\n",         // control byte in a value
      std::string("GET / HTTP/1.1\r\nA: \0\r\n", 23),
      "GET / HTTP/1.1\r\nContent-Length: 0\r\ncontent-length: 0\r\n",
  };
  for (const auto& head : bad) {
    HTTPMessage request;
    EXPECT_FALSE(feedLines(request, head)) << testing::PrintToString(head);
    EXPECT_FALSE(request.isHeaderComplete());
    // A refused message stays refused.
    EXPECT_FALSE(request.appendData("\r\n"));
  }
}

TEST(HTTPMessageTest, AcceptsWhatTheServerMustAnswerItself) {
  // Versions it does not serve and methods it does not support reach the connection, which
  // answers them (505, 405) instead of the parser refusing them (400).
  for (std::string line : {"GET / HTTP/2.0\r\n", "DELETE /x HTTP/1.1\r\n", "GET * HTTP/1.1\r\n",
                           "GET http://h/p HTTP/1.1\r\n"}) {
    HTTPMessage request;
    EXPECT_TRUE(request.appendData(line + "Value: caf\xc3\xa9\r\n\r\n")) << line;
    EXPECT_TRUE(request.isHeaderComplete());
  }
}

TEST(HTTPMessageTest, SerialisesAResponseWithItsReasonPhrase) {
  HTTPMessage response(404, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", "0");
  EXPECT_EQ(response.messageData(), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(response.statusCode(), 404);

  HTTPMessage partial(206, std::nullopt, "HTTP/1.1");
  partial.setHeaderField("Content-Length", "1");
  partial.setHeaderField("content-length", "2");  // replaces, keeps the first spelling
  partial.setBody("xy");
  EXPECT_EQ(partial.messageData(), "HTTP/1.1 206 Partial Content\r\nContent-Length: 2\r\n\r\nxy");
  EXPECT_EQ(HTTPMessage(505, std::nullopt, "HTTP/1.1").messageData(),
            "HTTP/1.1 505 HTTP Version Not Supported\r\n\r\n");
  EXPECT_EQ(HTTPMessage(200, "Fine", "HTTP/1.0").messageData(), "HTTP/1.0 200 Fine\r\n\r\n");
}

TEST(HTTPMessageTest, BuildsARequest) {
  HTTPMessage request("GET", "/a?b", "HTTP/1.1");
  request.setHeaderField("Host", "h");
  EXPECT_TRUE(request.isHeaderComplete());
  EXPECT_EQ(request.url(), "/a?b");
  EXPECT_EQ(request.messageData(), "GET /a?b HTTP/1.1\r\nHost: h\r\n\r\n");
}

TEST(HTTPConfigTest, StandardisesTheDocumentRootWhenMadeWithAQueue) {
  const std::pair<std::string, std::string> cases[] = {
      {"/data/7/", "/data/7"},
      {"/data//7", "/data/7"},
      {"/data/./7", "/data/7"},
      {"/data/x/../7", "/data/7"},
      {"/", "/"},
      {"/..", "/"},
  };
  for (const auto& [given, kept] : cases) {
    HTTPConfig config({}, given, platform::dispatch::Queue::serial("HTTPConnection"));
    EXPECT_EQ(config.documentRoot(), kept) << given;
    EXPECT_TRUE(config.queue());
  }
  HTTPConfig plain({}, "/data/7/");
  EXPECT_EQ(plain.documentRoot(), "/data/7/");
  EXPECT_FALSE(plain.queue());
  EXPECT_FALSE(HTTPConfig({}, std::nullopt, nullptr).documentRoot());
}

}  // namespace
