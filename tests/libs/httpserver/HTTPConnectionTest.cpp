// The connection's request road over a real socket on loopback, checked byte for byte with a
// raw client: head limits, keep-alive, pipelining, the fixed error replies and the mapping of
// request paths to files under a temporary root.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <regex>

#include "HttpServerTestSupport.h"
#include "httpserver/core/DocumentRoot.h"
#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPServer.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

using httpservertest::RawClient;
using httpservertest::Reply;
using testsupport::writeFile;

class HTTPConnectionTest : public ::testing::Test {
 public:
  static std::string get(const std::string& target, const std::string& extra = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
  }

 protected:
  void SetUp() override {
    documents = platform::Paths::documents();
    root = documents + "/7";
    std::filesystem::create_directories(root + "/1_2024_55");
    writeFile(root + "/1_2024_55/index.m3u8", "#EXTM3U\n");
    writeFile(root + "/x.ts", "x-bytes");
    writeFile(root + "/a b.ts", "a b");
    writeFile(root + "/empty.ts", "");
    std::filesystem::create_directories(root + "/dir");
    writeFile(root + "/dir/index.htm", "htm");
    std::filesystem::create_directories(root + "/both");
    writeFile(root + "/both/index.html", "html");
    writeFile(root + "/both/index.htm", "htm");
    std::filesystem::create_directories(root + "/bare");
    std::filesystem::create_directories(root + "/fake");
    std::filesystem::create_directories(root + "/fake/index.html");  // a folder, not a page
    std::filesystem::create_directories(documents + "/77");
    writeFile(documents + "/77/secret", "secret");
    std::filesystem::create_directories(documents + "/6");
    writeFile(documents + "/6/x", "six");
    std::filesystem::create_symlink(root + "/x.ts", root + "/link.ts");
    std::filesystem::create_symlink("x.ts", root + "/near.ts");
    std::filesystem::create_symlink(root + "/dir", root + "/linkdir");
    std::filesystem::create_symlink(documents + "/77/secret", root + "/out.ts");
    std::filesystem::create_symlink("../77/secret", root + "/up.ts");
    std::filesystem::create_symlink(documents + "/6", root + "/outdir");
    std::filesystem::create_symlink("/proc/self/root", root + "/procroot");
    std::filesystem::create_directories(root + "/trap");
    std::filesystem::create_symlink(documents + "/77/secret", root + "/trap/index.html");
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);
    server = httpservertest::startServer(root);
    ASSERT_TRUE(server);
    port = server->listeningPort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override {
    if (server) server->stop();
  }

  testsupport::TempHome home;
  std::string documents;
  std::string root;
  std::shared_ptr<HTTPServer> server;
  std::uint16_t port = 0;
};

