#pragma once
// What the socket tests drive DispatchSocket with: a delegate that records every event in order
// and lets a test wait for them, a plain blocking client socket on loopback, and a listening
// server made of both. Waits end as soon as their condition holds; the limit (real time,
// generous) only bounds a test that has already failed.

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"
#include "sockets/dispatch/DispatchSocket.h"

namespace sockettest {

constexpr auto kPatience = std::chrono::seconds(30);

// Events as text, so a test compares whole sequences:
//   "accept", "connect <host> <port>", "read <tag> <bytes>", "partial-read <tag> <n>", "write
//   <tag>", "partial-write <tag> <n>", "close-read-stream", "disconnect" (no error) or "disconnect
//   <domain> <code>".
class Recorder : public DispatchSocketDelegate {
 public:
  void socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>&,
                                const std::shared_ptr<DispatchSocket>& newSocket) override;
  void socketDidConnectToHost(const std::shared_ptr<DispatchSocket>&, const std::string& host,
                              std::uint16_t port) override;
  void socketDidReadData(const std::shared_ptr<DispatchSocket>& sock, const SocketData& data,
                         long tag) override;
  void socketDidReadPartialDataOfLength(const std::shared_ptr<DispatchSocket>&,
                                        std::size_t partialLength, long tag) override;
  void socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>&, long tag) override;
  void socketDidWritePartialDataOfLength(const std::shared_ptr<DispatchSocket>&,
                                         std::size_t partialLength, long tag) override;
  void socketDidCloseReadStream(const std::shared_ptr<DispatchSocket>&) override;
  void socketDidDisconnect(const std::shared_ptr<DispatchSocket>&,
                           const std::optional<platform::Error>& err) override;

  // Called on the delegate queue after a read is recorded (an echo server, a follow-up read).
  std::function<void(const std::shared_ptr<DispatchSocket>&, const SocketData&, long)> onRead;

  std::vector<std::string> events() const EXCLUDES(mutex_);
  // The events that start with `prefix`.
  std::vector<std::string> eventsStartingWith(const std::string& prefix) const EXCLUDES(mutex_);
  std::vector<std::shared_ptr<DispatchSocket>> accepted() const EXCLUDES(mutex_);
  std::vector<SocketData> reads() const EXCLUDES(mutex_);
  std::optional<platform::Error> disconnectError() const EXCLUDES(mutex_);

  bool waitFor(const std::function<bool(const std::vector<std::string>&)>& done) EXCLUDES(mutex_);
  // Until `n` events start with `prefix`.
  bool waitForCount(const std::string& prefix, std::size_t n) EXCLUDES(mutex_);
  // True when nothing starting with `prefix` arrives within `ms` of real time (for "never
  // reported" checks made after something later has been seen).
  bool quietFor(const std::string& prefix, int ms) EXCLUDES(mutex_);

 protected:
  void record(std::string event) EXCLUDES(mutex_);

 private:
  std::size_t countLocked(const std::string& prefix) const REQUIRES(mutex_);

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_ GUARDED_BY(mutex_);
  std::vector<std::shared_ptr<DispatchSocket>> accepted_ GUARDED_BY(mutex_);
  std::vector<SocketData> reads_ GUARDED_BY(mutex_);
  std::optional<platform::Error> disconnectError_ GUARDED_BY(mutex_);
};

// A recorder that also answers the time-out questions with `extension` seconds, recording
// "should-timeout-read <tag> <elapsed> <bytesDone>" (and "-write").
class ExtendingRecorder : public Recorder {
 public:
  explicit ExtendingRecorder(double extension) : extension_(extension) {}
  std::optional<double> socketShouldTimeoutReadWithTag(const std::shared_ptr<DispatchSocket>&,
                                                       long tag, double elapsed,
                                                       std::size_t length) override;
  std::optional<double> socketShouldTimeoutWriteWithTag(const std::shared_ptr<DispatchSocket>&,
                                                        long tag, double elapsed,
                                                        std::size_t length) override;

