#include "SocketHarness.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

using platform::MutexLock;

namespace sockettest {

namespace {

std::string describe(const std::optional<platform::Error>& err) {
  if (!err) return "disconnect";
  return "disconnect " + err->domain() + " " + std::to_string(err->code());
}

bool pollFor(int fd, short events) {
  pollfd pfd{fd, events, 0};
  int ms = static_cast<int>(std::chrono::milliseconds(kPatience).count());
  return ::poll(&pfd, 1, ms) == 1;
}

}  // namespace

sockaddr_storage socketAddress(const std::string& host, std::uint16_t port, socklen_t* length) {
  sockaddr_storage storage{};
  if (host.find(':') != std::string::npos) {
    auto* addr6 = reinterpret_cast<sockaddr_in6*>(&storage);
    addr6->sin6_family = AF_INET6;
    addr6->sin6_port = htons(port);
    inet_pton(AF_INET6, host.c_str(), &addr6->sin6_addr);
    *length = sizeof(sockaddr_in6);
  } else {
    auto* addr4 = reinterpret_cast<sockaddr_in*>(&storage);
    addr4->sin_family = AF_INET;
    addr4->sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &addr4->sin_addr);
    *length = sizeof(sockaddr_in);
  }
  return storage;
}

platform::Bytes addressOf(const std::string& host, std::uint16_t port) {
  socklen_t length = 0;
  auto storage = socketAddress(host, port, &length);
  const auto* first = reinterpret_cast<const std::uint8_t*>(&storage);
  return platform::Bytes(first, first + length);
}

// --- Recorder ------------------------------------------------------------------------------------

void Recorder::record(std::string event) {
  MutexLock lock(mutex_);
  events_.push_back(std::move(event));
  changed_.notify_all();
}

void Recorder::socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>&,
                                        const std::shared_ptr<DispatchSocket>& newSocket) {
  {
    MutexLock lock(mutex_);
    accepted_.push_back(newSocket);
  }
  record("accept");
}

void Recorder::socketDidConnectToHost(const std::shared_ptr<DispatchSocket>&,
                                      const std::string& host, std::uint16_t port) {
  record("connect " + host + " " + std::to_string(port));
}

void Recorder::socketDidReadData(const std::shared_ptr<DispatchSocket>& sock,
                                 const SocketData& data, long tag) {
  {
    MutexLock lock(mutex_);
    reads_.push_back(data);
  }
  record("read " + std::to_string(tag) + " " + data.toString());
  if (onRead) onRead(sock, data, tag);
}

void Recorder::socketDidReadPartialDataOfLength(const std::shared_ptr<DispatchSocket>&,
                                                std::size_t partialLength, long tag) {
  record("partial-read " + std::to_string(tag) + " " + std::to_string(partialLength));
}

void Recorder::socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>&, long tag) {
  record("write " + std::to_string(tag));
}

void Recorder::socketDidWritePartialDataOfLength(const std::shared_ptr<DispatchSocket>&,
                                                 std::size_t partialLength, long tag) {
  record("partial-write " + std::to_string(tag) + " " + std::to_string(partialLength));
}

void Recorder::socketDidCloseReadStream(const std::shared_ptr<DispatchSocket>&) {
  record("close-read-stream");
}

void Recorder::socketDidDisconnect(const std::shared_ptr<DispatchSocket>&,
                                   const std::optional<platform::Error>& err) {
  {
    MutexLock lock(mutex_);
    disconnectError_ = err;
  }
  record(describe(err));
}

std::vector<std::string> Recorder::events() const {
  MutexLock lock(mutex_);
  return events_;
}

std::vector<std::string> Recorder::eventsStartingWith(const std::string& prefix) const {
  MutexLock lock(mutex_);
  std::vector<std::string> result;
  for (const auto& e : events_)
    if (e.rfind(prefix, 0) == 0) result.push_back(e);
  return result;
}

std::vector<std::shared_ptr<DispatchSocket>> Recorder::accepted() const {
  MutexLock lock(mutex_);
  return accepted_;
}

