// The stream pair a DispatchSocket lays over its connected descriptor.

#include <gtest/gtest.h>

#include <cstring>

#include "SocketHarness.h"
#include "platform/net/SocketStream.h"

using namespace sockettest;
using platform::SocketStream;
using platform::StreamStatus;

namespace {

class StreamPairTest : public ConnectionTest {};

INSTANTIATE_TEST_SUITE_P(Families, StreamPairTest, testing::Values("127.0.0.1", "::1"), familyName);

TEST_P(StreamPairTest, ThePairExistsOnlyOnTheSocketQueueAndOverTheConnection) {
  connect();
  EXPECT_EQ(sock->readStream(), nullptr) << "off the socket queue";
  std::shared_ptr<SocketStream> read;
  std::shared_ptr<SocketStream> again;
  std::shared_ptr<SocketStream> write;
  int fd = -1;
  bool plainHasNoEngine = false;
  EXPECT_EQ(sock->sslContext(), nullptr);
  sock->performBlock([&] {
    plainHasNoEngine = sock->sslContext() == nullptr;
    read = sock->readStream();
    again = sock->readStream();
    write = sock->writeStream();
    fd = sock->socketFD();
  });
  ASSERT_TRUE(read && write);
  EXPECT_EQ(read, again) << "made once";
  EXPECT_TRUE(plainHasNoEngine);
  EXPECT_TRUE(read->isReadStream());
  EXPECT_FALSE(write->isReadStream());
  auto handle = read->property(platform::kStreamPropertySocketNativeHandle);
  ASSERT_TRUE(handle && handle->asBytes());
  int streamFD = -1;
  std::memcpy(&streamFD, handle->asBytes()->data(), sizeof streamFD);
  EXPECT_EQ(streamFD, fd);
  EXPECT_FALSE(read->property(platform::kStreamPropertyShouldCloseNativeSocket)->boolValue())
      << "the descriptor stays the socket's";

  // Closing takes the pair down; the socket itself closes the descriptor.
  sock->disconnect();
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(read->status(), StreamStatus::Closed);
  EXPECT_TRUE(client->waitForClose());
}

TEST_P(StreamPairTest, AListeningSocketHasNoPair) {
  Server listening(GetParam());
  bool asked = false;
  std::shared_ptr<SocketStream> read;
  listening.listener->performBlock([&] {
    read = listening.listener->readStream();
    asked = true;
  });
  EXPECT_TRUE(asked);
  EXPECT_EQ(read, nullptr);
}

}  // namespace