TEST_F(HTTPConnectionTest, ServesAFileWithTheCommonHeadersAndKeepsTheConnection) {
  RawClient client(port);
  client.send(get("/1_2024_55/index.m3u8"));
  auto reply = client.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(reply->body, "#EXTM3U\n");
  EXPECT_EQ(reply->header("Content-Length"), "8");
  EXPECT_EQ(reply->header("Accept-Ranges"), "bytes");
  EXPECT_FALSE(reply->header("Content-Type"));
  ASSERT_TRUE(reply->header("Date"));
  EXPECT_TRUE(std::regex_match(*reply->header("Date"),
                               std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d "
                                          "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                          "\\d{4} \\d\\d:\\d\\d:\\d\\d GMT")))
      << *reply->header("Date");
  EXPECT_EQ(reply->headers.size(), 3u);

  client.send(get("/x.ts"));
  reply = client.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "x-bytes");
  EXPECT_EQ(server->numberOfHTTPConnections(), 1u);
}

TEST_F(HTTPConnectionTest, PipelinedRequestsAreAnsweredInOrder) {
  RawClient client(port);
  client.send(get("/x.ts") + "HEAD /a%20b.ts HTTP/1.1\r\n\r\n" + get("/missing") + get("/dir/"));
  auto first = client.readReply();
  auto second = client.readReply(true);
  auto third = client.readReply();
  auto fourth = client.readReply();
  ASSERT_TRUE(first && second && third && fourth);
  EXPECT_EQ(first->body, "x-bytes");
  EXPECT_EQ(second->status(), 200);
  EXPECT_EQ(second->header("Content-Length"), "3");
  EXPECT_EQ(third->status(), 404);
  EXPECT_EQ(fourth->body, "htm");
}

struct HeadCase {
  const char* name;
  std::string request;
  std::string statusLine;  // empty: no reply at all
  bool closes;             // the server closes the connection afterwards
  std::optional<std::string> connectionHeader;
};

TEST_F(HTTPConnectionTest, HeadsAreAnsweredOrRefusedAsTheirKindRequires) {
  const std::string longTarget = "/" + std::string(8190 - 16, 'a');  // "GET " + " HTTP/1.1\r\n"
  std::string manyHeaders;
  for (int i = 0; i < 99; ++i) manyHeaders += "X-" + std::to_string(i) + ": v\r\n";
  const HeadCase cases[] = {
      {"line of 8190 bytes", "GET " + longTarget + " HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found",
       false, std::nullopt},
      {"line of 8191 bytes", "GET " + longTarget + "b HTTP/1.1\r\n\r\n", "", true, std::nullopt},
      {"101 lines", "GET /x.ts HTTP/1.1\r\n" + manyHeaders + "\r\n", "HTTP/1.1 200 OK", false,
       std::nullopt},
      {"102 lines", "GET /x.ts HTTP/1.1\r\n" + manyHeaders + "X-100: v\r\n\r\n", "", true,
       std::nullopt},
      {"HTTP/1.0 closes", "GET /x.ts HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", true, std::nullopt},
      {"HTTP/1.0 keep-alive", "GET /x.ts HTTP/1.0\r\nConnection: keep-alive\r\n\r\n",
       "HTTP/1.1 200 OK", false, std::nullopt},
      {"HTTP/1.1 close", get("/x.ts", "Connection: Close\r\n"), "HTTP/1.1 200 OK", true,
       std::nullopt},
      {"HTTP/2.0", "GET /x.ts HTTP/2.0\r\n\r\n", "HTTP/1.1 505 HTTP Version Not Supported", false,
       std::nullopt},
      {"GET with a body length", get("/x.ts", "Content-Length: 5\r\n"), "HTTP/1.1 400 Bad Request",
       true, "close"},
      {"GET with a zero length", get("/x.ts", "Content-Length: 0\r\n"), "HTTP/1.1 200 OK", false,
       std::nullopt},
      {"GET with length -1", get("/x.ts", "Content-Length: -1\r\n"), "HTTP/1.1 400 Bad Request",
       true, "close"},
      {"GET with length 12abc", get("/x.ts", "Content-Length: 12abc\r\n"),
       "HTTP/1.1 400 Bad Request", true, "close"},
      {"DELETE", "DELETE /x.ts HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed", true, "close"},
      {"POST with a length", "POST /x.ts HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc",
       "HTTP/1.1 405 Method Not Allowed", true, "close"},
      {"POST chunked", "POST /x.ts HTTP/1.1\r\nTransfer-Encoding: CHUNKED\r\n\r\n",
       "HTTP/1.1 405 Method Not Allowed", true, "close"},
      {"POST without a length", "POST /x.ts HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", true,
       "close"},
      {"POST with length -1", "POST /x.ts HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
       "HTTP/1.1 400 Bad Request", true, "close"},
      {"malformed", "GET /x.ts HTTP/1.1\r\nBad Header\r\n\r\n", "HTTP/1.1 400 Bad Request", true,
       "close"},
      {"bare LF", "GET /x.ts HTTP/1.1\n\r\n", "HTTP/1.1 400 Bad Request", true, "close"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(port);
    client.send(c.request);
    if (c.statusLine.empty()) {
      EXPECT_EQ(client.readToEnd(), "");
      continue;
    }
    auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->statusLine, c.statusLine);
    EXPECT_EQ(reply->header("Connection"), c.connectionHeader);
    if (reply->status() != 200) {
      EXPECT_EQ(reply->header("Content-Length"), "0");
      EXPECT_EQ(reply->header("Accept-Ranges"), "bytes");
      EXPECT_TRUE(reply->header("Date"));
    }
    if (c.closes) {
      EXPECT_TRUE(client.closedByServer());
    } else {
      client.send(get("/x.ts"));
      auto next = client.readReply();
      ASSERT_TRUE(next);
      EXPECT_EQ(next->body, "x-bytes");
    }
  }
}

struct PathCase {
  std::string target;
  int status;
  std::string body;
};

// Every road out of the root, lexical or through links, in the request or on disk.
void expectPathsMapToRegularFilesUnderTheRootOnly(std::uint16_t port,
                                                  const std::string& documents) {
  const PathCase cases[] = {
      {"/1_2024_55/index.m3u8", 200, "#EXTM3U\n"},
      {"/x.ts", 200, "x-bytes"},
      {"/x.ts?t=1", 200, "x-bytes"},
      {"/x.ts#frag", 200, "x-bytes"},
      {"/a%20b.ts", 200, "a b"},
      {"/%61%20b.ts", 200, "a b"},
      {"/./dir/../x.ts", 200, "x-bytes"},
      {"//x.ts", 200, "x-bytes"},
      {"x.ts", 200, "x-bytes"},
      {"http://127.0.0.1:1/x.ts", 200, "x-bytes"},
      {"/link.ts", 200, "x-bytes"},  // symbolic links inside the root are followed
      {"/near.ts", 200, "x-bytes"},
      {"/linkdir/", 200, "htm"},
      {"/linkdir/index.htm", 200, "htm"},
      {"/dir/", 200, "htm"},
      {"/dir", 200, "htm"},
      {"/both/", 200, "html"},
      {"/bare/", 404, ""},
      {"/fake/", 404, ""},  // an index name that is a folder does not count
      {"/", 404, ""},
      {"/empty.ts", 200, ""},
      {"/missing.ts", 404, ""},
      {"/../x", 404, ""},
      {"/../6/x", 404, ""},
      {"/../77/secret", 404, ""},
      {"/..%2f77/secret", 404, ""},
      {"/dir%2f..%2f..%2f77%2fsecret", 404, ""},
      {"/%2e%2e/6/x", 404, ""},
      {"/..%00x", 404, ""},
      {"/x.ts%00.m3u8", 404, ""},
      {"/x%2", 404, ""},
      {"/x%zz.ts", 404, ""},
      {"/%ff.ts", 404, ""},
      {"/fifo", 404, ""},
      {"mailto:x", 404, ""},
      {"/out.ts", 404, ""},  // links leading out of the root, absolute or relative
      {"/up.ts", 404, ""},
      {"/outdir/x", 404, ""},
      {"/trap/", 404, ""},                                // an index page that leads out
      {"/procroot" + documents + "/77/secret", 404, ""},  // through a link of /proc
  };
  RawClient client(port);
  for (const auto& c : cases) {
    client.send(HTTPConnectionTest::get(c.target));
    auto reply = client.readReply();
    ASSERT_TRUE(reply) << c.target;
    EXPECT_EQ(reply->status(), c.status) << c.target;
    EXPECT_EQ(reply->body, c.body) << c.target;
  }
}

TEST_F(HTTPConnectionTest, RequestPathsMapToRegularFilesUnderTheRootOnly) {
  expectPathsMapToRegularFilesUnderTheRootOnly(port, documents);
}

// Where the kernel refuses the confined walk, items are opened by their resolved path: the same
// answers.
std::shared_ptr<HTTPConnection> connectionWalkingByPath(std::shared_ptr<DispatchSocket> socket,
                                                        std::shared_ptr<HTTPConfig> config) {
  auto byPath = std::make_shared<HTTPConfig>(
      config->server(), DocumentRoot::open(*config->documentRoot(), DocumentRoot::Walk::ByPath),
      config->queue());
  return HTTPConnection::initWithAsyncSocket(std::move(socket), std::move(byPath));
}

TEST_F(HTTPConnectionTest, RequestPathsOpenedByPathMapToRegularFilesUnderTheRootOnly) {
  server->stop();
  server = httpservertest::startServer(root, &connectionWalkingByPath);
  ASSERT_TRUE(server);
  expectPathsMapToRegularFilesUnderTheRootOnly(server->listeningPort(), documents);
}

TEST_F(HTTPConnectionTest, ARootFolderRemovedAndMadeAgainIsServedAnew) {
  RawClient client(port);
  client.send(get("/x.ts"));
  auto before = client.readReply();
  ASSERT_TRUE(before);
  EXPECT_EQ(before->body, "x-bytes");
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  writeFile(root + "/x.ts", "new bytes");
  client.send(get("/x.ts") + get("/missing.ts"));
  auto after = client.readReply();
  auto missing = client.readReply();
  ASSERT_TRUE(after && missing);
  EXPECT_EQ(after->status(), 200);
  EXPECT_EQ(after->body, "new bytes");
  EXPECT_EQ(missing->status(), 404);
}

TEST_F(HTTPConnectionTest, AFifoDoesNotHoldUpOtherConnections) {
  RawClient fifoClient(port);
  fifoClient.send(get("/fifo"));
  RawClient other(port);
  other.send(get("/x.ts"));
  auto reply = other.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "x-bytes");
  auto fifoReply = fifoClient.readReply();
  ASSERT_TRUE(fifoReply);
  EXPECT_EQ(fifoReply->status(), 404);
}

