// Socket throughput and latency: a line-echo server on DispatchSocket against the same server
// written directly on epoll here, with as many threads as the worker pool keeps busy (the floor
// for this design on this machine). Keep-alive clients on loopback send a line, wait for its
// echo and send the next, with 1, 10, 100 and 1,000 connections; both servers run in alternating
// rounds, every echo is checked against what was sent, and the medians, ranges and ratios of
// requests per second, of the 99th-percentile latency and of the servers' CPU time per echo are
// printed. Each round's clients close their connections before the next round starts. The
// servers' threads run on the harness's server cores, the clients on its load cores; a server's
// CPU time is the process's less what the client threads used.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchHarness.h"
#include "platform/dispatch/Queue.h"
#include "sockets/dispatch/DispatchSocket.h"

using platform::dispatch::Queue;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 5;
constexpr auto kRoundLength = std::chrono::milliseconds(1500);
constexpr int kClientThreads = 4;
const std::size_t kServerThreads = std::max(4u, std::thread::hardware_concurrency());

// --- The server on DispatchSocket ----------------------------------------------------------------

// Each connection runs on a queue of its own, which is also its delegate queue, so a read's
// completion, the echo and the next read stay on one strand.
class DispatchEchoServer : public DispatchSocketDelegate,
                           public std::enable_shared_from_this<DispatchEchoServer> {
 public:
  std::uint16_t start() {
    listener_ = DispatchSocket::create(weak_from_this(), Queue::serial("bench.listener"));
    platform::Error err;
    if (!listener_->acceptOnInterface("127.0.0.1", 0, &err))
      throw std::runtime_error(err.localizedDescription());
    return listener_->localPort();
  }
  void stop() { listener_->disconnect(); }

  // Both run on the listener's delegate queue, one right after the other for each connection.
  std::shared_ptr<Queue> newSocketQueueForConnectionFromAddress(
      const platform::Bytes&, const std::shared_ptr<DispatchSocket>&) override {
    connectionQueue_ = Queue::serial("bench.connection");
    return connectionQueue_;
  }
  void socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>&,
                                const std::shared_ptr<DispatchSocket>& newSocket) override {
    newSocket->setDelegate(weak_from_this(), std::move(connectionQueue_));
    newSocket->readDataToData(DispatchSocket::LFData(), -1, 0);
  }
  void socketDidReadData(const std::shared_ptr<DispatchSocket>& sock, const SocketData& data,
                         long tag) override {
    sock->writeData(data, -1, tag);
    sock->readDataToData(DispatchSocket::LFData(), -1, tag + 1);
  }

 private:
  std::shared_ptr<DispatchSocket> listener_;
  std::shared_ptr<Queue> connectionQueue_;
};

// --- The same server on epoll --------------------------------------------------------------------

