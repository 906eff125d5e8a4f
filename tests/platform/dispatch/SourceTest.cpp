#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include "Descriptors.h"
#include "Probe.h"
#include "platform/dispatch/Source.h"
#include "support/TempHome.h"

using namespace platform;
using namespace platform::dispatch;
using namespace dispatchtest;

namespace {

// A read source whose handler records data() and then reads `perCall` bytes (all when 0).
std::shared_ptr<Source> recordingReader(int fd, const std::shared_ptr<Queue>& q, Probe& probe,
                                        std::size_t perCall = 0) {
  auto source = Source::makeRead(fd, q);
  std::weak_ptr<Source> weak = source;
  source->setEventHandler([weak, fd, &probe, perCall] {
    auto self = weak.lock();
    std::size_t available = self->data();
    probe.add(static_cast<int>(available));
    char buffer[4096];
    std::size_t want = perCall ? perCall : std::max<std::size_t>(available, 1);
    [[maybe_unused]] auto n = ::read(fd, buffer, std::min(want, sizeof buffer));
  });
  return source;
}

void cancelAndWait(const std::shared_ptr<Source>& source, const std::shared_ptr<Queue>& q) {
  source->cancel();
  q->sync([] {});
}

// A socket listening on 127.0.0.1 on a port the system chose, which `addr` receives; -1 on
// failure.
int loopbackListener(sockaddr_in* addr) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  addr->sin_family = AF_INET;
  addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof *addr;
  if (bind(listener, reinterpret_cast<sockaddr*>(addr), sizeof *addr) != 0 ||
      listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(addr), &len) != 0) {
    ::close(listener);
    return -1;
  }
  setNonBlocking(listener);
  return listener;
}

// A read source on `listener` whose handler records data() and then accepts (and closes) every
// connection waiting; it closes the listener when cancelled.
std::shared_ptr<Source> recordingAcceptor(int listener, const std::shared_ptr<Queue>& q,
                                          Probe& probe) {
  auto source = Source::makeRead(listener, q);
  std::weak_ptr<Source> weak = source;
  source->setEventHandler([weak, listener, &probe] {
    probe.add(static_cast<int>(weak.lock()->data()));
    int accepted;
    while ((accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0)
      ::close(accepted);
  });
  source->setCancelHandler([listener] { ::close(listener); });
  return source;
}

}  // namespace

TEST(SourceTest, ReadSourceReportsReadableBytes) {
  Pipe pipe;
  auto q = Queue::serial("reader");
  Probe probe;
  auto source = recordingReader(pipe.read, q, probe);
  source->resume();
  writeAll(pipe.write, "hello");
  ASSERT_TRUE(probe.waitValues(1));
  writeAll(pipe.write, "abc");
  ASSERT_TRUE(probe.waitValues(2));
  EXPECT_EQ(probe.values(), (std::vector<int>{5, 3}));
  cancelAndWait(source, q);
}

TEST(SourceTest, ReadSourceIsLevelTriggered) {
  Pipe pipe;
  auto q = Queue::serial("level");
  Probe probe;
  auto source = recordingReader(pipe.read, q, probe, 1);  // one byte per call
  source->resume();
  writeAll(pipe.write, "12345");
  ASSERT_TRUE(probe.waitValues(5));
  EXPECT_EQ(probe.values(), (std::vector<int>{5, 4, 3, 2, 1}));
  cancelAndWait(source, q);
}

// Bytes that arrive while the handler runs, after it has read everything, come to no idle
// source; the source still hears of them once the handler returns.
TEST(SourceTest, BytesArrivingWhileTheHandlerRunsAreDeliveredAfterIt) {
  Pipe pipe;
  auto q = Queue::serial("during");
  Probe probe;
  auto source = Source::makeRead(pipe.read, q);
  const int readFd = pipe.read;
  const int writeFd = pipe.write;
  source->setEventHandler([readFd, writeFd, &probe] {
    char buffer[64];
    auto n = ::read(readFd, buffer, sizeof buffer);
    probe.add(static_cast<int>(n));
    if (probe.values().size() < 3) writeAll(writeFd, std::string(probe.values().size() + 1, 'x'));
  });
  source->resume();
  writeAll(pipe.write, "a");
  ASSERT_TRUE(probe.waitValues(3));
  EXPECT_EQ(probe.values(), (std::vector<int>{1, 2, 3}));
  cancelAndWait(source, q);
}

