// Byte ranges and the response pump over a real socket: the range table checked byte for byte
// against the file with curl and cmp, a multipart answer parsed back, the 128 KiB ledger of the
// pump on a large file, and a file that disappears after its response was made.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <vector>

#include "HttpServerTestSupport.h"
#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPFileResponse.h"
#include "httpserver/core/HTTPServer.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using httpservertest::RawClient;
using httpservertest::run;
using testsupport::readFile;
using testsupport::writeFile;

class ByteRangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = platform::Paths::documents() + "/7";
    std::filesystem::create_directories(root);
    content = httpservertest::patternBytes(1000);
    writeFile(root + "/f.ts", content);
    writeFile(root + "/empty.ts", "");
    server = httpservertest::startServer(root);
    ASSERT_TRUE(server);
    port = server->listeningPort();
  }
  void TearDown() override {
    if (server) server->stop();
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
  std::string scratch(const std::string& name) const { return home.path() + "/" + name; }

  testsupport::TempHome home;
  std::string root;
  std::string content;
  std::shared_ptr<HTTPServer> server;
  std::uint16_t port = 0;
};

struct RangeCase {
  std::string range;
  int status;
  std::size_t from;  // expected body: content[from, from + length)
  std::size_t length;
  std::string contentRange;  // for a 206
};

TEST_F(ByteRangeTest, RangesMatchTheFileByteForByteWithCurl) {
  const RangeCase cases[] = {
      {"0-499", 206, 0, 500, "bytes 0-499/1000"},
      {"500-", 206, 500, 500, "bytes 500-999/1000"},
      {"-200", 206, 800, 200, "bytes 800-999/1000"},
      {"7", 206, 7, 1, "bytes 7-7/1000"},
      {"999-999", 206, 999, 1, "bytes 999-999/1000"},
      {"0-1000", 200, 0, 1000, ""},
      {"5-2", 200, 0, 1000, ""},
      {"0-10,5-20", 200, 0, 1000, ""},
      {"-0", 200, 0, 1000, ""},
      {"1000-", 200, 0, 1000, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    std::string expected = scratch("expected");
    std::string got = scratch("got");
    std::string head = scratch("head");
    writeFile(expected, content.substr(c.from, c.length));
    // curl's -r reads a lone number as "n-"; that form goes as a header of its own.
    std::string range = c.range.find('-') == std::string::npos ? "-H 'Range: bytes=" + c.range + "'"
                                                               : "-r '" + c.range + "'";
    auto result = run("curl -s -o " + got + " -D " + head + " -w '%{http_code}' " + range + " " +
                      url("/f.ts"));
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.output, std::to_string(c.status));
    EXPECT_EQ(run("cmp " + expected + " " + got).status, 0);
    std::string headers = readFile(head);
    if (c.status == 206) {
      EXPECT_NE(headers.find("Content-Range: " + c.contentRange + "\r\n"), std::string::npos)
          << headers;
    } else {
      EXPECT_EQ(headers.find("Content-Range"), std::string::npos) << headers;
    }
    EXPECT_NE(headers.find("Content-Length: " + std::to_string(c.length) + "\r\n"),
              std::string::npos)
        << headers;
  }
}

// A long file goes copied through the socket's buffer, a short stretch of it spliced: whole, a
// long range and a short one come back byte for byte, and one connection serves them in turn.
TEST_F(ByteRangeTest, ALongFileMatchesByteForByteWholeAndRanged) {
  const std::size_t size = (6 << 20) + 12345;
  const std::string big = httpservertest::patternBytes(size, 9);
  writeFile(root + "/long.ts", big);
  struct Case {
    std::string range;  // empty: the whole file
    std::size_t from;
    std::size_t length;
  };
  const Case cases[] = {
      {"", 0, size},
      {"1000-5999999", 1000, 5999000},
      {"4194304-4456447", 4194304, 262144},
  };
  std::string urls;
  std::string outputs;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    writeFile(scratch("expected" + std::to_string(i)), big.substr(c.from, c.length));
    // One curl for all three: they share its connection.
    urls += (c.range.empty() ? std::string() : " -r " + c.range) + " -o " +
            scratch("got" + std::to_string(i)) + " " + url("/long.ts");
    if (i + 1 < std::size(cases)) urls += " --next";
  }
  auto result = run("curl -s -f" + urls);
  ASSERT_EQ(result.status, 0);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].range);
    EXPECT_EQ(run("cmp " + scratch("expected" + std::to_string(i)) + " " +
                  scratch("got" + std::to_string(i)))
                  .status,
              0);
  }
}

