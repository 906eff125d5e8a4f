// The stream pairs a DispatchUdpSocket lays over its descriptors, and raw access from its queue.

#include <gtest/gtest.h>

#include <cstring>

#include "SocketHarness.h"
#include "platform/net/SocketStream.h"
#include "sockets/dispatch/DispatchUdpSocket.h"

using namespace sockettest;
using platform::SocketStream;
using platform::StreamStatus;

namespace {

std::shared_ptr<DispatchUdpSocket> boundSocket(const std::string& host) {
  auto sock = DispatchUdpSocket::create(std::make_shared<DispatchUdpSocketDelegate>(),
                                        platform::dispatch::Queue::serial("test.udp.delegate"));
  platform::Error error;
  EXPECT_TRUE(sock->bindToPort(0, host, &error)) << error.localizedDescription();
  return sock;
}

TEST(UdpStreamTest, StreamsExistOnlyInsidePerformBlockOverTheOpenDescriptor) {
  auto sock = boundSocket("127.0.0.1");
  EXPECT_EQ(sock->readStream(), nullptr) << "outside performBlock";
  EXPECT_EQ(sock->socketFD(), -1);
  std::shared_ptr<SocketStream> read;
  std::shared_ptr<SocketStream> write;
  int fd = -1;
  sock->performBlock([&] {
    read = sock->readStream();
    write = sock->writeStream();
    fd = sock->socketFD();
  });
  ASSERT_TRUE(read && write);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(read->isReadStream());
  auto handle = read->property(platform::kStreamPropertySocketNativeHandle);
  ASSERT_TRUE(handle && handle->asBytes());
  int streamFD = -1;
  std::memcpy(&streamFD, handle->asBytes()->data(), sizeof streamFD);
  EXPECT_EQ(streamFD, fd) << "the IPv4 pair";
  EXPECT_FALSE(sock->enableBackgroundingOnSockets());

  // The close takes the streams down; the descriptor is the socket's to close, not theirs.
  EXPECT_FALSE(read->property(platform::kStreamPropertyShouldCloseNativeSocket)->boolValue());
  sock->close();
  EXPECT_EQ(read->status(), StreamStatus::Closed);
  EXPECT_EQ(write->status(), StreamStatus::Closed);
}

TEST(UdpStreamTest, ASocketWithoutADescriptorHasNoStreams) {
  auto sock = DispatchUdpSocket::create(std::make_shared<DispatchUdpSocketDelegate>(),
                                        platform::dispatch::Queue::serial("test.udp.delegate"));
  bool asked = false;
  std::shared_ptr<SocketStream> read;
  sock->performBlock([&] {
    read = sock->readStream();
    asked = true;
  });
  EXPECT_TRUE(asked);
  EXPECT_EQ(read, nullptr);
}

}  // namespace
