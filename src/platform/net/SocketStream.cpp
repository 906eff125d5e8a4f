#include "platform/net/SocketStream.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

// What both halves share: the descriptor and where the connection stands.
struct SocketStream::Connection {
  enum class State { Idle, Connecting, Connected, Failed };

  ~Connection() {
    if (closeNative && descriptor >= 0) ::close(descriptor);
  }

  // Starts a connection to host:port once, for whichever half opens first.
  void start() {
    if (state != State::Idle) return;
    if (descriptor >= 0) {
      state = State::Connecting;  // connected or connecting: the first writable poll tells
      return;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (host == "localhost") hints.ai_flags = AI_NUMERICHOST;
    std::string name = host == "localhost" ? "127.0.0.1" : host;
    addrinfo* results = nullptr;
    int gai = ::getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &results);
    if (gai != 0) {
      state = State::Failed;
      error = gai == EAI_SYSTEM ? StreamError{StreamErrorDomain::POSIX, errno}
                                : StreamError{StreamErrorDomain::NetDB, gai};
      return;
    }
    int lastErrno = ECONNREFUSED;
    for (addrinfo* ai = results; ai; ai = ai->ai_next) {
      int fd =
          ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
      if (fd < 0) {
        lastErrno = errno;
        continue;
      }
      if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == EINPROGRESS) {
        descriptor = fd;
        // A socket the pair made is always the pair's to close.
        closeNative = true;
        break;
      }
      lastErrno = errno;
      ::close(fd);
    }
    ::freeaddrinfo(results);
    if (descriptor < 0) {
      state = State::Failed;
      error = {StreamErrorDomain::POSIX, lastErrno};
      return;
    }
    state = State::Connecting;
  }

  // Moves Connecting on when the socket has become writable (or failed); `wait` blocks for it.
  void poll(bool wait) {
    if (state != State::Connecting) return;
    pollfd p{descriptor, POLLOUT, 0};
    int n;
    do {
      n = ::poll(&p, 1, wait ? -1 : 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
    if (soError == 0 && (p.revents & POLLNVAL)) soError = EBADF;
    if (soError != 0) {
      state = State::Failed;
      error = {StreamErrorDomain::POSIX, soError};
      return;
    }
    state = State::Connected;
  }

  int descriptor = -1;
  std::string host;
  std::uint16_t port = 0;
  bool closeNative = false;
  State state = State::Idle;
  StreamError error;
};

std::pair<SocketStream::ReadStream, SocketStream::WriteStream> SocketStream::makePair(
    std::shared_ptr<Connection> connection) {
  ReadStream read(new SocketStream(connection, true));
  WriteStream write(new SocketStream(connection, false));
  return {read, write};
}

std::pair<SocketStream::ReadStream, SocketStream::WriteStream> SocketStream::createPairWithSocket(
    int descriptor) {
  if (descriptor < 0) return {};
  auto connection = std::make_shared<Connection>();
  connection->descriptor = descriptor;
  return makePair(connection);
}

std::pair<SocketStream::ReadStream, SocketStream::WriteStream> SocketStream::createPairWithHost(
    const std::string& host, std::uint16_t port) {
  if (host.empty()) return {};
  auto connection = std::make_shared<Connection>();
  connection->host = host;
  connection->port = port;
  return makePair(connection);
}

SocketStream::SocketStream(std::shared_ptr<Connection> connection, bool reading)
    : connection_(std::move(connection)), reading_(reading) {}

SocketStream::~SocketStream() {
  if (source_) source_->invalidate();
}

StreamStatus SocketStream::status() {
  checkOpening();
  return status_;
}

bool SocketStream::open() {
  if (status_ != StreamStatus::NotOpen) return false;
  status_ = StreamStatus::Opening;
  connection_->start();
  checkOpening();
  if (status_ == StreamStatus::Error) return false;
  updateInterest();
  return true;
}

void SocketStream::checkOpening() {
  if (status_ != StreamStatus::Opening) return;
  connection_->poll(false);
  switch (connection_->state) {
    case Connection::State::Connected:
      status_ = StreamStatus::Open;
      break;
    case Connection::State::Failed:
      fail(connection_->error);
      break;
    default:
      break;
  }
}

void SocketStream::fail(StreamError error) {
  status_ = StreamStatus::Error;
  error_ = error;
  updateInterest();
}

ssize_t SocketStream::read(std::uint8_t* buffer, std::size_t length) {
  if (!reading_) return -1;
  if (status_ == StreamStatus::Opening) connection_->poll(true);
  checkOpening();
  if (status_ == StreamStatus::AtEnd) return 0;
  if (status_ != StreamStatus::Open) return -1;
  signalled_ = false;
  updateInterest();
  while (true) {
    ssize_t n = ::recv(connection_->descriptor, buffer, length, 0);
    if (n > 0) return n;
    if (n == 0) {
      status_ = StreamStatus::AtEnd;
      updateInterest();
      postEvent(kStreamEventEndEncountered);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd p{connection_->descriptor, POLLIN, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    fail({StreamErrorDomain::POSIX, errno});
    postEvent(kStreamEventErrorOccurred);
    return -1;
  }
}

void SocketStream::postEvent(unsigned event) {
  // Reported from the run loop, as the events found by watching the descriptor are.
  for (auto& [weakLoop, mode] : schedule_) {
    auto loop = weakLoop.lock();
    if (!loop) continue;
    std::vector<std::string> modes;
    for (auto& [otherLoop, otherMode] : schedule_) {
      if (otherLoop.lock() == loop) modes.push_back(otherMode);
    }
    std::weak_ptr<SocketStream> weak = weak_from_this();
    loop->perform(
        [weak, event] {
          if (auto self = weak.lock()) self->notify(event);
        },
        modes);
    return;
  }
}

ssize_t SocketStream::write(const std::uint8_t* buffer, std::size_t length) {
  if (reading_) return -1;
  if (status_ == StreamStatus::Opening) connection_->poll(true);
  checkOpening();
  if (status_ != StreamStatus::Open) return -1;
  signalled_ = false;
  updateInterest();
  while (true) {
    ssize_t n = ::send(connection_->descriptor, buffer, length, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd p{connection_->descriptor, POLLOUT, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    fail({StreamErrorDomain::POSIX, errno});
    postEvent(kStreamEventErrorOccurred);
    return -1;
  }
}

bool SocketStream::hasBytesAvailable() {
  if (!reading_ || status() != StreamStatus::Open) return false;
  pollfd p{connection_->descriptor, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
}

bool SocketStream::canAcceptBytes() {
  if (reading_ || status() != StreamStatus::Open) return false;
  pollfd p{connection_->descriptor, POLLOUT, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLOUT);
}

void SocketStream::close() {
  if (status_ == StreamStatus::Closed) return;
  status_ = StreamStatus::Closed;
  client_.reset();
  clientEvents_ = kStreamEventNone;
  if (source_) {
    for (auto& [weakLoop, mode] : schedule_) {
      if (auto loop = weakLoop.lock()) loop->removeSource(source_, mode);
    }
    source_->invalidate();
    source_.reset();
  }
  schedule_.clear();
}

bool SocketStream::setClient(unsigned events, Client client) {
  if (!client) events = kStreamEventNone;
  clientEvents_ = events;
  client_ = client ? std::make_shared<Client>(std::move(client)) : nullptr;
  updateInterest();
  return true;
}

void SocketStream::scheduleInRunLoop(const std::shared_ptr<RunLoop>& loop,
                                     const std::string& mode) {
  if (!loop || status_ == StreamStatus::Closed) return;
  if (!source_) {
    std::weak_ptr<SocketStream> weak = weak_from_this();
    // The descriptor of a host pair is not known yet: the source is made again on open.
    source_ = RunLoopSource::create(connection_->descriptor, 0, [weak](unsigned events) {
      if (auto self = weak.lock()) self->onReady(events);
    });
  }
  schedule_.emplace_back(loop, mode);
  loop->addSource(source_, mode);
  updateInterest();
}

void SocketStream::unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& loop,
                                         const std::string& mode) {
  if (!loop) return;
  std::erase_if(schedule_, [&](const auto& entry) {
    return entry.first.lock() == loop && entry.second == mode;
  });
  if (source_) loop->removeSource(source_, mode);
}

std::optional<Value> SocketStream::property(const std::string& name) const {
  if (name == kStreamPropertyShouldCloseNativeSocket) return Value(connection_->closeNative);
  if (name == kStreamPropertySocketNativeHandle) {
    if (connection_->descriptor < 0) return std::nullopt;
    Bytes bytes(sizeof(int));
    std::memcpy(bytes.data(), &connection_->descriptor, sizeof(int));
    return Value(std::move(bytes));
  }
  if (name == kStreamPropertyNetworkServiceType && serviceType_) return Value(*serviceType_);
  return std::nullopt;
}

bool SocketStream::setProperty(const std::string& name, const Value& value) {
  if (name == kStreamPropertyShouldCloseNativeSocket) {
    connection_->closeNative = value.boolValue();
    return true;
  }
  if (name == kStreamPropertyNetworkServiceType && value.asText() &&
      *value.asText() == kStreamNetworkServiceTypeVoIP) {
    serviceType_ = *value.asText();
    return true;
  }
  return false;
}

void SocketStream::updateInterest() {
  if (!source_) return;
  // A host pair's descriptor appears on open: the source must watch that one.
  if (source_->descriptor() != connection_->descriptor && connection_->descriptor >= 0) {
    auto old = source_;
    std::weak_ptr<SocketStream> weak = weak_from_this();
    source_ = RunLoopSource::create(connection_->descriptor, 0, [weak](unsigned events) {
      if (auto self = weak.lock()) self->onReady(events);
    });
    for (auto& [weakLoop, mode] : schedule_) {
      if (auto loop = weakLoop.lock()) {
        loop->removeSource(old, mode);
        loop->addSource(source_, mode);
      }
    }
    old->invalidate();
  }
  unsigned interest = 0;
  if (connection_->descriptor >= 0 && client_) {
    if (status_ == StreamStatus::Opening || (status_ == StreamStatus::Open && !openReported_)) {
      // Writable means connected (or failed): the open is reported from there.
      interest = RunLoopSource::kWritable;
    } else if (status_ == StreamStatus::Open && !signalled_) {
      interest = reading_ ? RunLoopSource::kReadable : RunLoopSource::kWritable;
    }
  }
  source_->setInterest(interest);
}

void SocketStream::onReady(unsigned) {
  checkOpening();
  if (status_ == StreamStatus::Error) {
    openReported_ = true;
    notify(kStreamEventErrorOccurred);
    return;
  }
  if (status_ != StreamStatus::Open) return;
  if (!openReported_) {
    openReported_ = true;
    updateInterest();
    notify(kStreamEventOpenCompleted);
    return;
  }
  if (signalled_) return;
  if (!reading_) {
    signalled_ = true;
    updateInterest();
    notify(kStreamEventCanAcceptBytes);
    return;
  }
  // Readable: bytes, the end, or an error; a peek tells which without taking anything.
  std::uint8_t probe;
  ssize_t n = ::recv(connection_->descriptor, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) {
    signalled_ = true;
    updateInterest();
    notify(kStreamEventHasBytesAvailable);
  } else if (n == 0) {
    status_ = StreamStatus::AtEnd;
    updateInterest();
    notify(kStreamEventEndEncountered);
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    fail({StreamErrorDomain::POSIX, errno});
    notify(kStreamEventErrorOccurred);
  }
}

void SocketStream::notify(unsigned event) {
  if (!(clientEvents_ & event) || !client_) return;
  auto client = client_;  // the client may replace itself or close the stream
  (*client)(*this, event);
}

}  // namespace platform
