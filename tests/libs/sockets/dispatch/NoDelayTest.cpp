// TCP_NODELAY on connected and accepted sockets: on by default, so a small write goes out at
// once; a caller may turn it off, on a connected socket or on a listener for what it accepts.

#include <gtest/gtest.h>

#include "SocketHarness.h"

using namespace sockettest;
using platform::dispatch::Queue;

namespace {

// The option as the system has it on the socket's descriptor; -1 when it cannot be read.
int noDelayOf(const std::shared_ptr<DispatchSocket>& sock) {
  int value = -1;
  sock->performBlock([&] {
    socklen_t length = sizeof value;
    if (getsockopt(sock->socketFD(), IPPROTO_TCP, TCP_NODELAY, &value, &length) != 0) value = -1;
  });
  return value;
}

}  // namespace

TEST(NoDelayTest, ConnectedAndAcceptedSocketsSendSmallWritesAtOnce) {
  Server server("127.0.0.1");
  auto recorder = std::make_shared<Recorder>();
  auto client = DispatchSocket::create(recorder, Queue::serial("client"));
  EXPECT_TRUE(client->isNoDelayEnabled());
  ASSERT_TRUE(client->connectToHost("127.0.0.1", server.port, 5.0));
  ASSERT_TRUE(recorder->waitForCount("connect", 1));
  auto accepted = server.accepted(1);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(noDelayOf(client), 1);
  EXPECT_EQ(noDelayOf(accepted), 1);

  // Turned off on a connected socket, it applies at once.
  client->setNoDelayEnabled(false);
  EXPECT_FALSE(client->isNoDelayEnabled());
  EXPECT_EQ(noDelayOf(client), 0);
  client->disconnect();
}

TEST(NoDelayTest, AListenerHandsItsSettingToTheSocketsItAccepts) {
  Server server("127.0.0.1");
  server.listener->setNoDelayEnabled(false);
  Client client("127.0.0.1", server.port);
  auto accepted = server.accepted(1);
  ASSERT_TRUE(accepted);
  EXPECT_FALSE(accepted->isNoDelayEnabled());
  EXPECT_EQ(noDelayOf(accepted), 0);
}
