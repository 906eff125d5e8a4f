// Running on the socket queue from outside: performBlock, marked queues, raw descriptors, and
// the backgrounding answers built on the stream pair.

#include <gtest/gtest.h>

#include <cstring>

#include "SocketHarness.h"
#include "platform/net/SocketStream.h"

using namespace sockettest;

TEST(SocketQueueAccessTest, RawDescriptorsAnswerOnlyOnTheSocketQueue) {
  Server server("127.0.0.1");
  Client client("127.0.0.1", server.port);
  auto sock = server.accepted();
  ASSERT_TRUE(sock);
  EXPECT_EQ(sock->socketFD(), -1);  // not on its queue
  EXPECT_EQ(sock->socket4FD(), -1);
  int fd = -2;
  int fd4 = -2;
  int fd6 = -2;
  sock->performBlock([&] {
    fd = sock->socketFD();
    fd4 = sock->socket4FD();
    fd6 = sock->socket6FD();
  });
  EXPECT_GE(fd, 0);
  EXPECT_EQ(fd4, fd);
  EXPECT_EQ(fd6, -1);
  // The descriptor is the connection's: its peer is the client.
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  sockaddr_storage local{};
  socklen_t localLength = sizeof local;
  ASSERT_EQ(getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length), 0);
  ASSERT_EQ(getsockname(client.fd(), reinterpret_cast<sockaddr*>(&local), &localLength), 0);
  EXPECT_EQ(length, localLength);
  EXPECT_EQ(std::memcmp(&peer, &local, length), 0);
}

TEST(SocketQueueAccessTest, AMarkedQueueCountsAsTheSocketQueueUntilUnmarked) {
  Server server("127.0.0.1");
  auto marked = platform::dispatch::Queue::serial("test.marked");
  server.listener->markSocketQueueTargetQueue(marked);
  int seen = marked->syncValue([&] { return server.listener->socket4FD(); });
  EXPECT_GE(seen, 0);
  server.listener->unmarkSocketQueueTargetQueue(marked);
  EXPECT_EQ(marked->syncValue([&] { return server.listener->socket4FD(); }), -1);
}

TEST(SocketQueueAccessTest, BackgroundingMarksTheStreamPairOnTheSocketQueueOnly) {
  Server server("127.0.0.1");
  Client client("127.0.0.1", server.port);
  auto sock = server.accepted();
  ASSERT_TRUE(sock);
  EXPECT_FALSE(sock->enableBackgroundingOnSocket()) << "off the socket queue";
  bool withCaveat = false;
  bool withoutCaveat = false;
  std::shared_ptr<platform::SocketStream> stream;
  platform::StreamStatus afterCaveat = platform::StreamStatus::Error;
  sock->performBlock([&] {
    withCaveat = sock->enableBackgroundingOnSocketWithCaveat();
    stream = sock->readStream();
    afterCaveat = stream ? stream->status() : platform::StreamStatus::Error;
    withoutCaveat = sock->enableBackgroundingOnSocket();
  });
  EXPECT_TRUE(withCaveat);
  EXPECT_EQ(afterCaveat, platform::StreamStatus::NotOpen) << "the caveat leaves them unopened";
  EXPECT_TRUE(withoutCaveat);
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->property(platform::kStreamPropertyNetworkServiceType),
            platform::Value(platform::kStreamNetworkServiceTypeVoIP));
  // A listening socket has no connection to lay a pair over.
  bool listenerAnswer = true;
  server.listener->performBlock(
      [&] { listenerAnswer = server.listener->enableBackgroundingOnSocketWithCaveat(); });
  EXPECT_FALSE(listenerAnswer);
}