TEST_F(HTTPConnectionTest, ARootGivenWithATrailingSeparatorServesTheSameFolder) {
  auto other = httpservertest::startServer(root + "/");
  ASSERT_TRUE(other);
  RawClient client(other->listeningPort());
  client.send(get("/x.ts") + get("/../77/secret"));
  auto served = client.readReply();
  auto refused = client.readReply();
  ASSERT_TRUE(served && refused);
  EXPECT_EQ(served->body, "x-bytes");
  EXPECT_EQ(refused->status(), 404);
  other->stop();
}

TEST_F(HTTPConnectionTest, WithoutADocumentRootNothingIsFound) {
  auto other = HTTPServer::create();
  other->setInterface(std::string("127.0.0.1"));
  ASSERT_TRUE(other->start());
  RawClient client(other->listeningPort());
  client.send(get("/x.ts"));
  auto reply = client.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status(), 404);
  other->stop();
}

}  // namespace

// --- Heads arriving in pieces ----------------------------------------------------------------

namespace {

void expectClosedWithoutReply(RawClient& client) {
  EXPECT_EQ(client.readToEnd(), "");
  EXPECT_TRUE(client.closedByServer());
}

TEST_F(HTTPConnectionTest, AHeadInPiecesIsCheckedLineByLineAsThePiecesCome) {
  {
    SCOPED_TRACE("a head sent a byte at a time is answered as a whole one is");
    RawClient client(port);
    for (char byte : get("/x.ts")) client.send(std::string(1, byte));
    auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "x-bytes");
  }
  {
    SCOPED_TRACE("a malformed line is refused once it ends, before the head does");
    RawClient client(port);
    client.send("GET /x.ts HTTP/1.1\r\nBad Header\r\n");
    auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->statusLine, "HTTP/1.1 400 Bad Request");
    EXPECT_TRUE(client.closedByServer());
  }
  {
    SCOPED_TRACE("a line that reaches the limit unended closes the connection");
    RawClient client(port);
    // Exactly the limit, so that the server has read every byte when it closes (unread bytes
    // would turn the close into a reset).
    client.send("GET /" + std::string(8190 - 5, 'a'));
    expectClosedWithoutReply(client);
  }
  {
    SCOPED_TRACE("the 101st unfinished line closes the connection");
    RawClient client(port);
    client.send("GET /x.ts HTTP/1.1\r\n");
    for (int i = 0; i < 100; ++i) client.send("X-" + std::to_string(i) + ": v\r\n");
    expectClosedWithoutReply(client);
  }
}

}  // namespace