// The parts of a multipart/byteranges body: (Content-Range, data) in order; the boundary and
// framing must be exactly as announced.
std::vector<std::pair<std::string, std::string>> parseByteRanges(const std::string& body,
                                                                 const std::string& boundary) {
  std::vector<std::pair<std::string, std::string>> parts;
  const std::string delimiter = "\r\n--" + boundary;
  std::size_t at = 0;
  while (true) {
    if (body.compare(at, delimiter.size(), delimiter) != 0) return {};
    at += delimiter.size();
    if (body.compare(at, 4, "--\r\n") == 0) {
      if (at + 4 != body.size()) return {};
      return parts;
    }
    if (body.compare(at, 2, "\r\n") != 0) return {};
    std::size_t headEnd = body.find("\r\n\r\n", at + 2);
    if (headEnd == std::string::npos) return {};
    std::string header = body.substr(at + 2, headEnd - at - 2);
    const std::string prefix = "Content-Range: bytes ";
    if (header.rfind(prefix, 0) != 0) return {};
    std::size_t dash = header.find('-', prefix.size());
    std::size_t first = std::stoull(header.substr(prefix.size(), dash - prefix.size()));
    std::size_t last = std::stoull(header.substr(dash + 1));
    std::size_t dataStart = headEnd + 4;
    parts.emplace_back(header.substr(prefix.size()), body.substr(dataStart, last - first + 1));
    at = dataStart + (last - first + 1);
  }
}

TEST_F(ByteRangeTest, SeveralRangesComeBackAsMultipartInAscendingOrder) {
  const std::pair<std::string, std::vector<std::pair<std::size_t, std::size_t>>> cases[] = {
      {"500-599,0-99", {{0, 100}, {500, 100}}},
      {"0-9,10-19", {{0, 10}, {10, 10}}},
      {"900-,7,-50", {{7, 1}, {900, 100}}},  // "900-" and "-50" overlap: invalid
      {"990-,7,0-5", {{0, 6}, {7, 1}, {990, 10}}},
  };
  for (const auto& [range, expected] : cases) {
    SCOPED_TRACE(range);
    RawClient client(port);
    client.send("GET /f.ts HTTP/1.1\r\nRange: bytes=" + range + "\r\n\r\n");
    auto reply = client.readReply();
    ASSERT_TRUE(reply);
    if (range == "900-,7,-50") {
      EXPECT_EQ(reply->status(), 200);
      EXPECT_EQ(reply->body, content);
      continue;
    }
    EXPECT_EQ(reply->status(), 206);
    EXPECT_FALSE(reply->header("Content-Range"));
    std::string type = reply->header("Content-Type").value_or("");
    const std::string typePrefix = "multipart/byteranges; boundary=";
    ASSERT_EQ(type.rfind(typePrefix, 0), 0u) << type;
    std::string boundary = type.substr(typePrefix.size());
    EXPECT_EQ(boundary.size(), 36u);
    auto parts = parseByteRanges(reply->body, boundary);
    ASSERT_EQ(parts.size(), expected.size()) << reply->body.size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
      auto [from, length] = expected[i];
      EXPECT_EQ(parts[i].first,
                std::to_string(from) + "-" + std::to_string(from + length - 1) + "/1000");
      EXPECT_TRUE(parts[i].second == content.substr(from, length)) << i;
    }
    // The connection stays usable after a multipart body.
    client.send("GET /f.ts HTTP/1.1\r\nRange: bytes=1-2\r\n\r\n");
    auto next = client.readReply();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->body, content.substr(1, 2));
  }
}