std::vector<SocketData> Recorder::reads() const {
  MutexLock lock(mutex_);
  return reads_;
}

std::optional<platform::Error> Recorder::disconnectError() const {
  MutexLock lock(mutex_);
  return disconnectError_;
}

bool Recorder::waitFor(const std::function<bool(const std::vector<std::string>&)>& done) {
  MutexLock lock(mutex_);
  return changed_.wait_for(lock.native(), kPatience,
                           [&]() REQUIRES(mutex_) { return done(events_); });
}

std::size_t Recorder::countLocked(const std::string& prefix) const {
  return static_cast<std::size_t>(
      std::count_if(events_.begin(), events_.end(),
                    [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
}

bool Recorder::waitForCount(const std::string& prefix, std::size_t n) {
  MutexLock lock(mutex_);
  return changed_.wait_for(lock.native(), kPatience,
                           [&]() REQUIRES(mutex_) { return countLocked(prefix) >= n; });
}

bool Recorder::quietFor(const std::string& prefix, int ms) {
  MutexLock lock(mutex_);
  std::size_t before = countLocked(prefix);
  return !changed_.wait_for(lock.native(), std::chrono::milliseconds(ms),
                            [&]() REQUIRES(mutex_) { return countLocked(prefix) > before; });
}

std::optional<double> ExtendingRecorder::socketShouldTimeoutReadWithTag(
    const std::shared_ptr<DispatchSocket>&, long tag, double elapsed, std::size_t length) {
  record("should-timeout-read " + std::to_string(tag) + " " +
         std::to_string(static_cast<int>(elapsed)) + " " + std::to_string(length));
  return extension_;
}

std::optional<double> ExtendingRecorder::socketShouldTimeoutWriteWithTag(
    const std::shared_ptr<DispatchSocket>&, long tag, double elapsed, std::size_t) {
  record("should-timeout-write " + std::to_string(tag) + " " +
         std::to_string(static_cast<int>(elapsed)));
  return extension_;
}

// --- Client --------------------------------------------------------------------------------------

Client::Client(const std::string& host, std::uint16_t port, int receiveBuffer) {
  socklen_t length = 0;
  auto address = socketAddress(host, port, &length);
  fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket: " + std::string(strerror(errno)));
  if (receiveBuffer > 0)
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0)
    throw std::runtime_error("connect: " + std::string(strerror(errno)));
}

Client::~Client() {
  if (fd_ >= 0) ::close(fd_);
}

void Client::send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    if (!pollFor(fd_, POLLOUT)) throw std::runtime_error("client send stalled");
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) throw std::runtime_error("send: " + std::string(strerror(errno)));
    sent += static_cast<std::size_t>(n);
  }
}

std::string Client::receive(std::size_t n) {
  std::string result;
  char buffer[65536];
  while (result.size() < n) {
    if (!pollFor(fd_, POLLIN)) break;
    ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, n - result.size()), 0);
    if (got <= 0) break;
    result.append(buffer, static_cast<std::size_t>(got));
  }
  return result;
}

bool Client::waitForClose() {
  char buffer[4096];
  while (pollFor(fd_, POLLIN)) {
    ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return true;
  }
  return false;
}

void Client::shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

void Client::reset() {
  linger hard{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd_);
  fd_ = -1;
}

// --- Server --------------------------------------------------------------------------------------

Server::Server(const std::string& host, std::shared_ptr<Recorder> r)
    : recorder(std::move(r)), delegateQueue(platform::dispatch::Queue::serial("test.delegate")) {
  listener = DispatchSocket::create(recorder, delegateQueue);
  platform::Error err;
  if (!listener->acceptOnInterface(host, 0, &err))
    throw std::runtime_error("listen: " + err.localizedDescription());
  port = listener->localPort();
}

Server::~Server() {
  listener->disconnect();
  for (auto& sock : recorder->accepted()) sock->disconnect();
  drain(delegateQueue);
}

std::shared_ptr<DispatchSocket> Server::accepted(std::size_t n) {
  if (!recorder->waitForCount("accept", n)) return nullptr;
  return recorder->accepted()[n - 1];
}

