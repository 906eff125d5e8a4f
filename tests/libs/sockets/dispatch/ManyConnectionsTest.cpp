// A line-echo server on DispatchSocket holding a thousand loopback connections open at once,
// answering each exactly, on the worker pool's threads rather than a thread per connection.

#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/resource.h>

#include <algorithm>
#include <thread>

#include "SocketHarness.h"
#include "platform/dispatch/WorkerPool.h"

using namespace sockettest;
using platform::dispatch::WorkerPool;

namespace {

constexpr int kConnections = 1000;
constexpr int kLinesEach = 2;

// Answers every line with itself and waits for the next.
class EchoServer : public Recorder {
 public:
  void socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>& sock,
                                const std::shared_ptr<DispatchSocket>& newSocket) override {
    Recorder::socketDidAcceptNewSocket(sock, newSocket);
    newSocket->readDataToData(DispatchSocket::LFData(), -1, 0);
  }
  void socketDidReadData(const std::shared_ptr<DispatchSocket>& sock, const SocketData& data,
                         long tag) override {
    sock->writeData(data, -1, tag);
    sock->readDataToData(DispatchSocket::LFData(), -1, tag + 1);
  }
};

// Enough descriptors for both ends of every connection.
bool raiseDescriptorLimit(rlim_t needed) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur >= needed) return true;
  if (limit.rlim_max < needed) return false;
  limit.rlim_cur = needed;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace

class ManyConnectionsTest : public FamilyTest {
 protected:
  void SetUp() override {
    FamilyTest::SetUp();
    if (!raiseDescriptorLimit(2 * kConnections + 256)) GTEST_SKIP() << "too few descriptors";
  }
};

INSTANTIATE_TEST_SUITE_P(Families, ManyConnectionsTest, testing::Values("127.0.0.1", "::1"),
                         familyName);

TEST_P(ManyConnectionsTest, AThousandConnectionsAreAnsweredExactly) {
  auto echo = std::make_shared<EchoServer>();
  Server server(GetParam(), echo);

  // Every client connects before any sends, so all thousand are open at once.
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kConnections; ++i) {
    clients.push_back(std::make_unique<Client>(GetParam(), server.port));
  }
  ASSERT_TRUE(echo->waitForCount("accept", kConnections));

  int epoll = epoll_create1(EPOLL_CLOEXEC);
  std::vector<std::string> received(kConnections);
  for (int i = 0; i < kConnections; ++i) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<std::uint32_t>(i);
    epoll_ctl(epoll, EPOLL_CTL_ADD, clients[i]->fd(), &ev);
  }
  auto lineOf = [](int i, int n) {
    return "connection " + std::to_string(i) + " line " + std::to_string(n) + "\n";
  };
  for (int n = 0; n < kLinesEach; ++n) {
    for (int i = 0; i < kConnections; ++i) clients[i]->send(lineOf(i, n));
    std::size_t complete = 0;
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (complete < kConnections && std::chrono::steady_clock::now() < deadline) {
      epoll_event events[256];
      int ready = epoll_wait(epoll, events, 256, 1000);
      for (int e = 0; e < ready; ++e) {
        int i = static_cast<int>(events[e].data.u32);
        char buffer[256];
        ssize_t got = ::recv(clients[i]->fd(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0) continue;
        received[i].append(buffer, static_cast<std::size_t>(got));
        if (received[i].back() == '\n' &&
            std::count(received[i].begin(), received[i].end(), '\n') == n + 1) {
          ++complete;
        }
      }
    }
    ASSERT_EQ(complete, static_cast<std::size_t>(kConnections)) << "round " << n;
  }
  ::close(epoll);

  for (int i = 0; i < kConnections; ++i) {
    std::string expected;
    for (int n = 0; n < kLinesEach; ++n) expected += lineOf(i, n);
    ASSERT_EQ(received[i], expected) << "connection " << i;
  }
  // A handful of workers served them all.
  std::size_t base = std::max(4u, std::thread::hardware_concurrency());
  EXPECT_LE(WorkerPool::shared().threadCount(), base + 4);
}