TEST_F(ByteRangeTest, HeadWithARangeGetsTheHeadOfThePartialReplyOnly) {
  RawClient client(port);
  client.send("HEAD /f.ts HTTP/1.1\r\nRange: bytes=0-9\r\n\r\nGET /f.ts HTTP/1.1\r\n\r\n");
  auto head = client.readReply(true);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->statusLine, "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(head->header("Content-Length"), "10");
  EXPECT_EQ(head->header("Content-Range"), "bytes 0-9/1000");
  // The next reply follows the head directly: no body was sent.
  auto next = client.readReply();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(next->body, content);
}

TEST_F(ByteRangeTest, AnEmptyFileHasAHeadOnlyWhateverItsRange) {
  RawClient client(port);
  client.send(
      "GET /empty.ts HTTP/1.1\r\n\r\nGET /empty.ts HTTP/1.1\r\nRange: bytes=0-0\r\n\r\n"
      "GET /empty.ts HTTP/1.1\r\nRange: bytes=-0\r\n\r\nGET /f.ts HTTP/1.1\r\n\r\n");
  for (int i = 0; i < 3; ++i) {
    auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(reply->header("Content-Length"), "0");
  }
  auto last = client.readReply();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->body, content);
}

// --- The pump's ledger ---------------------------------------------------------------------------

// Every read asked of the response and every body write the socket completed, in the order the
// connection queue saw them.
struct Ledger {
  struct Event {
    enum Kind { Read, Wrote } kind;
    std::size_t asked = 0;
    std::size_t got = 0;
    long tag = 0;
  };
  std::mutex mutex;
  std::vector<Event> events;
  void add(Event event) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(event);
  }
};

class RecordingResponse : public HTTPResponse {
 public:
  RecordingResponse(std::shared_ptr<HTTPFileResponse> file, std::shared_ptr<Ledger> ledger)
      : file_(std::move(file)), ledger_(std::move(ledger)) {}
  std::uint64_t contentLength() override { return file_->contentLength(); }
  std::uint64_t offset() override { return file_->offset(); }
  void setOffset(std::uint64_t offset) override { file_->setOffset(offset); }
  std::optional<platform::Bytes> readDataOfLength(std::size_t length) override {
    auto data = file_->readDataOfLength(length);
    ledger_->add({Ledger::Event::Read, length, data ? data->size() : 0, 0});
    return data;
  }
  bool isDone() override { return file_->isDone(); }

 private:
  std::shared_ptr<HTTPFileResponse> file_;
  std::shared_ptr<Ledger> ledger_;
};

class RecordingConnection : public HTTPConnection {
  CH_SHARED_OBJECT(RecordingConnection)

 public:
  static std::shared_ptr<Ledger>& ledger() {
    static auto* shared = new std::shared_ptr<Ledger>(std::make_shared<Ledger>());
    return *shared;
  }
  void socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>& sock, long tag) override {
    ledger()->add({Ledger::Event::Wrote, 0, 0, tag});
    HTTPConnection::socketDidWriteDataWithTag(sock, tag);
  }

 protected:
  RecordingConnection(std::shared_ptr<DispatchSocket> socket, std::shared_ptr<HTTPConfig> config)
      : HTTPConnection(std::move(socket), std::move(config)) {}
  std::shared_ptr<HTTPResponse> httpResponseForMethod(
      const std::string& method, const std::optional<std::string>& path) override {
    auto file = std::dynamic_pointer_cast<HTTPFileResponse>(
        HTTPConnection::httpResponseForMethod(method, path));
    if (!file) return nullptr;
    return std::make_shared<RecordingResponse>(file, ledger());
  }
};