// --- Fixtures ------------------------------------------------------------------------------------

void FamilyTest::SetUp() {
  if (!loopbackAvailable(GetParam())) GTEST_SKIP() << GetParam() << " is not available here";
}

std::string familyName(const testing::TestParamInfo<std::string>& info) {
  return info.param == "::1" ? "IPv6" : "IPv4";
}

void ConnectionTest::connect(std::shared_ptr<Recorder> recorder, int clientReceiveBuffer) {
  server = std::make_unique<Server>(GetParam(), std::move(recorder));
  client = std::make_unique<Client>(GetParam(), server->port, clientReceiveBuffer);
  sock = server->accepted();
  ASSERT_TRUE(sock);
}

void ConnectionTest::awaitCurrentRead() {
  ASSERT_FALSE(std::isnan(sock->progressOfReadReturningTag(nullptr, nullptr, nullptr)));
}

std::vector<std::string> withoutAccept(std::vector<std::string> events) {
  std::erase(events, "accept");
  return events;
}

// --- Helpers -------------------------------------------------------------------------------------

bool loopbackAvailable(const std::string& host) {
  socklen_t length = 0;
  auto address = socketAddress(host, 0, &length);
  int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}

namespace {

std::vector<std::string> openDescriptors() {
  std::vector<std::string> entries;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return entries;
  const int own = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
    char target[256] = {};
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(path.c_str(), target, sizeof target - 1) < 0) continue;
    std::string described = std::string(entry->d_name) + " -> " + target;
    // Every eventfd links to one shared inode; the kernel numbers each apart in its info.
    if (described.ends_with("[eventfd]")) {
      std::ifstream info(std::string("/proc/self/fdinfo/") + entry->d_name);
      for (std::string line; std::getline(info, line);)
        if (line.starts_with("eventfd-id:")) described += " " + line;
    }
    entries.push_back(described);
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

DescriptorSnapshot::DescriptorSnapshot() : entries_(openDescriptors()) {}

std::vector<std::string> DescriptorSnapshot::openedSince() const {
  std::vector<std::string> opened;
  auto now = openDescriptors();
  std::set_difference(now.begin(), now.end(), entries_.begin(), entries_.end(),
                      std::back_inserter(opened));
  return opened;
}

std::vector<std::string> DescriptorSnapshot::closedSince() const {
  std::vector<std::string> closed;
  auto now = openDescriptors();
  std::set_difference(entries_.begin(), entries_.end(), now.begin(), now.end(),
                      std::back_inserter(closed));
  return closed;
}

testing::AssertionResult waitForDescriptorsToClose(const DescriptorSnapshot& before,
                                                   const std::vector<int>& closing) {
  auto opened = waitForDescriptorsClosedSince(before);
  if (!opened) return opened;
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    auto closed = before.closedSince();
    std::vector<int> left;
    for (int fd : closing) {
      bool gone = std::any_of(closed.begin(), closed.end(), [fd](const std::string& entry) {
        return std::atoi(entry.c_str()) == fd;
      });
      if (!gone) left.push_back(fd);
    }
    if (left.empty()) return testing::AssertionSuccess();
    if (std::chrono::steady_clock::now() > deadline) {
      auto failure = testing::AssertionFailure() << "still open:";
      for (int fd : left) failure << " " << fd;
      return failure;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a polling interval
  }
}

testing::AssertionResult waitForDescriptorsClosedSince(const DescriptorSnapshot& before,
                                                       const std::vector<int>& kept) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    auto opened = before.openedSince();
    std::erase_if(opened, [&kept](const std::string& entry) {
      return std::find(kept.begin(), kept.end(), std::atoi(entry.c_str())) != kept.end();
    });
    if (opened.empty()) return testing::AssertionSuccess();
    if (std::chrono::steady_clock::now() > deadline) {
      auto failure = testing::AssertionFailure() << "still open:";
      for (const auto& entry : opened) failure << " " << entry;
      return failure;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a polling interval
  }
}

void drain(const std::shared_ptr<platform::dispatch::Queue>& queue) {
  queue->sync([] {});
}

}  // namespace sockettest