class EpollEchoServer {
 public:
  std::uint16_t start() {
    listenFD_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFD_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFD_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFD_, 1024) != 0)
      throw std::runtime_error("epoll server: listen");
    socklen_t length = sizeof address;
    getsockname(listenFD_, reinterpret_cast<sockaddr*>(&address), &length);
    stopFD_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (std::size_t i = 0; i < kServerThreads; ++i) {
      int epoll = epoll_create1(EPOLL_CLOEXEC);
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.fd = stopFD_;
      epoll_ctl(epoll, EPOLL_CTL_ADD, stopFD_, &ev);
      if (i == 0) {
        ev.data.fd = listenFD_;
        epoll_ctl(epoll, EPOLL_CTL_ADD, listenFD_, &ev);
      }
      epolls_.push_back(epoll);
    }
    for (std::size_t i = 0; i < kServerThreads; ++i) threads_.emplace_back([this, i] { serve(i); });
    return ntohs(address.sin_port);
  }

  void stop() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFD_, &one, sizeof one);
    for (auto& t : threads_) t.join();
    for (int e : epolls_) ::close(e);
    ::close(stopFD_);
    ::close(listenFD_);
  }

 private:
  struct Connection {
    std::string in;
    std::string out;
    bool watchingOut = false;
  };

  void serve(std::size_t index) {
    int epoll = epolls_[index];
    std::vector<std::unique_ptr<Connection>> connections(65536);
    epoll_event events[256];
    char buffer[65536];
    while (true) {
      int ready = epoll_wait(epoll, events, 256, -1);
      for (int e = 0; e < ready; ++e) {
        int fd = events[e].data.fd;
        if (fd == stopFD_) {
          for (std::size_t c = 0; c < connections.size(); ++c)
            if (connections[c]) ::close(static_cast<int>(c));
          return;
        }
        if (fd == listenFD_) {
          int child;
          while ((child = accept4(listenFD_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >=
                 0) {
            // Round-robin over the threads, as the pool spreads queues over its workers.
            int target = epolls_[nextThread_++ % epolls_.size()];
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = child;
            epoll_ctl(target, EPOLL_CTL_ADD, child, &ev);
          }
          continue;
        }
        auto& connection = connections[fd];
        if (!connection) connection = std::make_unique<Connection>();
        bool closed = false;
        if (events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
          ssize_t got = ::read(fd, buffer, sizeof buffer);
          if (got <= 0) {
            closed = got == 0 || errno != EAGAIN;
          } else {
            connection->in.append(buffer, static_cast<std::size_t>(got));
            std::size_t end = connection->in.rfind('\n');
            if (end != std::string::npos) {
              connection->out.append(connection->in, 0, end + 1);
              connection->in.erase(0, end + 1);
            }
          }
        }
        if (!closed && !connection->out.empty()) {
          ssize_t sent = ::send(fd, connection->out.data(), connection->out.size(), MSG_NOSIGNAL);
          if (sent > 0) connection->out.erase(0, static_cast<std::size_t>(sent));
          // Ask for writability only while a reply waits for room.
          bool wantsOut = !connection->out.empty();
          if (wantsOut != connection->watchingOut) {
            epoll_event ev{};
            ev.events = wantsOut ? EPOLLIN | EPOLLOUT : EPOLLIN;
            ev.data.fd = fd;
            epoll_ctl(epoll, EPOLL_CTL_MOD, fd, &ev);
            connection->watchingOut = wantsOut;
          }
        }
        if (closed) {
          epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
          ::close(fd);
          connection.reset();
        }
      }
    }
  }

  int listenFD_ = -1;
  int stopFD_ = -1;
  std::vector<int> epolls_;
  std::vector<std::thread> threads_;
  std::atomic<std::size_t> nextThread_{0};
};

// --- The clients ---------------------------------------------------------------------------------

struct RoundResult {
  double requestsPerSecond = 0;
  double p99Micros = 0;
  long mismatches = 0;
  double serverCpuPerEcho = -1;  // microseconds
};

// `connections` keep-alive connections, each with one line in flight, for one round.
RoundResult runClients(std::uint16_t port, int connections) {
  struct Conn {
    int fd;
    std::string expected;
    std::string in;
    SteadyClock::time_point sent;
    long sequence = 0;
  };
  std::vector<std::vector<Conn>> perThread(kClientThreads);
  for (int i = 0; i < connections; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("client connect");
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    perThread[i % kClientThreads].push_back(Conn{fd, {}, {}, {}, 0});
  }

  std::mutex merge;
  std::vector<double> latencies;
  long total = 0;
  long mismatches = 0;
  double clientCpu = 0;
  const double processCpuBefore = bench::selfCpuSeconds();
  auto start = SteadyClock::now();
  auto deadline = start + kRoundLength;
  std::vector<std::thread> threads;
  for (int t = 0; t < kClientThreads; ++t) {
    threads.emplace_back([&, t] {
      bench::pinTo(bench::cores().load);
      const double cpuBefore = bench::threadCpuSeconds();
      auto& conns = perThread[t];
      int epoll = epoll_create1(EPOLL_CLOEXEC);
      std::vector<double> mine;
      long done = 0;
      long bad = 0;
      auto sendNext = [&](Conn& c) {
        c.expected = "request " + std::to_string(c.fd) + " " + std::to_string(c.sequence++) +
                     " abcdefghijklmnopqrstuvwxyz0123456789\n";
        c.sent = SteadyClock::now();
        if (::send(c.fd, c.expected.data(), c.expected.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(c.expected.size()))
          ++bad;
      };
      for (std::size_t i = 0; i < conns.size(); ++i) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, conns[i].fd, &ev);
        sendNext(conns[i]);
      }
      std::size_t outstanding = conns.size();
      char buffer[4096];
      epoll_event events[256];
      while (outstanding > 0) {
        int ready = epoll_wait(epoll, events, 256, 100);
        auto now = SteadyClock::now();
        if (ready <= 0 && now > deadline + std::chrono::seconds(5)) break;
        for (int e = 0; e < ready; ++e) {
          Conn& c = conns[events[e].data.u64];
          ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
          if (got <= 0) continue;
          c.in.append(buffer, static_cast<std::size_t>(got));
          if (c.in.size() < c.expected.size()) continue;
          if (c.in != c.expected) ++bad;
          c.in.clear();
          if (now < deadline) {
            ++done;
            mine.push_back(std::chrono::duration<double, std::micro>(now - c.sent).count());
            sendNext(c);
          } else {
            --outstanding;
          }
        }
      }
      ::close(epoll);
      const double cpuUsed = bench::threadCpuSeconds() - cpuBefore;
      std::lock_guard<std::mutex> g(merge);
      clientCpu += cpuUsed;
      latencies.insert(latencies.end(), mine.begin(), mine.end());
      total += done;
      mismatches += bad + static_cast<long>(outstanding);
    });
  }
  for (auto& t : threads) t.join();
  const double serverCpu = bench::selfCpuSeconds() - processCpuBefore - clientCpu;
  for (auto& conns : perThread)
    for (auto& c : conns) ::close(c.fd);

  RoundResult result;
  double seconds = std::chrono::duration<double>(kRoundLength).count();
  result.requestsPerSecond = static_cast<double>(total) / seconds;
  if (!latencies.empty()) {
    std::size_t at = latencies.size() * 99 / 100;
    std::nth_element(latencies.begin(), latencies.begin() + static_cast<long>(at), latencies.end());
    result.p99Micros = latencies[at];
  }
  result.mismatches = mismatches;
  if (total > 0)
    result.serverCpuPerEcho = std::max(0.0, serverCpu) * 1e6 / static_cast<double>(total);
  return result;
}

}  // namespace