TEST(SourceTest, HandlerNeverRunsTwiceAtOnceEvenOnAConcurrentQueue) {
  Pipe pipe;
  auto q = Queue::concurrent("overlap");
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  Probe probe;
  auto source = Source::makeRead(pipe.read, q);
  int fd = pipe.read;
  source->setEventHandler([&, fd] {
    if (running.fetch_add(1) != 0) overlapped = true;
    char c;
    [[maybe_unused]] auto n = ::read(fd, &c, 1);
    running.fetch_sub(1);
    probe.tick();
  });
  source->resume();
  writeAll(pipe.write, std::string(64, 'x'));
  ASSERT_TRUE(probe.waitCount(64));
  EXPECT_FALSE(overlapped);
  Probe cancelled;
  source->setCancelHandler([&cancelled] { cancelled.tick(); });
  source->cancel();  // the cancel handler runs after any handler still in progress
  EXPECT_TRUE(cancelled.waitCount(1));
}

TEST(SourceTest, EndOfStreamReadsAsZeroBytes) {
  Pipe pipe;
  auto q = Queue::serial("eof");
  Probe probe;
  auto source = Source::makeRead(pipe.read, q);
  std::weak_ptr<Source> weak = source;
  source->setEventHandler([weak, &probe] {
    auto self = weak.lock();
    probe.add(static_cast<int>(self->data()));
    self->cancel();  // at end of stream there is nothing more to wait for
  });
  source->resume();
  closeFd(pipe.write);
  ASSERT_TRUE(probe.waitValues(1));
  EXPECT_EQ(probe.values(), std::vector<int>{0});
  q->sync([] {});
}