TEST_F(ByteRangeTest, ThePumpNeverHoldsMoreThan128KiBQueued) {
  const std::size_t size = 3 * 1024 * 1024 + 12345;
  const std::string big = httpservertest::patternBytes(size, 7);
  writeFile(root + "/big.ts", big);
  RecordingConnection::ledger() = std::make_shared<Ledger>();
  auto recording =
      httpservertest::startServer(root, &HTTPConnection::initWithAsyncSocket<RecordingConnection>);
  ASSERT_TRUE(recording);

  for (std::string range : {std::string(), std::string("bytes=100000-"),
                            std::string("bytes=0-0,200000-2000000,3000000-")}) {
    SCOPED_TRACE(range);
    auto ledger = RecordingConnection::ledger() = std::make_shared<Ledger>();
    RawClient client(recording->listeningPort());
    client.send("GET /big.ts HTTP/1.1\r\n" + (range.empty() ? "" : "Range: " + range + "\r\n") +
                "Connection: close\r\n\r\n");
    std::string all = client.readToEnd();
    ASSERT_GT(all.size(), 1000u);

    std::lock_guard<std::mutex> lock(ledger->mutex);
    constexpr std::size_t kCeiling = 128 * 1024;
    std::deque<std::size_t> queued;
    std::size_t total = 0;
    std::size_t delivered = 0;
    bool first = true;
    for (const auto& event : ledger->events) {
      if (event.kind == Ledger::Event::Read) {
        // Each read asks for no more than the room left under the ceiling; the first (of each
        // part) for at most the whole ceiling.
        ASSERT_LE(event.asked + total, kCeiling);
        if (first && range.empty()) {
          EXPECT_EQ(event.asked, kCeiling);
        }
        first = false;
        if (event.got > 0) {
          queued.push_back(event.got);
          total += event.got;
          delivered += event.got;
        }
      } else if (event.tag == 22 || event.tag == 40 || event.tag == 50 || event.tag == 90) {
        if (!queued.empty()) {
          total -= queued.front();
          queued.pop_front();
        }
      }
    }
    EXPECT_EQ(total, 0u);
    std::size_t expected = size;
    if (range == "bytes=100000-") expected = size - 100000;
    if (range.size() > 20) expected = 1 + 1800001 + (size - 3000000);
    EXPECT_EQ(delivered, expected);
  }
  // A body larger than the ceiling needed many reads.
  recording->stop();
}

TEST_F(ByteRangeTest, WholeAndRangedBodiesOfALargeFileArriveIntact) {
  const std::size_t size = 5 * 1024 * 1024 + 3;
  const std::string big = httpservertest::patternBytes(size, 3);
  writeFile(root + "/big.ts", big);
  RawClient client(port);
  client.send(
      "GET /big.ts HTTP/1.1\r\n\r\nGET /big.ts HTTP/1.1\r\nRange: bytes=131000-4000000\r\n\r\n");
  auto whole = client.readReply();
  auto part = client.readReply();
  ASSERT_TRUE(whole && part);
  EXPECT_TRUE(whole->body == big);
  EXPECT_TRUE(part->body == big.substr(131000, 4000000 - 131000 + 1));
}

// --- A file that goes away
// ------------------------------------------------------------------------

class UnlinkingConnection : public HTTPConnection {
  CH_SHARED_OBJECT(UnlinkingConnection)

 protected:
  UnlinkingConnection(std::shared_ptr<DispatchSocket> socket, std::shared_ptr<HTTPConfig> config)
      : HTTPConnection(std::move(socket), std::move(config)) {}
  std::shared_ptr<HTTPResponse> httpResponseForMethod(
      const std::string& method, const std::optional<std::string>& path) override {
    auto response = HTTPConnection::httpResponseForMethod(method, path);
    if (response) ::unlink(filePathForURI(path)->c_str());
    return response;
  }
};