// With arguments, one side only, for profiling: `socket_bench dispatch|epoll <connections>`.
int profileOneSide(const std::string& side, int connections) {
  std::uint16_t port;
  auto dispatchServer = std::make_shared<DispatchEchoServer>();
  EpollEchoServer epollServer;
  port = side == "epoll" ? epollServer.start() : dispatchServer->start();
  for (int round = 0; round < kRounds; ++round) {
    RoundResult r = runClients(port, connections);
    std::printf(
        "%s %d connections: %.0f requests/s, p99 %.0f us, server CPU %.1f us per echo, "
        "%ld wrong\n",
        side.c_str(), connections, r.requestsPerSecond, r.p99Micros, r.serverCpuPerEcho,
        r.mismatches);
  }
  if (side == "epoll") {
    epollServer.stop();
  } else {
    dispatchServer->stop();
  }
  return 0;
}

int main(int argc, char** argv) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
  setrlimit(RLIMIT_NOFILE, &limit);
  // The servers' threads (the reactor, the pool, the epoll server's) are all started from here
  // and inherit the server cores; the client threads move to the load cores themselves.
  bench::pinTo(bench::cores().server);
  if (argc == 3) return profileOneSide(argv[1], std::atoi(argv[2]));

  bench::printPlacement();
  auto dispatchServer = std::make_shared<DispatchEchoServer>();
  std::uint16_t dispatchPort = dispatchServer->start();
  EpollEchoServer epollServer;
  std::uint16_t epollPort = epollServer.start();

  std::printf(
      "line echo over loopback, %d client threads, %zu epoll server threads, rounds of %.1f s\n",
      kClientThreads, kServerThreads, std::chrono::duration<double>(kRoundLength).count());
  bench::Harness harness("socket", kRounds);
  for (int connections : {1, 10, 100, 1000}) {
    std::vector<double> p99Dispatch, p99Epoll;
    auto side = [&](std::uint16_t port, std::vector<double>& p99, const char* name) {
      RoundResult r = runClients(port, connections);
      if (r.mismatches != 0)
        harness.fail(std::string(name) + ": " + std::to_string(r.mismatches) +
                     " replies missing or wrong");
      p99.push_back(r.p99Micros);
      return bench::Outcome{r.requestsPerSecond, "every echo exact", r.serverCpuPerEcho};
    };
    std::string label = std::to_string(connections) + " connections";
    // Aims where many connections share the pool; 1 and 10 connections measure mostly hand-off
    // latency, which a dedicated epoll thread per core always wins.
    const bool aimed = connections >= 100;
    harness.compare(
        {label + ", throughput", "req/s", "DispatchSocket", "epoll, as many threads",
         aimed ? bench::Aim{">=", 0.7} : bench::Aim{}, ""},
        [&] { return side(dispatchPort, p99Dispatch, "DispatchSocket"); },
        [&] { return side(epollPort, p99Epoll, "epoll"); });
    harness.report({label + ", p99 latency", "us", "DispatchSocket", "epoll, as many threads",
                    aimed ? bench::Aim{"<=", 2.0} : bench::Aim{}, ""},
                   p99Dispatch, p99Epoll, "the same rounds");
  }
  dispatchServer->stop();
  epollServer.stop();
  return harness.exitCode();
}