TEST(SourceTest, WriteSourceFiresWhenThereIsRoom) {
  SocketPair pair;
  setNonBlocking(pair.a);
  auto q = Queue::serial("writer");
  Probe probe;
  auto source = Source::makeWrite(pair.a, q);
  std::weak_ptr<Source> weak = source;
  source->setEventHandler([weak, &probe] {
    auto self = weak.lock();
    self->suspend();  // one report per resume
    probe.add(static_cast<int>(std::min<std::size_t>(self->data(), 1 << 30)));
  });
  source->resume();
  ASSERT_TRUE(probe.waitValues(1));
  EXPECT_GE(probe.values()[0], 1);

  // Fill the connection, so the descriptor is no longer writable.
  std::string chunk(65536, 'z');
  while (::write(pair.a, chunk.data(), chunk.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  source->resume();
  // Drain the peer: room comes back and the source reports it.
  setNonBlocking(pair.b);
  char buffer[65536];
  for (int round = 0; round < 2000 && probe.values().size() < 2; ++round) {
    while (::read(pair.b, buffer, sizeof buffer) > 0) {
    }
    probe.waitValuesFor(2, std::chrono::milliseconds(10));
  }
  ASSERT_EQ(probe.values().size(), 2u);
  EXPECT_GE(probe.values()[1], 1);
  cancelAndWait(source, q);
}

TEST(SourceTest, SuspendedSourceDeliversNothingUntilResumed) {
  Pipe watched, other;
  auto q = Queue::serial("suspend-source");
  Probe watchedProbe, otherProbe;
  auto source = recordingReader(watched.read, q, watchedProbe);
  auto witness = recordingReader(other.read, q, otherProbe);
  source->resume();
  witness->resume();
  q->sync([&] { source->suspend(); });
  writeAll(watched.write, "data");
  writeAll(other.write, "x");
  // The witness's event went through the reactor and the queue; the suspended source had the
  // same chance and took none.
  ASSERT_TRUE(otherProbe.waitValues(1));
  q->sync([] {});
  EXPECT_TRUE(watchedProbe.values().empty());
  source->resume();
  ASSERT_TRUE(watchedProbe.waitValues(1));
  EXPECT_EQ(watchedProbe.values(), std::vector<int>{4});
  cancelAndWait(source, q);
  cancelAndWait(witness, q);
}

TEST(SourceTest, CancelWhileSuspendedRunsTheCancelHandlerOnceAfterResume) {
  Pipe pipe;
  auto q = Queue::serial("cancel-suspended");
  Probe events, cancels;
  auto sentinel = std::make_shared<int>(0);
  std::weak_ptr<int> captured = sentinel;
  auto source = Source::makeRead(pipe.read, q);
  source->setEventHandler([&events, sentinel] { events.tick(); });
  bool cancelOnQueue = false;
  source->setCancelHandler([&cancels, &cancelOnQueue, q, sentinel] {
    cancelOnQueue = Queue::current() == q;
    cancels.tick();
  });
  sentinel.reset();
  writeAll(pipe.write, "ready");
  source->cancel();
  q->sync([] {});
  EXPECT_EQ(cancels.count(), 0u);  // a suspended source runs no handler at all
  EXPECT_TRUE(source->isCancelled());
  source->resume();
  ASSERT_TRUE(cancels.waitCount(1));
  q->sync([] {});
  EXPECT_EQ(cancels.count(), 1u);
  EXPECT_EQ(events.count(), 0u);
  EXPECT_TRUE(cancelOnQueue);
  EXPECT_TRUE(captured.expired());  // both handlers were released
  source->cancel();                 // a second cancel changes nothing
  q->sync([] {});
  EXPECT_EQ(cancels.count(), 1u);
}

TEST(SourceTest, CancelWhileHandlerRunsWaitsForIt) {
  Pipe pipe;
  auto q = Queue::concurrent("cancel-running");
  std::vector<std::string> order;
  std::mutex m;
  auto note = [&](std::string s) {
    std::lock_guard<std::mutex> g(m);
    order.push_back(std::move(s));
  };
  Probe cancelled;
  auto source = Source::makeRead(pipe.read, q);
  std::weak_ptr<Source> weak = source;
  source->setEventHandler([&, weak] {
    note("event-start");
    weak.lock()->cancel();
    note("event-end");
  });
  source->setCancelHandler([&] {
    note("cancel");
    cancelled.tick();
  });
  source->resume();
  writeAll(pipe.write, "go");
  ASSERT_TRUE(cancelled.waitCount(1));
  std::lock_guard<std::mutex> g(m);
  EXPECT_EQ(order, (std::vector<std::string>{"event-start", "event-end", "cancel"}));
}

TEST(SourceTest, ResumedSourceKeepsItselfAliveUntilCancelled) {
  Pipe pipe;
  auto q = Queue::serial("self-held");
  Probe events, cancels;
  auto source = Source::makeRead(pipe.read, q);
  std::weak_ptr<Source> weak = source;
  int fd = pipe.read;
  source->setEventHandler([weak, fd, &events] {
    char buffer[16];
    [[maybe_unused]] auto n = ::read(fd, buffer, sizeof buffer);
    events.tick();
    weak.lock()->cancel();
  });
  source->setCancelHandler([&cancels] { cancels.tick(); });
  source->resume();
  source.reset();
  EXPECT_FALSE(weak.expired());
  writeAll(pipe.write, "wake");
  ASSERT_TRUE(cancels.waitCount(1));
  q->sync([] {});
  EXPECT_EQ(events.count(), 1u);
  EXPECT_TRUE(weak.expired());
}

struct ReuseCase {
  const char* name;
  bool cancelFirst;  // the owner cancels before closing, or closes under a live source
};
void PrintTo(const ReuseCase& c, std::ostream* os) { *os << c.name; }

class DescriptorReuseTest : public testing::TestWithParam<ReuseCase> {};

TEST_P(DescriptorReuseTest, NewSourceOnAReusedNumberGetsOnlyItsOwnEvents) {
  auto q = Queue::serial("reuse");
  Probe oldEvents, newEvents;
  auto first = std::make_unique<Pipe>();
  int number = first->read;
  auto old = recordingReader(first->read, q, oldEvents);
  old->resume();
  if (GetParam().cancelFirst) cancelAndWait(old, q);
  closeFd(first->read);

  Pipe second;
  if (second.read != number) {
    // Another thread of the process took the number; move the new pipe's end onto it.
    ASSERT_EQ(dup3(second.read, number, O_CLOEXEC), number);
    ::close(second.read);
    second.read = number;
  }
  auto fresh = recordingReader(second.read, q, newEvents);
  fresh->resume();
  writeAll(second.write, "new!");
  ASSERT_TRUE(newEvents.waitValues(1));
  q->sync([] {});
  EXPECT_EQ(newEvents.values(), std::vector<int>{4});
  EXPECT_TRUE(oldEvents.values().empty());
  cancelAndWait(fresh, q);
  cancelAndWait(old, q);
}

INSTANTIATE_TEST_SUITE_P(Owners, DescriptorReuseTest,
                         testing::Values(ReuseCase{"CancelThenClose", true},
                                         ReuseCase{"CloseUnderLiveSource", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SourceTest, ReadAndWriteSourcesShareOneDescriptor) {
  SocketPair pair;
  auto q = Queue::serial("shared-fd");
  Probe reads, writes;
  auto reader = recordingReader(pair.a, q, reads);
  auto writer = Source::makeWrite(pair.a, q);
  std::weak_ptr<Source> weakWriter = writer;
  writer->setEventHandler([weakWriter, &writes] {
    weakWriter.lock()->suspend();
    writes.tick();
  });
  reader->resume();
  writer->resume();
  ASSERT_TRUE(writes.waitCount(1));
  writeAll(pair.b, "ping");
  ASSERT_TRUE(reads.waitValues(1));
  EXPECT_EQ(reads.values(), std::vector<int>{4});

  // Cancelling one leaves the other working on the same descriptor.
  cancelAndWait(reader, q);
  writer->resume();
  ASSERT_TRUE(writes.waitCount(2));
  writeAll(pair.b, "more");
  q->sync([] {});
  EXPECT_EQ(reads.values().size(), 1u);
  cancelAndWait(writer, q);
}

TEST(SourceTest, ListeningSocketReportsAWaitingConnection) {
  sockaddr_in addr{};
  int listener = loopbackListener(&addr);
  ASSERT_GE(listener, 0);
  auto q = Queue::serial("accept");
  Probe probe;
  auto source = recordingAcceptor(listener, q, probe);
  source->resume();
  int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_TRUE(probe.waitValues(1));
  EXPECT_GE(probe.values()[0], 1);
  ::close(client);
  cancelAndWait(source, q);
}

// The count lets an acceptor take every waiting connection in one delivery.
TEST(SourceTest, ListeningSocketCountsTheConnectionsWaiting) {
  sockaddr_in addr{};
  int listener = loopbackListener(&addr);
  ASSERT_GE(listener, 0);
  int clients[3];
  for (int& client : clients) {
    client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  auto q = Queue::serial("accept");
  Probe probe;
  auto source = recordingAcceptor(listener, q, probe);
  source->resume();
  ASSERT_TRUE(probe.waitValues(1));
  EXPECT_EQ(probe.values()[0], 3);
  for (int client : clients) ::close(client);
  cancelAndWait(source, q);
}

TEST(SourceTest, RegularFileIsAlwaysReadable) {
  std::string folder = testsupport::makeTempFolder();
  std::string path = folder + "/data.bin";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  writeAll(fd, "0123456789");
  ::lseek(fd, 0, SEEK_SET);
  auto q = Queue::serial("file");
  Probe probe;
  auto source = recordingReader(fd, q, probe, 4);
  source->resume();
  // Readable until the end of the file, and still "readable" (0 bytes) at its end.
  ASSERT_TRUE(probe.waitValues(4));
  auto values = probe.values();
  EXPECT_EQ(std::vector<int>(values.begin(), values.begin() + 4), (std::vector<int>{10, 6, 2, 0}));
  cancelAndWait(source, q);
  ::close(fd);
  ::unlink(path.c_str());
  ::rmdir(folder.c_str());
}

// --- Handlers that read until the descriptor would block ---------------------------------------

namespace {

// Two connected stream sockets, non-blocking on the end a source watches: AF_UNIX, whose writes
// wake the peer's watchers before they return, and TCP over loopback.
struct StreamCase {
  const char* name;
  bool tcp;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class ConnectedStreams {
 public:
  explicit ConnectedStreams(bool tcp) {
    if (tcp) {
      tcp_ = std::make_unique<SocketPair>();
      watched = tcp_->a;
      peer = tcp_->b;
    } else {
      int fds[2];
      if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair");
      watched = fds[0];
      peer = fds[1];
    }
    setNonBlocking(watched);
  }
  ~ConnectedStreams() {
    if (!tcp_) {
      closeFd(watched);
      closeFd(peer);
    }
  }
  int watched = -1;
  int peer = -1;

 private:
  std::unique_ptr<SocketPair> tcp_;
};

// Reads everything `fd` holds now; the count.
int readUntilWouldBlock(int fd) {
  int total = 0;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) total += static_cast<int>(n);
  return total;
}

}  // namespace

class DrainedSourceTest : public testing::TestWithParam<StreamCase> {};

INSTANTIATE_TEST_SUITE_P(Streams, DrainedSourceTest,
                         testing::Values(StreamCase{"Unix", false}, StreamCase{"Tcp", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The race a handler that says it drained must survive: bytes that arrive after its last read
// but before it has returned find the source in flight. Their edge is recorded there and the end
// of the delivery looks again. The handler waits until the reactor has handled an edge made
// after the late bytes' (a second stream), so the late edge surely came while it was in flight.
TEST_P(DrainedSourceTest, BytesArrivingAfterTheLastReadOfADrainedHandlerAreDelivered) {
  ConnectedStreams streams(GetParam().tcp);
  ConnectedStreams marker(GetParam().tcp);
  auto q = Queue::serial("drained");
  auto markerQueue = Queue::serial("marker");
  Probe markerSeen;
  auto markerSource = Source::makeRead(marker.watched, markerQueue);
  markerSource->setEventHandler([fd = marker.watched, &markerSeen] {
    readUntilWouldBlock(fd);
    markerSeen.tick();
  });
  markerSource->resume();

  Probe probe;
  auto source = Source::makeRead(streams.watched, q);
  std::weak_ptr<Source> weak = source;
  source->setEventHandler([&, weak] {
    probe.add(readUntilWouldBlock(streams.watched));
    weak.lock()->markDrained();
    if (probe.values().size() == 1) {
      writeAll(streams.peer, "late");
      writeAll(marker.peer, "m");
      markerSeen.waitCount(1);
    }
  });
  source->resume();
  writeAll(streams.peer, "early");
  ASSERT_TRUE(probe.waitValues(2));
  EXPECT_EQ(probe.values(), (std::vector<int>{5, 4}));
  cancelAndWait(source, q);
  cancelAndWait(markerSource, markerQueue);
}

// A handler that says it drained is not called again until a new edge comes: the source does
// not look at the descriptor after it (here the handler leaves bytes behind on purpose).
TEST_P(DrainedSourceTest, ADrainedHandlerIsNotCalledAgainWithoutANewEdge) {
  ConnectedStreams streams(GetParam().tcp);
  auto q = Queue::serial("no-recheck");
  Probe probe;
  auto source = Source::makeRead(streams.watched, q);
  std::weak_ptr<Source> weak = source;
  source->setEventHandler([fd = streams.watched, &probe, weak] {
    char c;
    probe.add(static_cast<int>(::read(fd, &c, 1)));
    weak.lock()->markDrained();
  });
  source->resume();
  writeAll(streams.peer, "12345");
  ASSERT_TRUE(probe.waitValues(1));
  // A delivery the end of the first one queued would run before the second marker does.
  q->sync([] {});
  q->sync([] {});
  EXPECT_EQ(probe.values(), std::vector<int>{1});
  writeAll(streams.peer, "6");  // a new edge
  ASSERT_TRUE(probe.waitValues(2));
  q->sync([] {});
  q->sync([] {});
  EXPECT_EQ(probe.values(), (std::vector<int>{1, 1}));
  cancelAndWait(source, q);
}
