// The application's wrapper: the user's download folder as root, the port from the
// environment (or a free one when another program holds it), loopback only.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "httpserver/HttpServerTestSupport.h"
#include "httpserver/core/HTTPServer.h"
#include "localserver/LocalHttpServer.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/HeldPort.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

using httpservertest::RawClient;

class LocalHttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("CHENGHENG_MEDIA_PORT", "0", 1);
    GlobalModel::sharedModel()->setUserId(1234);
  }
  void TearDown() override {
    unsetenv("CHENGHENG_MEDIA_PORT");
    GlobalModel::sharedModel()->setUserId(0);
  }
  testsupport::TempHome home;
};

// The local addresses of the listening TCP sockets on `port`, as the kernel lists them (hex).
std::vector<std::string> listeningAddresses(std::uint16_t port) {
  std::vector<std::string> addresses;
  char portHex[8];
  std::snprintf(portHex, sizeof portHex, "%04X", port);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // titles
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      std::size_t colon = local.find(':');
      if (state == "0A" && local.substr(colon + 1) == portHex)
        addresses.push_back(local.substr(0, colon));
    }
  }
  return addresses;
}

TEST_F(LocalHttpServerTest, ServesTheUsersDownloadFolderOnLoopbackOnly) {
  std::string folder = platform::Paths::documents() + "/1234/110000_2014_9001";
  std::filesystem::create_directories(folder);
  testsupport::writeFile(folder + "/index.m3u8", "#EXTM3U\n");

  LocalHttpServer server;
  EXPECT_EQ(server.httpServer()->documentRoot(), platform::Paths::documents() + "/1234");
  EXPECT_EQ(server.httpServer()->type(), "_http._tcp.");
  EXPECT_FALSE(server.isRunning());
  server.setDocumeentRoot();
  server.start();
  ASSERT_TRUE(server.isRunning());
  std::uint16_t port = server.httpServer()->listeningPort();
  ASSERT_NE(port, 0);

  // 127.0.0.1 and ::1, nothing else.
  auto addresses = listeningAddresses(port);
  std::sort(addresses.begin(), addresses.end());
  EXPECT_EQ(addresses, (std::vector<std::string>{"00000000000000000000000001000000", "0100007F"}));

  for (bool ipv6 : {false, true}) {
    RawClient client(port, ipv6);
    ASSERT_TRUE(client.connected()) << ipv6;
    client.send("GET /110000_2014_9001/index.m3u8 HTTP/1.1\r\n\r\n");
    auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "#EXTM3U\n");
  }
  // A reply can reach the client just before the server hears its last byte went out.
  EXPECT_TRUE(testsupport::runUntil([&] { return server.requestsServed() == 2; }));
  server.stop();
  EXPECT_FALSE(server.isRunning());
  server.stop();
  EXPECT_EQ(server.requestsServed(), 2u) << "kept over a stop";
}

TEST_F(LocalHttpServerTest, TheDocumentRootFollowsTheCurrentUser) {
  GlobalModel::sharedModel()->setUserId(0);
  LocalHttpServer server;
  EXPECT_EQ(server.httpServer()->documentRoot(), platform::Paths::documents() + "/0");
  GlobalModel::sharedModel()->setUserId(77);
  server.setDocumeentRoot();
  EXPECT_EQ(server.httpServer()->documentRoot(), platform::Paths::documents() + "/77");
}

TEST_F(LocalHttpServerTest, ThePlayersRoadStartsOnceAndStopsOnClose) {
  LocalHttpServer server;
  for (int play = 0; play < 2; ++play) {
    if (!server.isRunning()) {
      server.setDocumeentRoot();
      server.start();
    }
    ASSERT_TRUE(server.isRunning());
    std::uint16_t port = server.httpServer()->listeningPort();
    // A second start while running is skipped by the caller; were it made, it would fail
    // inside and leave the server as it is.
    server.start();
    EXPECT_TRUE(server.isRunning());
    EXPECT_EQ(server.httpServer()->listeningPort(), port);
    server.stop();
    EXPECT_FALSE(server.isRunning());
  }
}

TEST_F(LocalHttpServerTest, AHeldPortIsPassedOverForAFreeOneThePlayerCanAsk) {
  std::string folder = platform::Paths::documents() + "/1234/110000_2014_9001";
  std::filesystem::create_directories(folder);
  testsupport::writeFile(folder + "/index.m3u8", "#EXTM3U\n");
  testsupport::HeldPort held;
  ASSERT_NE(held.port(), 0);
  setenv("CHENGHENG_MEDIA_PORT", std::to_string(held.port()).c_str(), 1);

  LocalHttpServer server;
  EXPECT_EQ(server.listeningPort(), 0) << "not running yet";
  for (int play = 0; play < 2; ++play) {
    SCOPED_TRACE("play " + std::to_string(play));
    server.setDocumeentRoot();
    server.start();
    ASSERT_TRUE(server.isRunning());
    const std::uint16_t port = server.listeningPort();
    EXPECT_NE(port, 0);
    EXPECT_NE(port, held.port());
    EXPECT_EQ(server.httpServer()->port(), held.port()) << "the next start tries it first";
    RawClient client(port, false);
    ASSERT_TRUE(client.connected());
    client.send("GET /110000_2014_9001/index.m3u8 HTTP/1.1\r\n\r\n");
    auto reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "#EXTM3U\n");
    server.stop();
    EXPECT_EQ(server.listeningPort(), 0);
  }
}

TEST_F(LocalHttpServerTest, ThePortComesFromTheEnvironmentWhenItHoldsOne) {
  const std::pair<const char*, std::uint16_t> cases[] = {
      {nullptr, 12345}, {"0", 0},       {"8080", 8080}, {"65535", 65535},
      {"65536", 12345}, {"abc", 12345}, {"", 12345},    {"-1", 12345},
  };
  for (const auto& [value, port] : cases) {
    if (value) {
      setenv("CHENGHENG_MEDIA_PORT", value, 1);
    } else {
      unsetenv("CHENGHENG_MEDIA_PORT");
    }
    EXPECT_EQ(LocalHttpServer::configuredPort(), port) << (value ? value : "(unset)");
  }
}

}  // namespace