// Tells, after each piece of a head, how many of its lines the connection has taken.
class HeadLineCountingConnection : public HTTPConnection {
  CH_SHARED_OBJECT(HeadLineCountingConnection)

 public:
  static inline std::atomic<std::uint32_t> lines{0};

  void socketDidReadPartialDataOfLength(const std::shared_ptr<DispatchSocket>& sock,
                                        std::size_t partialLength, long tag) override {
    HTTPConnection::socketDidReadPartialDataOfLength(sock, partialLength, tag);
    lines = numHeaderLines;
  }

 protected:
  using HTTPConnection::HTTPConnection;
};

namespace {

TEST_F(HTTPConnectionTest, EachHeadLineHasThirtySecondsOfItsOwn) {
  platform::ScopedManualClock clock;
  server->stop();
  server = httpservertest::startServer(
      root, &HTTPConnection::initWithAsyncSocket<HeadLineCountingConnection>);
  ASSERT_TRUE(server);
  HeadLineCountingConnection::lines = 0;
  {
    SCOPED_TRACE("lines 20 s apart make a head of 40 s");
    RawClient client(server->listeningPort());
    client.send("GET /x.ts HTTP/1.1\r\n");
    ASSERT_TRUE(testsupport::runUntil([] { return HeadLineCountingConnection::lines == 1; }));
    clock->advanceSeconds(20);
    client.send("Host: 127.0.0.1\r\n");
    ASSERT_TRUE(testsupport::runUntil([] { return HeadLineCountingConnection::lines == 2; }));
    clock->advanceSeconds(20);
    client.send("\r\n");
    auto reply = client.readReply();
    ASSERT_TRUE(reply) << "each line came within 30 s of the one before";
    EXPECT_EQ(reply->body, "x-bytes");
  }
  {
    SCOPED_TRACE("a line that does not come within 30 s closes the connection");
    HeadLineCountingConnection::lines = 0;
    RawClient client(server->listeningPort());
    client.send("GET /x.ts HTTP/1.1\r\n");
    ASSERT_TRUE(testsupport::runUntil([] { return HeadLineCountingConnection::lines == 1; }));
    clock->advanceSeconds(31);
    expectClosedWithoutReply(client);
  }
}

}  // namespace