 private:
  const double extension_;
};

// A blocking TCP client on loopback; every wait is bounded by kPatience.
class Client {
 public:
  // Connects to `host` ("127.0.0.1" or "::1") on `port`; `receiveBuffer` > 0 shrinks SO_RCVBUF
  // before connecting (a slow reader's small window).
  Client(const std::string& host, std::uint16_t port, int receiveBuffer = 0);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  int fd() const { return fd_; }
  void send(const std::string& bytes);
  // Exactly `n` bytes, or fewer when the peer closed first.
  std::string receive(std::size_t n);
  // True when the peer has closed (EOF or an error) within the patience.
  bool waitForClose();
  void shutdownWrite();
  // Closes with a reset instead of an orderly close.
  void reset();

 private:
  int fd_ = -1;
};

// A listening DispatchSocket on `host`, port chosen by the system, with `recorder` as delegate
// on a serial delegate queue of its own.
struct Server {
  explicit Server(const std::string& host,
                  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>());
  ~Server();
  // Waits for the `n`th accepted socket (1-based).
  std::shared_ptr<DispatchSocket> accepted(std::size_t n = 1);

  std::shared_ptr<Recorder> recorder;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue;
  std::shared_ptr<DispatchSocket> listener;
  std::uint16_t port = 0;
};

// The socket address of the numeric `host` (IPv4 or IPv6) and `port`; `length` its size.
sockaddr_storage socketAddress(const std::string& host, std::uint16_t port, socklen_t* length);
// The same as socket-address data, as the sockets take it.
platform::Bytes addressOf(const std::string& host, std::uint16_t port);
// Tests run once over IPv4 ("127.0.0.1") and once over IPv6 ("::1"), skipped where that
// loopback address cannot be bound.
class FamilyTest : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override;
};
// "IPv4" or "IPv6", for the names of instantiated tests.
std::string familyName(const testing::TestParamInfo<std::string>& info);

// One accepted connection and its client.
class ConnectionTest : public FamilyTest {
 protected:
  // `clientReceiveBuffer` > 0 makes the client a slow reader with a small window.
  void connect(std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(),
               int clientReceiveBuffer = 0);
  Recorder& events() { return *server->recorder; }
  // Requests reach the socket queue asynchronously; a query waits behind them there, so after
  // it the last read requested is current and its timer runs.
  void awaitCurrentRead();

  std::unique_ptr<Server> server;
  std::unique_ptr<Client> client;
  std::shared_ptr<DispatchSocket> sock;
};

// The events without the accepting ones.
std::vector<std::string> withoutAccept(std::vector<std::string> events);

// Whether `host` can be bound on this machine (IPv6 loopback may be absent).
bool loopbackAvailable(const std::string& host);

// The descriptors open at one moment, each by number and what it refers to. Sockets closed
// asynchronously may still hold descriptors of an earlier test; comparing against a snapshot
// judges only the descriptors opened after it, which a count cannot tell from those.
class DescriptorSnapshot {
 public:
  DescriptorSnapshot();
  // The descriptors open now that were not open at the snapshot, e.g. "7 -> socket:[1234]".
  std::vector<std::string> openedSince() const;
  // The descriptors open at the snapshot that are closed now.
  std::vector<std::string> closedSince() const;

 private:
  std::vector<std::string> entries_;
};
// Until every descriptor opened since `before` is closed, apart from those numbered in `kept`.
// Fails with the ones still open.
testing::AssertionResult waitForDescriptorsClosedSince(const DescriptorSnapshot& before,
                                                       const std::vector<int>& kept = {});
// Until the descriptors numbered `closing` at the snapshot are closed, and every descriptor
// opened since is closed as well.
testing::AssertionResult waitForDescriptorsToClose(const DescriptorSnapshot& before,
                                                   const std::vector<int>& closing);
// Runs `work` on `queue` and waits for it, so everything queued there before has run.
void drain(const std::shared_ptr<platform::dispatch::Queue>& queue);

}  // namespace sockettest
