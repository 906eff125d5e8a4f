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

#include "platform/foundation/Assert.h"
#include "platform/security/SslContext.h"
#include "platform/security/SslStatus.h"

namespace platform {

// What both halves share: the descriptor and where the connection stands.
struct SocketStream::Connection {
  enum class State { Idle, Connecting, Connected, Failed };

  ~Connection() {
    // The closing alert goes out best effort, while the descriptor is still open.
    if (ssl && descriptor >= 0) ssl->close();
    if (closeNative && descriptor >= 0) ::close(descriptor);
  }

  // The TLS engine's I/O functions: encrypted bytes straight from and to the descriptor.
  int sslRead(void* data, std::size_t* length) {
    if (!givenBack.empty()) {
      std::size_t n = std::min(*length, givenBack.size());
      bool all = n == *length;
      std::memcpy(data, givenBack.data(), n);
      givenBack.erase(givenBack.begin(), givenBack.begin() + static_cast<long>(n));
      *length = n;
      return all ? security::kSslNoErr : security::errSSLWouldBlock;
    }
    ssize_t n = ::recv(descriptor, data, *length, MSG_DONTWAIT);
    if (n > 0) {
      bool all = static_cast<std::size_t>(n) == *length;
      *length = static_cast<std::size_t>(n);
      return all ? security::kSslNoErr : security::errSSLWouldBlock;
    }
    *length = 0;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      return security::errSSLWouldBlock;
    }
    return security::errSSLClosedAbort;
  }

  int sslWrite(const void* data, std::size_t* length) {
    ssize_t n = ::send(descriptor, data, *length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      bool all = static_cast<std::size_t>(n) == *length;
      *length = static_cast<std::size_t>(n);
      if (!all) sslWantsWrite = true;
      return all ? security::kSslNoErr : security::errSSLWouldBlock;
    }
    *length = 0;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      sslWantsWrite = true;
      return security::errSSLWouldBlock;
    }
    return security::errSSLClosedAbort;
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
  // The two halves, for what one of them learns for both (the TLS handshake's end).
  std::weak_ptr<SocketStream> halves[2];
  // TLS once settings are taken: the engine, whether its handshake runs, whether its last step
  // waited to write, and decrypted bytes no read took yet.
  std::unique_ptr<security::SslContext> ssl;
  bool handshaking = false;
  bool sslWantsWrite = false;
  Bytes plain;
  // Encrypted bytes the owner read from the descriptor before the session started; the engine
  // takes them first.
  Bytes givenBack;
};