// --- Small replies on a kept-alive connection ---------------------------------------------------

// Counts the socket writes its replies took, and reads the accepted socket's TCP_NODELAY.
class WriteCountingConnection : public HTTPConnection {
  CH_SHARED_OBJECT(WriteCountingConnection)

 public:
  static inline std::atomic<int> writes{0};
  static inline std::atomic<int> noDelay{-1};

  void socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>& sock, long tag) override {
    if (writes++ == 0) {
      sock->performBlock([&] {
        int value = -1;
        socklen_t length = sizeof value;
        if (getsockopt(sock->socketFD(), IPPROTO_TCP, TCP_NODELAY, &value, &length) == 0)
          noDelay = value;
      });
    }
    HTTPConnection::socketDidWriteDataWithTag(sock, tag);
  }

 protected:
  using HTTPConnection::HTTPConnection;
};

// Records, from inside the socket's own queue, whether that queue is the connection's.
class QueueSharingConnection : public HTTPConnection {
  CH_SHARED_OBJECT(QueueSharingConnection)

 public:
  static inline std::atomic<int> shared{-1};

  void socketDidReadData(const std::shared_ptr<DispatchSocket>& sock, const SocketData& data,
                         long tag) override {
    sock->performBlock([&] { shared = platform::dispatch::Queue::current() == queue() ? 1 : 0; });
    HTTPConnection::socketDidReadData(sock, data, tag);
  }

 protected:
  using HTTPConnection::HTTPConnection;
};

// A request's steps hop between the socket's queue and the connection's; with one queue for both
// they follow each other on one thread instead of each waking another.
TEST_F(HTTPConnectionTest, AcceptedSocketsRunOnTheConnectionQueue) {
  server->stop();
  server = httpservertest::startServer(
      root, &HTTPConnection::initWithAsyncSocket<QueueSharingConnection>);
  ASSERT_TRUE(server);
  QueueSharingConnection::shared = -1;
  RawClient client(server->listeningPort());
  client.send(get("/x.ts"));
  auto reply = client.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "x-bytes");
  EXPECT_EQ(QueueSharingConnection::shared, 1);
}