// The response opens its file when it is made, before the head goes out, so a file deleted
// after that is still served whole from the descriptor the response holds.
TEST_F(ByteRangeTest, AFileDeletedAfterItsResponseWasMadeIsStillServedWhole) {
  auto unlinking =
      httpservertest::startServer(root, &HTTPConnection::initWithAsyncSocket<UnlinkingConnection>);
  ASSERT_TRUE(unlinking);
  struct Case {
    std::string range;
    int status;
    std::vector<std::string> pieces;  // the body is these, or (several) holds each in its part
  };
  const Case cases[] = {
      {"", 200, {content}},
      {"Range: bytes=10-20\r\n", 206, {content.substr(10, 11)}},
      {"Range: bytes=1-2,5-6\r\n", 206, {content.substr(1, 2), content.substr(5, 2)}},
  };
  for (const auto& c : cases) {
    writeFile(root + "/gone.ts", content);
    RawClient client(unlinking->listeningPort());
    client.send("GET /gone.ts HTTP/1.1\r\n" + c.range + "\r\n");
    auto reply = client.readReply();
    ASSERT_TRUE(reply) << c.range;
    EXPECT_FALSE(testsupport::exists(root + "/gone.ts")) << c.range;
    EXPECT_EQ(reply->status(), c.status) << c.range;
    if (c.pieces.size() == 1) {
      EXPECT_TRUE(reply->body == c.pieces[0]) << c.range;
    } else {
      for (const auto& piece : c.pieces) {
        EXPECT_NE(reply->body.find("\r\n\r\n" + piece + "\r\n"), std::string::npos) << c.range;
      }
    }
  }
  unlinking->stop();
}

// A file cut short while its body is on the way (sent from the file, not read): the reply ends
// with the connection after the bytes the file still had, whole or ranged, never a hang or a
// next reply read as the rest of this body; the server goes on serving.
TEST_F(ByteRangeTest, AFileThatShrinksWhileItsBodyIsSentEndsTheConnectionCleanly) {
  const std::size_t size = 24 << 20;
  const std::string big = httpservertest::patternBytes(size, 5);
  for (std::string range : {std::string(), std::string("Range: bytes=100-20000000\r\n")}) {
    SCOPED_TRACE(range);
    writeFile(root + "/shrinking.ts", big);
    // A slow reader: a small window keeps most of the body in the server.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int window = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval patience{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    const std::string request = "GET /shrinking.ts HTTP/1.1\r\n" + range + "\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    std::string all;
    char chunk[65536];
    while (all.find("\r\n\r\n") == std::string::npos || all.size() < 200000) {
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      ASSERT_GT(n, 0);
      all.append(chunk, static_cast<std::size_t>(n));
    }
    ASSERT_EQ(::truncate((root + "/shrinking.ts").c_str(), 1 << 20), 0);
    // A second request on the same connection must not be answered as if the first were whole.
    const std::string again = "GET /f.ts HTTP/1.1\r\n\r\n";
    ::send(fd, again.data(), again.size(), MSG_NOSIGNAL);
    while (true) {
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      // The server closes with the unread second request in hand, which the kernel may turn
      // into a reset: either is the end.
      if (n == 0 || (n < 0 && errno == ECONNRESET)) break;
      ASSERT_GT(n, 0) << "no close within the patience";
      all.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::size_t headEnd = all.find("\r\n\r\n") + 4;
    std::string body = all.substr(headEnd);
    const std::size_t from = range.empty() ? 0 : 100;
    const std::size_t whole = range.empty() ? size : 20000000 - 100 + 1;
    EXPECT_LT(body.size(), whole);
    // Exact up to the file's new end; bytes past it that were already on their way are the
    // file's pages as the kernel copied them out, which the truncation may have cleared.
    const std::size_t kept = std::min(body.size(), (std::size_t{1} << 20) - from);
    EXPECT_TRUE(body.substr(0, kept) == big.substr(from, kept)) << body.size();
    EXPECT_EQ(all.find("HTTP/1.1", 1), std::string::npos);
  }
  RawClient client(port);
  client.send("GET /f.ts HTTP/1.1\r\n\r\n");
  auto reply = client.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, content);
}

}  // namespace
