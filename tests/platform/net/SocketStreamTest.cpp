#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/SocketStream.h"

using namespace platform;

namespace {

// A listening TCP socket on 127.0.0.1, port chosen by the kernel; `listening` false makes a
// bound socket that refuses connections.
struct Listener {
  explicit Listener(bool listening = true) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    if (listening) {
      EXPECT_EQ(::listen(fd, 8), 0);
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  ~Listener() { ::close(fd); }
  int accept() { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
  int fd;
  std::uint16_t port;
};

int connectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

class SocketStreamTest : public ::testing::Test {
 protected:
  // Schedules both halves on the test's loop and records their events.
  void watch(const std::string& mode = kDefaultRunLoopMode) {
    for (auto* stream : {&read_, &write_}) {
      (*stream)->setClient(0x1F, [this](SocketStream& s, unsigned event) {
        (s.isReadStream() ? readEvents_ : writeEvents_).push_back(event);
      });
      (*stream)->scheduleInRunLoop(loop_, mode);
    }
  }
  bool saw(const std::vector<unsigned>& events, unsigned event) {
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  std::shared_ptr<RunLoop> loop_ = RunLoop::current();
  SocketStream::ReadStream read_;
  SocketStream::WriteStream write_;
  std::vector<unsigned> readEvents_;
  std::vector<unsigned> writeEvents_;
};

TEST_F(SocketStreamTest, PairOverADescriptorCarriesBytesBothWaysAndReportsTheEnd) {
  Listener listener;
  int ours = connectTo(listener.port);
  int peer = listener.accept();
  std::tie(read_, write_) = SocketStream::createPairWithSocket(ours);
  ASSERT_TRUE(read_ && write_);
  EXPECT_EQ(read_->status(), StreamStatus::NotOpen);
  watch();
  ASSERT_TRUE(read_->open());
  ASSERT_TRUE(write_->open());
  EXPECT_FALSE(read_->open()) << "opened once only";
  ASSERT_TRUE(loop_->runUntil([&] {
    return saw(readEvents_, kStreamEventOpenCompleted) &&
           saw(writeEvents_, kStreamEventCanAcceptBytes);
  }));
  EXPECT_EQ(readEvents_.front(), kStreamEventOpenCompleted);
  EXPECT_EQ(writeEvents_.front(), kStreamEventOpenCompleted);

  const std::string out = "hello peer";
  EXPECT_EQ(write_->write(reinterpret_cast<const std::uint8_t*>(out.data()), out.size()),
            static_cast<ssize_t>(out.size()));
  char got[32] = {};
  EXPECT_EQ(::recv(peer, got, sizeof got, 0), static_cast<ssize_t>(out.size()));
  EXPECT_EQ(std::string(got), out);

  ASSERT_EQ(::send(peer, "abcdef", 6, 0), 6);
  ASSERT_TRUE(loop_->runUntil([&] { return saw(readEvents_, kStreamEventHasBytesAvailable); }));
  // Not told again until it reads.
  loop_->runFor(std::chrono::milliseconds(10));
  EXPECT_EQ(std::count(readEvents_.begin(), readEvents_.end(), kStreamEventHasBytesAvailable), 1);
  EXPECT_TRUE(read_->hasBytesAvailable());
  std::uint8_t buf[4];
  EXPECT_EQ(read_->read(buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
  ASSERT_TRUE(loop_->runUntil([&] {
    return std::count(readEvents_.begin(), readEvents_.end(), kStreamEventHasBytesAvailable) == 2;
  }));
  EXPECT_EQ(read_->read(buf, 4), 2);

  ::close(peer);
  ASSERT_TRUE(loop_->runUntil([&] { return saw(readEvents_, kStreamEventEndEncountered); }));
  EXPECT_EQ(read_->status(), StreamStatus::AtEnd);
  EXPECT_EQ(read_->read(buf, 4), 0);

  // The descriptor stays the caller's unless the pair is told to close it.
  auto handle = read_->property(kStreamPropertySocketNativeHandle);
  ASSERT_TRUE(handle && handle->asBytes() && handle->asBytes()->size() == sizeof(int));
  int fromProperty;
  std::memcpy(&fromProperty, handle->asBytes()->data(), sizeof(int));
  EXPECT_EQ(fromProperty, ours);
  EXPECT_TRUE(write_->setProperty(kStreamPropertyShouldCloseNativeSocket, Value(true)));
  EXPECT_TRUE(read_->property(kStreamPropertyShouldCloseNativeSocket)->boolValue());
  read_->close();
  write_->close();
  EXPECT_EQ(read_->status(), StreamStatus::Closed);
  EXPECT_NE(::fcntl(ours, F_GETFD), -1) << "open while a half is still held";
  read_.reset();
  write_.reset();
  EXPECT_EQ(::fcntl(ours, F_GETFD), -1);
}

TEST_F(SocketStreamTest, HostPairConnectsToALoopbackListener) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    Listener listener;
    readEvents_.clear();
    writeEvents_.clear();
    std::tie(read_, write_) = SocketStream::createPairWithHost(host, listener.port);
    watch();
    ASSERT_TRUE(read_->open());
    ASSERT_TRUE(write_->open());
    ASSERT_TRUE(loop_->runUntil([&] {
      return saw(readEvents_, kStreamEventOpenCompleted) &&
             saw(writeEvents_, kStreamEventOpenCompleted);
    }));
    EXPECT_EQ(read_->status(), StreamStatus::Open);
    EXPECT_TRUE(read_->property(kStreamPropertySocketNativeHandle).has_value());
    read_->close();
    write_->close();
  }
}

TEST_F(SocketStreamTest, ARefusedConnectionIsAnError) {
  Listener refusing(false);
  std::tie(read_, write_) = SocketStream::createPairWithHost("127.0.0.1", refusing.port);
  watch();
  // Loopback refuses at once, so the open fails; a refusal that comes later is an error event.
  bool opened = read_->open();
  if (opened) {
    ASSERT_TRUE(loop_->runUntil([&] { return saw(readEvents_, kStreamEventErrorOccurred); }));
  }
  EXPECT_EQ(read_->status(), StreamStatus::Error);
  EXPECT_EQ(read_->error(), (StreamError{StreamErrorDomain::POSIX, ECONNREFUSED}));
  EXPECT_FALSE(write_->open());
  EXPECT_EQ(write_->error(), read_->error());
}

TEST_F(SocketStreamTest, EventsArriveOnlyInTheModesTheStreamIsScheduledIn) {
  Listener listener;
  int ours = connectTo(listener.port);
  int peer = listener.accept();
  std::tie(read_, write_) = SocketStream::createPairWithSocket(ours);
  read_->setProperty(kStreamPropertyShouldCloseNativeSocket, Value(true));
  watch("Other");
  read_->open();
  write_->open();
  loop_->runFor(std::chrono::milliseconds(10));
  EXPECT_TRUE(readEvents_.empty());
  EXPECT_TRUE(loop_->runUntil([&] { return !readEvents_.empty(); }, seconds(10), "Other"));
  read_->unscheduleFromRunLoop(loop_, "Other");
  ::send(peer, "x", 1, 0);
  loop_->runFor(std::chrono::milliseconds(10));
  EXPECT_EQ(readEvents_, (std::vector<unsigned>{kStreamEventOpenCompleted}));
  ::close(peer);
}

TEST_F(SocketStreamTest, OnceScheduledItsEntryPointsFailAnAssertionOnAnotherThread) {
  Listener listener;
  int ours = connectTo(listener.port);
  int peer = listener.accept();
  std::tie(read_, write_) = SocketStream::createPairWithSocket(ours);
  // Before it is scheduled, a pair is still being set up and may be touched anywhere.
  std::thread([this] {
    EXPECT_TRUE(read_->setProperty(kStreamPropertyShouldCloseNativeSocket, Value(true)));
  }).join();
  watch();
  read_->open();
  write_->open();
  std::vector<std::string> refused;
  std::thread([&] {
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"status", [&] { read_->status(); }},
        {"hasBytesAvailable", [&] { read_->hasBytesAvailable(); }},
        {"canAcceptBytes", [&] { write_->canAcceptBytes(); }},
        {"write", [&] { write_->write(reinterpret_cast<const std::uint8_t*>("x"), 1); }},
        {"close", [&] { write_->close(); }},
    };
    for (const auto& [name, call] : calls) {
      try {
        call();
      } catch (const AssertionFailure&) {
        refused.push_back(name);
      }
    }
  }).join();
  EXPECT_EQ(refused, (std::vector<std::string>{"status", "hasBytesAvailable", "canAcceptBytes",
                                               "write", "close"}));
  // On the loop's own thread the same calls go on.
  EXPECT_NE(read_->status(), StreamStatus::Error);
  ::close(peer);
}

TEST_F(SocketStreamTest, TlsBeforeOpeningAndUnknownPropertiesAreRefusedTheServiceTypeIsKept) {
  std::tie(read_, write_) = SocketStream::createPairWithHost("127.0.0.1", 1);
  EXPECT_FALSE(read_->setProperty(kStreamPropertySSLSettings, Value(Dictionary{})));
  EXPECT_FALSE(write_->setProperty("SomethingElse", Value(1)));
  EXPECT_FALSE(read_->setProperty(kStreamPropertyNetworkServiceType, Value("video")));
  EXPECT_TRUE(
      read_->setProperty(kStreamPropertyNetworkServiceType, Value(kStreamNetworkServiceTypeVoIP)));
  EXPECT_EQ(read_->property(kStreamPropertyNetworkServiceType),
            Value(kStreamNetworkServiceTypeVoIP));
  EXPECT_FALSE(read_->property(kStreamPropertySocketNativeHandle).has_value());
  EXPECT_FALSE(SocketStream::createPairWithSocket(-1).first);
  EXPECT_FALSE(SocketStream::createPairWithHost("", 80).first);
}

}  // namespace