TEST_F(HTTPConnectionTest, EachSmallReplyOnAKeptAliveConnectionIsOneWriteWithoutNagle) {
  server->stop();
  server = httpservertest::startServer(
      root, &HTTPConnection::initWithAsyncSocket<WriteCountingConnection>);
  ASSERT_TRUE(server);
  const std::string page = httpservertest::patternBytes(4096, 9);
  writeFile(root + "/page.css", page);
  WriteCountingConnection::writes = 0;
  WriteCountingConnection::noDelay = -1;

  // Twenty requests one after the other, each sent when the last reply is in: the way a page
  // loads its css, scripts and images over one connection.
  RawClient client(server->listeningPort());
  for (int i = 0; i < 20; ++i) {
    client.send(get("/page.css"));
    auto reply = client.readReply();
    ASSERT_TRUE(reply) << i;
    ASSERT_EQ(reply->status(), 200) << i;
    ASSERT_TRUE(reply->body == page) << i;
  }
  // The head and the body go out together, and the socket does not hold small writes back for
  // the acknowledgement of the previous one (which a client delays by some 40 ms).
  EXPECT_TRUE(testsupport::runUntil([] { return WriteCountingConnection::writes >= 20; }));
  EXPECT_EQ(WriteCountingConnection::writes, 20);
  EXPECT_EQ(WriteCountingConnection::noDelay, 1);
}

namespace {

// While it lives, the process has no descriptor number left: the soft limit is lowered to just
// above the highest number in use and every free number below it is taken.
class DescriptorsUsedUp {
 public:
  DescriptorsUsedUp() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      highest = std::max(highest, std::stoi(entry.path().filename().string()));
    }
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(highest) + 1;
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
  }
  ~DescriptorsUsedUp() {
    for (int fd : taken_) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
  DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

 private:
  rlimit saved_{};
  std::vector<int> taken_;
};

// Whether a descriptor of this process is open on `path`.
bool isOpenInThisProcess(const std::string& path) {
  std::error_code ignored;
  auto target = std::filesystem::canonical(path, ignored);
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored)) {
    if (std::filesystem::read_symlink(entry.path(), ignored) == target) return true;
  }
  return false;
}

}  // namespace

TEST_F(HTTPConnectionTest, AtTheDescriptorLimitAFileRequestIsRefusedWith503BeforeAnyHead) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' runtime probes memory through a pipe of its own when it checks a dynamic
  // type, and with no descriptor left that probe fails and is reported as a bad object.
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  RawClient client(port);
  client.send(get("/x.ts"));
  auto before = client.readReply();
  ASSERT_TRUE(before);
  ASSERT_EQ(before->status(), 200);
  // The first answer's file is closed once its body is out, on the server's own time: were it
  // closed after the descriptors below are taken, its slot would serve the next open.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (isOpenInThisProcess(root + "/x.ts") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_FALSE(isOpenInThisProcess(root + "/x.ts")) << "the first answer's file stays open";
  std::optional<Reply> atLimit;
  std::optional<Reply> headAtLimit;
  {
    DescriptorsUsedUp noneLeft;
    client.send(get("/x.ts"));
    atLimit = client.readReply();
    client.send("HEAD /x.ts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    headAtLimit = client.readReply(true);
  }
  ASSERT_TRUE(atLimit) << "the connection ended instead of answering";
  EXPECT_EQ(atLimit->statusLine, "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(atLimit->header("content-length"), "0");
  ASSERT_TRUE(headAtLimit);
  EXPECT_EQ(headAtLimit->status(), 503);
  // The same connection serves the file again once descriptors are to be had.
  client.send(get("/x.ts"));
  auto after = client.readReply();
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status(), 200);
  EXPECT_EQ(after->body, "x-bytes");
}