std::pair<SocketStream::ReadStream, SocketStream::WriteStream> SocketStream::makePair(
    std::shared_ptr<Connection> connection) {
  ReadStream read(new SocketStream(connection, true));
  WriteStream write(new SocketStream(connection, false));
  connection->halves[0] = read;
  connection->halves[1] = write;
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

void SocketStream::assertOnOwner(const char* operation) const {
  if (schedule_.empty()) return;  // not yet handed to a run loop: still being set up
  for (const auto& [weakLoop, mode] : schedule_) {
    auto loop = weakLoop.lock();
    if (loop && loop->isCurrent()) return;
  }
  assertThat(false, std::string(operation) +
                        " must run on the thread of a run loop the stream is scheduled on");
}

StreamStatus SocketStream::status() {
  assertOnOwner("SocketStream::status");
  checkOpening();
  return status_;
}

bool SocketStream::open() {
  assertOnOwner("SocketStream::open");
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
  assertOnOwner("SocketStream::read");
  if (!reading_) return -1;
  if (status_ == StreamStatus::Opening) connection_->poll(true);
  checkOpening();
  if (status_ == StreamStatus::AtEnd) return 0;
  if (status_ != StreamStatus::Open) return -1;
  signalled_ = false;
  updateInterest();
  if (connection_->ssl) {
    auto& plain = connection_->plain;
    while (plain.empty()) {
      if (connection_->handshaking) return -1;
      int status = fillPlain();
      if (!plain.empty()) break;
      if (status == security::errSSLClosedGraceful) {
        status_ = StreamStatus::AtEnd;
        updateInterest();
        postEvent(kStreamEventEndEncountered);
        return 0;
      }
      if (status != security::kSslNoErr && status != security::errSSLWouldBlock) {
        fail({StreamErrorDomain::SSL, status});
        postEvent(kStreamEventErrorOccurred);
        return -1;
      }
      pollfd p{connection_->descriptor, POLLIN, 0};
      ::poll(&p, 1, -1);
    }
    std::size_t n = std::min(length, plain.size());
    std::memcpy(buffer, plain.data(), n);
    plain.erase(plain.begin(), plain.begin() + static_cast<long>(n));
    postBytesCheck();
    return static_cast<ssize_t>(n);
  }
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
  assertOnOwner("SocketStream::write");
  if (reading_) return -1;
  if (status_ == StreamStatus::Opening) connection_->poll(true);
  checkOpening();
  if (status_ != StreamStatus::Open) return -1;
  signalled_ = false;
  updateInterest();
  if (connection_->ssl) {
    if (connection_->handshaking) return -1;
    std::size_t processed = 0;
    int status = connection_->ssl->write(buffer, length, &processed);
    // Would-block means the engine took the bytes and sends them as the descriptor allows.
    if (status == security::kSslNoErr) return static_cast<ssize_t>(processed);
    if (status == security::errSSLWouldBlock) return static_cast<ssize_t>(length);
    fail({StreamErrorDomain::SSL, status});
    postEvent(kStreamEventErrorOccurred);
    return -1;
  }
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
  assertOnOwner("SocketStream::hasBytesAvailable");
  if (!reading_ || status() != StreamStatus::Open) return false;
  if (connection_->ssl) {
    if (connection_->handshaking) return false;
    if (connection_->plain.empty()) fillPlain();
    return !connection_->plain.empty();
  }
  pollfd p{connection_->descriptor, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
}

bool SocketStream::canAcceptBytes() {
  assertOnOwner("SocketStream::canAcceptBytes");
  if (reading_ || status() != StreamStatus::Open) return false;
  if (connection_->ssl) {
    if (connection_->handshaking) return false;
    // Encrypted bytes still waiting go first.
    std::size_t processed = 0;
    if (connection_->ssl->write(nullptr, 0, &processed) != security::kSslNoErr) return false;
  }
  pollfd p{connection_->descriptor, POLLOUT, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLOUT);
}

void SocketStream::close() {
  assertOnOwner("SocketStream::close");
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
  assertOnOwner("SocketStream::setClient");
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

void SocketStream::giveBackForTLS(const Bytes& bytes) {
  assertOnOwner("SocketStream::giveBackForTLS");
  auto& givenBack = connection_->givenBack;
  givenBack.insert(givenBack.end(), bytes.begin(), bytes.end());
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
  assertOnOwner("SocketStream::setProperty");
  if (name == kStreamPropertySSLSettings) {
    const Dictionary* settings = value.asDictionary();
    return settings && startTLS(*settings);
  }
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
  if (connection_->handshaking) {
    // The read half drives the handshake; neither half has events for its client meanwhile.
    if (reading_ && status_ == StreamStatus::Open) {
      interest =
          RunLoopSource::kReadable | (connection_->sslWantsWrite ? RunLoopSource::kWritable : 0u);
    }
  } else if (connection_->descriptor >= 0 && client_) {
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
  if (connection_->handshaking) {
    continueHandshake();
    return;
  }
  if (signalled_) return;
  if (!reading_) {
    if (connection_->ssl && !canAcceptBytes()) return;  // still flushing the engine's bytes
    signalled_ = true;
    updateInterest();
    notify(kStreamEventCanAcceptBytes);
    return;
  }
  if (connection_->ssl) {
    // Readable may be a record without data for us (a session ticket): only decrypted bytes
    // make an event.
    int status = connection_->plain.empty() ? fillPlain() : security::kSslNoErr;
    if (!connection_->plain.empty()) {
      signalled_ = true;
      updateInterest();
      notify(kStreamEventHasBytesAvailable);
    } else if (status == security::errSSLClosedGraceful) {
      status_ = StreamStatus::AtEnd;
      updateInterest();
      notify(kStreamEventEndEncountered);
    } else if (status != security::kSslNoErr && status != security::errSSLWouldBlock) {
      fail({StreamErrorDomain::SSL, status});
      notify(kStreamEventErrorOccurred);
    }
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

bool SocketStream::startTLS(const Dictionary& settings) {
  // One session per pair: the other half's settings already started it.
  if (connection_->ssl) return true;
  if (status() != StreamStatus::Open || connection_->descriptor < 0) return false;
  auto flag = [&](const char* key, bool fallback) {
    const Value* v = find(settings, key);
    return v ? v->boolValue() : fallback;
  };
  auto side = flag(kStreamSSLIsServer, false) ? security::SslProtocolSide::kServerSide
                                              : security::SslProtocolSide::kClientSide;
  auto ssl = security::SslContext::create(side);
  if (!ssl) return false;
  if (const Value* name = find(settings, kStreamSSLPeerName); name && name->asText()) {
    if (ssl->setPeerDomainName(*name->asText()) != security::kSslNoErr) return false;
  }
  if (const Value* certificates = find(settings, kStreamSSLCertificates)) {
    if (!certificates->asArray() ||
        ssl->setCertificate(*certificates->asArray()) != security::kSslNoErr) {
      return false;
    }
  }
  ssl->setValidatesCertificateChain(flag(kStreamSSLValidatesCertificateChain, true));
  ssl->setAllowsAnyRoot(flag(kStreamSSLAllowsAnyRoot, false));
  ssl->setAllowsExpiredRoots(flag(kStreamSSLAllowsExpiredRoots, false));
  ssl->setAllowsExpiredCertificates(flag(kStreamSSLAllowsExpiredCertificates, false));
  Connection* connection = connection_.get();
  ssl->setIOFuncs(
      [connection](void* data, std::size_t* length) { return connection->sslRead(data, length); },
      [connection](const void* data, std::size_t* length) {
        return connection->sslWrite(data, length);
      });
  connection_->ssl = std::move(ssl);
  connection_->handshaking = true;
  // The client speaks first: its first step must run without anything to read.
  connection_->sslWantsWrite = true;
  for (auto& weakHalf : connection_->halves) {
    if (auto half = weakHalf.lock()) {
      half->signalled_ = false;
      half->updateInterest();
    }
  }
  return true;
}

void SocketStream::continueHandshake() {
  connection_->sslWantsWrite = false;
  int status = connection_->ssl->handshake();
  if (status == security::errSSLWouldBlock) {
    updateInterest();
    return;
  }
  connection_->handshaking = false;
  std::shared_ptr<SocketStream> halves[2] = {connection_->halves[0].lock(),
                                             connection_->halves[1].lock()};
  for (auto& half : halves) {
    if (!half) continue;
    if (status == security::kSslNoErr) {
      half->signalled_ = false;
      half->updateInterest();
    } else {
      half->fail({StreamErrorDomain::SSL, status});
    }
  }
  if (status == security::kSslNoErr) {
    postBytesCheck();
    return;
  }
  for (auto& half : halves) {
    if (half) half->notify(kStreamEventErrorOccurred);
  }
}

int SocketStream::fillPlain() {
  std::uint8_t chunk[16384];
  std::size_t processed = 0;
  int status = connection_->ssl->read(chunk, sizeof chunk, &processed);
  connection_->plain.insert(connection_->plain.end(), chunk, chunk + processed);
  return status;
}

void SocketStream::postBytesCheck() {
  if (!connection_->ssl || connection_->handshaking) return;
  if (connection_->plain.empty() && connection_->ssl->bufferedReadSize() == 0 &&
      connection_->givenBack.empty()) {
    return;
  }
  auto reader = connection_->halves[0].lock();
  if (!reader) return;
  for (auto& [weakLoop, firstMode] : reader->schedule_) {
    auto loop = weakLoop.lock();
    if (!loop) continue;
    RunLoopModes modes;
    for (auto& [otherLoop, mode] : reader->schedule_) {
      if (otherLoop.lock() == loop) modes.push_back(mode);
    }
    std::weak_ptr<SocketStream> weak = reader;
    loop->perform(
        [weak] {
          auto self = weak.lock();
          // Told only while bytes still wait and no event is outstanding.
          if (!self || self->signalled_ || !self->hasBytesAvailable()) return;
          self->signalled_ = true;
          self->updateInterest();
          self->notify(kStreamEventHasBytesAvailable);
        },
        modes);
    return;
  }
}

void SocketStream::notify(unsigned event) {
  if (!(clientEvents_ & event) || !client_) return;
  auto client = client_;  // the client may replace itself or close the stream
  (*client)(*this, event);
}

}  // namespace platform
