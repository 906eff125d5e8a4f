#include "sockets/runloop/RunLoopSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/foundation/Assert.h"

using platform::Bytes;
using platform::Error;
using platform::RunLoop;
using platform::RunLoopSource;
using platform::SocketStream;
using platform::StreamStatus;

namespace {

constexpr const char* kNetDBDomain = "kCFStreamErrorDomainNetDB";

void setError(Error* out, Error error) {
  if (out) *out = std::move(error);
}

Error resolverError(int code) {
  return Error::withDescription(kNetDBDomain, code, gai_strerror(code));
}

Bytes bytesOf(const void* address, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(address);
  return Bytes(p, p + length);
}

// Peer or local address of a descriptor as a whole socket address; empty when the call fails.
std::optional<Bytes> addressOf(int fd, bool peer) {
  if (fd < 0) return std::nullopt;
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length)
                : ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
  if (rc != 0) return std::nullopt;
  if (storage.ss_family == AF_INET) return bytesOf(&storage, sizeof(sockaddr_in));
  if (storage.ss_family == AF_INET6) return bytesOf(&storage, sizeof(sockaddr_in6));
  return std::nullopt;
}

std::string hostOf(const std::optional<Bytes>& address) {
  if (!address) return {};
  if (address->size() == sizeof(sockaddr_in)) {
    sockaddr_in a;
    std::memcpy(&a, address->data(), sizeof a);
    return RunLoopSocket::hostFromAddress4(a);
  }
  sockaddr_in6 a;
  std::memcpy(&a, address->data(), sizeof a);
  return RunLoopSocket::hostFromAddress6(a);
}

std::uint16_t portOf(const std::optional<Bytes>& address) {
  if (!address) return 0;
  if (address->size() == sizeof(sockaddr_in)) {
    sockaddr_in a;
    std::memcpy(&a, address->data(), sizeof a);
    return RunLoopSocket::portFromAddress4(a);
  }
  sockaddr_in6 a;
  std::memcpy(&a, address->data(), sizeof a);
  return RunLoopSocket::portFromAddress6(a);
}

int familyOf(const std::optional<Bytes>& address) {
  if (!address || address->size() < sizeof(sa_family_t)) return AF_UNSPEC;
  sa_family_t family;
  std::memcpy(&family, address->data(), sizeof family);
  return family;
}

// How often a system-chosen port is chosen again when IPv6 cannot have the port IPv4 got.
constexpr int kPortChoices = 16;

}  // namespace

RunLoopSocket::RunLoopSocket(std::shared_ptr<RunLoopSocketDelegate> delegate, long userData)
    : theRunLoopModes{platform::kDefaultRunLoopMode},
      theDelegate(std::move(delegate)),
      theFlags(kEnablePreBuffering),
      theUserData(userData) {
  partialReadBuffer.reserve(256);
}

RunLoopSocket::~RunLoopSocket() {
  // A socket that goes away without having been closed still tells its delegate; it can no
  // longer hand itself over, so the delegate hears nothing but a late close of the streams.
  emptyQueues();
  if (theRunLoop) theRunLoop->cancelPerforms(this);
  RunLoop::current()->cancelPerforms(this);
  for (auto* stream : {&theReadStream, &theWriteStream}) {
    if (*stream) (*stream)->close();
  }
  closeListeners();
  if (theConnectTimer) theConnectTimer->invalidate();
}

void RunLoopSocket::raise(const char* reason) const {
  throw platform::Exception(kRunLoopSocketException, reason);
}

Error RunLoopSocket::errorWithCode(ErrorCode code) const {
  const char* text = "General CFSocket error";
  switch (code) {
    case kCanceledError:
      text = "Connection canceled";
      break;
    case kConnectTimeoutError:
      text = "Attempt to connect to host timed out";
      break;
    case kReadMaxedOutError:
      text = "Read operation reached set maximum length";
      break;
    case kReadTimeoutError:
      text = "Read operation timed out";
      break;
    case kWriteTimeoutError:
      text = "Write operation timed out";
      break;
    default:
      break;
  }
  return Error::withDescription(kRunLoopSocketErrorDomain, code, text);
}

void RunLoopSocket::setDelegate(std::shared_ptr<RunLoopSocketDelegate> delegate) {
  theDelegate = std::move(delegate);
}

bool RunLoopSocket::canSafelySetDelegate() const {
  return theReadQueue.empty() && theWriteQueue.empty() && !theCurrentRead && !theCurrentWrite;
}

int RunLoopSocket::getCFSocket() const { return theSocket4 >= 0 ? theSocket4 : theSocket6; }

void RunLoopSocket::enablePreBuffering() { theFlags |= kEnablePreBuffering; }

void RunLoopSocket::checkForThreadSafety() const {
  if (theRunLoop && !theRunLoop->isCurrent()) {
    raise("Attempting to access RunLoopSocket instance from incorrect thread.");
  }
}

bool RunLoopSocket::isDisconnected() const {
  return theNativeSocket4 < 0 && theNativeSocket6 < 0 && theSocket4 < 0 && theSocket6 < 0 &&
         !theReadStream && !theWriteStream;
}

bool RunLoopSocket::isConnected() {
  if (!theReadStream || !theWriteStream) return false;
  StreamStatus r = theReadStream->status();
  StreamStatus w = theWriteStream->status();
  bool readOk = r == StreamStatus::Open || r == StreamStatus::Reading || r == StreamStatus::Error;
  bool writeOk = w == StreamStatus::Open || w == StreamStatus::Writing || w == StreamStatus::Error;
  return readOk && writeOk;
}

bool RunLoopSocket::isIPv4() const { return theNativeSocket4 >= 0 || theSocket4 >= 0; }
bool RunLoopSocket::isIPv6() const { return theNativeSocket6 >= 0 || theSocket6 >= 0; }

// --- Run-loop plumbing ---

void RunLoopSocket::runLoopAddSource(const std::shared_ptr<RunLoopSource>& source) {
  if (!theRunLoop || !source) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->addSource(source, mode);
}

void RunLoopSocket::runLoopRemoveSource(const std::shared_ptr<RunLoopSource>& source) {
  if (!theRunLoop || !source) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->removeSource(source, mode);
}

void RunLoopSocket::runLoopAddTimer(const std::shared_ptr<platform::Timer>& timer) {
  if (!theRunLoop || !timer) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->addTimer(timer, mode);
}

void RunLoopSocket::runLoopRemoveTimer(const std::shared_ptr<platform::Timer>& timer) {
  if (!theRunLoop || !timer) return;
  for (const auto& mode : theRunLoopModes) theRunLoop->removeTimer(timer, mode);
}

void RunLoopSocket::runLoopUnscheduleReadStream() {
  if (!theReadStream) return;
  for (const auto& mode : theRunLoopModes) theReadStream->unscheduleFromRunLoop(theRunLoop, mode);
  theReadStream->setClient(platform::kStreamEventNone, nullptr);
}

void RunLoopSocket::runLoopUnscheduleWriteStream() {
  if (!theWriteStream) return;
  for (const auto& mode : theRunLoopModes) theWriteStream->unscheduleFromRunLoop(theRunLoop, mode);
  theWriteStream->setClient(platform::kStreamEventNone, nullptr);
}

void RunLoopSocket::requireRunLoop(const char* text) const {
  platform::assertThat(!theRunLoop || theRunLoop->isCurrent(), text);
}

void RunLoopSocket::performDeferred(void (RunLoopSocket::*step)()) {
  auto loop = theRunLoop ? theRunLoop : RunLoop::current();
  std::weak_ptr<RunLoopSocket> weak = weak_from_this();
  loop->performAfter(
      platform::Duration::zero(),
      [weak, step] {
        if (auto socket = weak.lock()) ((*socket).*step)();
      },
      this, theRunLoopModes);
}

void RunLoopSocket::afterRunLoopChange() {
  performDeferred(&RunLoopSocket::maybeDequeueRead);
  performDeferred(&RunLoopSocket::maybeDequeueWrite);
  performDeferred(&RunLoopSocket::maybeScheduleDisconnect);
}

bool RunLoopSocket::detachFromRunLoop() {
  if (theRunLoop) theRunLoop->cancelPerforms(this);
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
  bool haveStreams = theReadStream && theWriteStream;
  if (haveStreams) {
    runLoopUnscheduleReadStream();
    runLoopUnscheduleWriteStream();
  }
  runLoopRemoveSource(theSource4);
  runLoopRemoveSource(theSource6);
  runLoopRemoveTimer(theReadTimer);
  runLoopRemoveTimer(theWriteTimer);
  return haveStreams;
}

bool RunLoopSocket::reattachToRunLoop(bool haveStreams,
                                      const std::shared_ptr<RunLoop>& streamRunLoop) {
  runLoopAddTimer(theReadTimer);
  runLoopAddTimer(theWriteTimer);
  runLoopAddSource(theSource4);
  runLoopAddSource(theSource6);
  if (haveStreams && !attachStreamsToRunLoop(streamRunLoop, nullptr)) return false;
  afterRunLoopChange();
  return true;
}

bool RunLoopSocket::moveToRunLoop(const std::shared_ptr<RunLoop>& runLoop) {
  requireRunLoop("moveToRunLoop must be called from within the current RunLoop!");
  if (!runLoop) return false;
  if (theRunLoop == runLoop) return true;
  bool haveStreams = detachFromRunLoop();
  theRunLoop = runLoop;
  return reattachToRunLoop(haveStreams, runLoop);
}

bool RunLoopSocket::setRunLoopModes(const std::vector<std::string>& modes) {
  requireRunLoop("setRunLoopModes must be called from within the current RunLoop!");
  if (modes.empty()) return false;
  if (modes == theRunLoopModes) return true;
  bool haveStreams = detachFromRunLoop();
  theRunLoopModes = modes;
  return reattachToRunLoop(haveStreams, RunLoop::current());
}

bool RunLoopSocket::addRunLoopMode(const std::string& mode) {
  requireRunLoop("addRunLoopMode must be called from within the current RunLoop!");
  if (mode.empty()) return false;
  if (std::find(theRunLoopModes.begin(), theRunLoopModes.end(), mode) != theRunLoopModes.end()) {
    return true;
  }
  if (theRunLoop) theRunLoop->cancelPerforms(this);
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
  theRunLoopModes.push_back(mode);
  if (theRunLoop) {
    if (theReadTimer) theRunLoop->addTimer(theReadTimer, mode);
    if (theWriteTimer) theRunLoop->addTimer(theWriteTimer, mode);
    if (theSource4) theRunLoop->addSource(theSource4, mode);
    if (theSource6) theRunLoop->addSource(theSource6, mode);
    if (theReadStream) theReadStream->scheduleInRunLoop(theRunLoop, mode);
    if (theWriteStream) theWriteStream->scheduleInRunLoop(theRunLoop, mode);
  }
  afterRunLoopChange();
  return true;
}

bool RunLoopSocket::removeRunLoopMode(const std::string& mode) {
  requireRunLoop("addRunLoopMode must be called from within the current RunLoop!");
  if (mode.empty()) return false;
  auto it = std::find(theRunLoopModes.begin(), theRunLoopModes.end(), mode);
  if (it == theRunLoopModes.end()) return true;
  if (theRunLoopModes.size() == 1) return false;
  if (theRunLoop) theRunLoop->cancelPerforms(this);
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
  theRunLoopModes.erase(it);
  if (theRunLoop) {
    if (theReadTimer) theRunLoop->removeTimer(theReadTimer, mode);
    if (theWriteTimer) theRunLoop->removeTimer(theWriteTimer, mode);
    if (theSource4) theRunLoop->removeSource(theSource4, mode);
    if (theSource6) theRunLoop->removeSource(theSource6, mode);
    if (theReadStream) theReadStream->unscheduleFromRunLoop(theRunLoop, mode);
    if (theWriteStream) theWriteStream->unscheduleFromRunLoop(theRunLoop, mode);
  }
  afterRunLoopChange();
  return true;
}

// --- Accepting ---

bool RunLoopSocket::acceptOnPort(std::uint16_t port, Error* error) {
  return acceptOnInterface("", port, error);
}

bool RunLoopSocket::createListener(int family, int& fd) {
  fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // Both families listen on one port, so the IPv6 socket must not claim IPv4 as well.
  int one = 1;
  if (family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  return true;
}

bool RunLoopSocket::acceptOnInterface(const std::string& interface, std::uint16_t port,
                                      Error* error) {
  return listenOnInterface(interface, port, error, kPortChoices);
}

bool RunLoopSocket::listenOnInterface(const std::string& interface, std::uint16_t port,
                                      Error* error, int portChoicesLeft) {
  if (!theDelegate) raise("Attempting to accept without a delegate. Set a delegate first.");
  if (!isDisconnected()) {
    raise("Attempting to accept while connected or accepting connections. Disconnect first.");
  }
  emptyQueues();

  std::optional<sockaddr_in> address4;
  std::optional<sockaddr_in6> address6;
  if (interface.empty() || interface == "localhost" || interface == "loopback") {
    bool loopback = !interface.empty();
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_port = htons(port);
    a4.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
    address4 = a4;
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(port);
    a6.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
    address6 = a6;
  } else {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* results = nullptr;
    char service[8];
    std::snprintf(service, sizeof service, "%hu", port);
    int gai = ::getaddrinfo(interface.c_str(), service, &hints, &results);
    if (gai != 0) {
      setError(error, resolverError(gai));
      return false;
    }
    for (addrinfo* ai = results; ai; ai = ai->ai_next) {
      if (ai->ai_family == AF_INET && !address4) {
        sockaddr_in a4;
        std::memcpy(&a4, ai->ai_addr, sizeof a4);
        address4 = a4;
      } else if (ai->ai_family == AF_INET6 && !address6) {
        sockaddr_in6 a6;
        std::memcpy(&a6, ai->ai_addr, sizeof a6);
        address6 = a6;
      }
    }
    ::freeaddrinfo(results);
    if (!address4 && !address6) return false;
  }

  auto fail = [&] {
    setError(error, errorWithCode(kCFSocketError));
    closeListeners();
    return false;
  };
  if (address4 && !createListener(AF_INET, theSocket4)) return fail();
  if (address6 && !createListener(AF_INET6, theSocket6)) theSocket6 = -1;  // IPv4 alone

  listening_ = true;
  attachSources(RunLoop::current());
  for (int fd : {theSocket4, theSocket6}) {
    int one = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  if (theSocket4 >= 0) {
    if (::bind(theSocket4, reinterpret_cast<sockaddr*>(&*address4), sizeof *address4) != 0 ||
        ::listen(theSocket4, SOMAXCONN) != 0) {
      return fail();
    }
    if (port == 0 && theSocket6 >= 0) address6->sin6_port = htons(localPort4());
  }
  if (theSocket6 >= 0) {
    if (::bind(theSocket6, reinterpret_cast<sockaddr*>(&*address6), sizeof *address6) != 0) {
      // The port the system chose for IPv4 may be held on IPv6 by another socket (a connection
      // from ::1 that got it as its own port): choose a port again rather than fail.
      if (port == 0 && errno == EADDRINUSE && portChoicesLeft > 0) {
        closeListeners();
        return listenOnInterface(interface, 0, error, portChoicesLeft - 1);
      }
      return fail();
    }
    if (::listen(theSocket6, SOMAXCONN) != 0) return fail();
  }
  theFlags |= kDidStartConnect;
  return true;
}

void RunLoopSocket::attachSources(const std::shared_ptr<RunLoop>& runLoop) {
  std::weak_ptr<RunLoopSocket> weak = weak_from_this();
  auto make = [&](int fd) -> std::shared_ptr<RunLoopSource> {
    if (fd < 0) return nullptr;
    unsigned interest = listening_ ? RunLoopSource::kReadable : RunLoopSource::kWritable;
    return RunLoopSource::create(fd, interest, [weak, fd](unsigned) {
      auto socket = weak.lock();
      if (!socket) return;
      if (socket->listening_) {
        socket->doAcceptFromSocket(fd);
      } else {
        socket->doConnectResult(fd);
      }
    });
  };
  theSource4 = make(theSocket4);
  theSource6 = make(theSocket6);
  theRunLoop = runLoop;
  runLoopAddSource(theSource4);
  runLoopAddSource(theSource6);
}

void RunLoopSocket::closeListeners() {
  for (auto* source : {&theSource4, &theSource6}) {
    if (*source) {
      runLoopRemoveSource(*source);
      (*source)->invalidate();
      source->reset();
    }
  }
  for (int* fd : {&theSocket4, &theSocket6}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  listening_ = false;
}

void RunLoopSocket::doAcceptFromSocket(int listener) {
  int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  // Descriptor 0 is a connection like any other.
  if (fd < 0) return;
  auto newSocket = RunLoopSocket::create(theDelegate);
  newSocket->setRunLoopModes(theRunLoopModes);
  if (!newSocket->createStreamsFromNative(fd, nullptr)) {
    // No stream owns the descriptor yet: it is ours to close.
    ::close(fd);
    newSocket->close();
    return;
  }
  if (listener == theSocket4) {
    newSocket->theNativeSocket4 = fd;
  } else {
    newSocket->theNativeSocket6 = fd;
  }
  auto me = self();
  auto delegate = theDelegate;
  if (delegate) delegate->onSocketDidAcceptNewSocket(me, newSocket);
  newSocket->theFlags |= kDidStartConnect;
  std::shared_ptr<RunLoop> runLoop;
  if (delegate && delegate->answers(RunLoopSocketDelegate::kWantsRunLoopForNewSocket)) {
    runLoop = delegate->onSocketWantsRunLoopForNewSocket(me, newSocket);
  }
  if (!runLoop) runLoop = RunLoop::current();
  bool ok = newSocket->attachStreamsToRunLoop(runLoop, nullptr);
  if (ok && newSocket->theDelegate &&
      newSocket->theDelegate->answers(RunLoopSocketDelegate::kWillConnect)) {
    ok = newSocket->theDelegate->onSocketWillConnect(newSocket);
  }
  if (ok) ok = newSocket->openStreams(nullptr);
  if (!ok) newSocket->close();
}

// --- Connecting ---

bool RunLoopSocket::connectToHost(const std::string& host, std::uint16_t port, Error* error) {
  return connectToHost(host, port, -1.0, error);
}

bool RunLoopSocket::connectToHost(const std::string& host, std::uint16_t port, double timeout,
                                  Error* error) {
  if (!theDelegate) raise("Attempting to connect without a delegate. Set a delegate first.");
  if (!isDisconnected()) {
    raise("Attempting to connect while connected or accepting connections. Disconnect first.");
  }
  emptyQueues();
  auto fail = [&](std::optional<Error> failure) {
    if (failure) setError(error, *failure);
    close();
    return false;
  };
  std::tie(theReadStream, theWriteStream) = SocketStream::createPairWithHost(host, port);
  if (!theReadStream || !theWriteStream) {
    return fail(Error::withDescription(kNetDBDomain, EAI_NONAME, gai_strerror(EAI_NONAME)));
  }
  theReadStream->setProperty(platform::kStreamPropertyShouldCloseNativeSocket, true);
  theWriteStream->setProperty(platform::kStreamPropertyShouldCloseNativeSocket, true);
  Error failure;
  if (!attachStreamsToRunLoop(nullptr, &failure)) return fail(failure);
  if (theDelegate->answers(RunLoopSocketDelegate::kWillConnect) &&
      !theDelegate->onSocketWillConnect(self())) {
    return fail(errorWithCode(kCanceledError));
  }
  if (!openStreams(&failure)) return fail(failure);
  startConnectTimeout(timeout);
  theFlags |= kDidStartConnect;
  return true;
}

bool RunLoopSocket::connectToAddress(const Bytes& remoteAddr, Error* error) {
  return connectToAddress(remoteAddr, nullptr, -1.0, error);
}

bool RunLoopSocket::connectToAddress(const Bytes& remoteAddr, double timeout, Error* error) {
  return connectToAddress(remoteAddr, nullptr, timeout, error);
}

bool RunLoopSocket::connectToAddress(const Bytes& remoteAddr, const Bytes* interfaceAddr,
                                     double timeout, Error* error) {
  if (!theDelegate) raise("Attempting to connect without a delegate. Set a delegate first.");
  if (!isDisconnected()) {
    raise("Attempting to connect while connected or accepting connections. Disconnect first.");
  }
  emptyQueues();
  auto fail = [&](Error failure) {
    setError(error, std::move(failure));
    close();
    return false;
  };
  int family = familyOf(remoteAddr);
  std::size_t expected = family == AF_INET6  ? sizeof(sockaddr_in6)
                         : family == AF_INET ? sizeof(sockaddr_in)
                                             : 0;
  if (expected == 0 || remoteAddr.size() < expected) {
    return fail(Error::withDescription(kRunLoopSocketErrorDomain, kCFSocketError,
                                       "Remote address is not IPv4 or IPv6"));
  }
  int& fd = family == AF_INET6 ? theSocket6 : theSocket4;
  fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return fail(errorWithCode(kCFSocketError));
  if (interfaceAddr) {
    int localFamily = familyOf(*interfaceAddr);
    if (localFamily != AF_INET && localFamily != AF_INET6) {
      return fail(Error::withDescription(kRunLoopSocketErrorDomain, kCFSocketError,
                                         "Interface address is not IPv4 or IPv6"));
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(interfaceAddr->data()),
               static_cast<socklen_t>(interfaceAddr->size())) != 0) {
      return fail(Error::posix(errno));
    }
  }
  listening_ = false;
  attachSources(RunLoop::current());
  if (theDelegate->answers(RunLoopSocketDelegate::kWillConnect) &&
      !theDelegate->onSocketWillConnect(self())) {
    return fail(errorWithCode(kCanceledError));
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(remoteAddr.data()),
                static_cast<socklen_t>(expected)) != 0 &&
      errno != EINPROGRESS) {
    return fail(errorWithCode(kCFSocketError));
  }
  startConnectTimeout(timeout);
  theFlags |= kDidStartConnect;
  return true;
}

void RunLoopSocket::doConnectResult(int fd) {
  platform::assertThat(fd == theSocket4 || fd == theSocket6,
                       "Invalid parameter not satisfying: (sock == theSocket4) || (sock == "
                       "theSocket6)");
  int soError = 0;
  socklen_t length = sizeof soError;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
    closeWithError(errorWithCode(kCFSocketError));
    return;
  }
  // The descriptor moves from the connecting socket to the streams.
  if (fd == theSocket4) {
    theNativeSocket4 = fd;
    theSocket4 = -1;
  } else {
    theNativeSocket6 = fd;
    theSocket6 = -1;
  }
  closeListeners();
  Error failure;
  if (!createStreamsFromNative(fd, &failure) || !attachStreamsToRunLoop(nullptr, &failure) ||
      !openStreams(&failure)) {
    closeWithError(failure);
  }
}

bool RunLoopSocket::createStreamsFromNative(int fd, Error* error) {
  std::tie(theReadStream, theWriteStream) = SocketStream::createPairWithSocket(fd);
  if (!theReadStream || !theWriteStream) {
    if (auto failure = streamError()) setError(error, *failure);
    return false;
  }
  theReadStream->setProperty(platform::kStreamPropertyShouldCloseNativeSocket, true);
  theWriteStream->setProperty(platform::kStreamPropertyShouldCloseNativeSocket, true);
  return true;
}

bool RunLoopSocket::attachStreamsToRunLoop(const std::shared_ptr<RunLoop>& runLoop, Error* error) {
  theRunLoop = runLoop ? runLoop : RunLoop::current();
  std::weak_ptr<RunLoopSocket> weak = weak_from_this();
  bool clientsTaken = theReadStream->setClient(27, [weak](SocketStream&, unsigned event) {
    if (auto socket = weak.lock()) socket->doReadStreamEvent(event);
  }) && theWriteStream->setClient(29, [weak](SocketStream&, unsigned event) {
    if (auto socket = weak.lock()) socket->doWriteStreamEvent(event);
  });
  if (!clientsTaken) {
    if (auto failure = streamError()) setError(error, *failure);
    return false;
  }
  for (const auto& mode : theRunLoopModes) {
    theReadStream->scheduleInRunLoop(theRunLoop, mode);
    theWriteStream->scheduleInRunLoop(theRunLoop, mode);
  }
  return true;
}

bool RunLoopSocket::openStreams(Error* error) {
  if (theReadStream->open() && theWriteStream->open()) return true;
  if (auto failure = streamError()) setError(error, *failure);
  return false;
}

void RunLoopSocket::doStreamOpen() {
  if (!(theFlags & kDidCompleteOpenForRead) || !(theFlags & kDidCompleteOpenForWrite)) return;
  auto handle = theReadStream->property(platform::kStreamPropertySocketNativeHandle);
  if (!handle || !handle->asBytes() || handle->asBytes()->size() < sizeof(int)) {
    closeWithError(streamError());
    return;
  }
  int fd;
  std::memcpy(&fd, handle->asBytes()->data(), sizeof fd);
  if (theNativeSocket4 < 0 && theNativeSocket6 < 0) {
    int family = familyOf(addressOf(fd, true));
    if (family == AF_INET) {
      theNativeSocket4 = fd;
    } else if (family == AF_INET6) {
      theNativeSocket6 = fd;
    } else {
      closeWithError(errorWithCode(kCFSocketError));
      return;
    }
  }
  endConnectTimeout();
  auto delegate = theDelegate;
  if (delegate && delegate->answers(RunLoopSocketDelegate::kDidConnectToHost)) {
    delegate->onSocketDidConnectToHost(self(), connectedHost(), connectedPort());
  }
  maybeDequeueRead();
  maybeDequeueWrite();
}

std::optional<Error> RunLoopSocket::errorFromStream(const platform::StreamError& error) {
  using platform::StreamErrorDomain;
  switch (error.domain) {
    case StreamErrorDomain::None:
      if (error.code == 0) return std::nullopt;
      return Error("CFStreamError (unlisted domain)", error.code);
    case StreamErrorDomain::POSIX:
      return Error(platform::kPOSIXErrorDomain, error.code);
    case StreamErrorDomain::NetDB:
      return resolverError(error.code);
    case StreamErrorDomain::SSL:
      return Error("kCFStreamErrorDomainSSL", error.code);
  }
  return std::nullopt;
}

std::optional<Error> RunLoopSocket::streamError() const {
  if (theReadStream && theReadStream->error().code != 0) {
    return errorFromStream(theReadStream->error());
  }
  if (theWriteStream && theWriteStream->error().code != 0) {
    return errorFromStream(theWriteStream->error());
  }
  return std::nullopt;
}

void RunLoopSocket::startConnectTimeout(double timeout) {
  if (timeout < 0) return;
  std::weak_ptr<RunLoopSocket> weak = weak_from_this();
  theConnectTimer = platform::Timer::create(platform::seconds(timeout), false, [weak](auto&) {
    if (auto socket = weak.lock()) socket->doConnectTimeout();
  });
  runLoopAddTimer(theConnectTimer);
}

void RunLoopSocket::endConnectTimeout() {
  if (theConnectTimer) theConnectTimer->invalidate();
  theConnectTimer.reset();
}

void RunLoopSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(errorWithCode(kConnectTimeoutError));
}

// --- Addresses ---

std::string RunLoopSocket::hostFromAddress4(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN];
  if (!::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) {
    throw platform::AssertionFailure("Cannot convert IPv4 address to string.");
  }
  return text;
}

std::string RunLoopSocket::hostFromAddress6(const sockaddr_in6& address) {
  char text[INET6_ADDRSTRLEN];
  if (!::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text)) {
    throw platform::AssertionFailure("Cannot convert IPv6 address to string.");
  }
  return text;
}

std::uint16_t RunLoopSocket::portFromAddress4(const sockaddr_in& address) {
  return ntohs(address.sin_port);
}

std::uint16_t RunLoopSocket::portFromAddress6(const sockaddr_in6& address) {
  return ntohs(address.sin6_port);
}

std::string RunLoopSocket::connectedHost() const { return hostOf(connectedAddress()); }
std::uint16_t RunLoopSocket::connectedPort() const { return portOf(connectedAddress()); }
std::string RunLoopSocket::localHost() const { return hostOf(localAddress()); }
std::uint16_t RunLoopSocket::localPort() const { return portOf(localAddress()); }

int RunLoopSocket::descriptorOf(bool four) const {
  if (four) return theSocket4 >= 0 ? theSocket4 : theNativeSocket4;
  return theSocket6 >= 0 ? theSocket6 : theNativeSocket6;
}

std::string RunLoopSocket::connectedHost4() const {
  return hostOf(addressOf(descriptorOf(true), true));
}
std::string RunLoopSocket::connectedHost6() const {
  return hostOf(addressOf(descriptorOf(false), true));
}
std::uint16_t RunLoopSocket::connectedPort4() const {
  return portOf(addressOf(descriptorOf(true), true));
}
std::uint16_t RunLoopSocket::connectedPort6() const {
  return portOf(addressOf(descriptorOf(false), true));
}
std::string RunLoopSocket::localHost4() const {
  return hostOf(addressOf(descriptorOf(true), false));
}
std::string RunLoopSocket::localHost6() const {
  return hostOf(addressOf(descriptorOf(false), false));
}
std::uint16_t RunLoopSocket::localPort4() const {
  return portOf(addressOf(descriptorOf(true), false));
}
std::uint16_t RunLoopSocket::localPort6() const {
  return portOf(addressOf(descriptorOf(false), false));
}

std::optional<Bytes> RunLoopSocket::connectedAddress() const {
  for (int fd : {theSocket4, theSocket6, theNativeSocket4, theNativeSocket6}) {
    if (fd >= 0) return addressOf(fd, true);
  }
  return std::nullopt;
}

std::optional<Bytes> RunLoopSocket::localAddress() const {
  for (int fd : {theSocket4, theSocket6, theNativeSocket4, theNativeSocket6}) {
    if (fd >= 0) return addressOf(fd, false);
  }
  return std::nullopt;
}

std::string RunLoopSocket::description() {
  static const char* kStatus[] = {"not open", "opening", "open",   "reading",
                                  "writing",  "at end",  "closed", "has error"};
  auto side = [&](bool local) {
    bool four = isIPv4();
    bool six = isIPv6();
    char text[160];
    if (four && six) {
      std::snprintf(
          text, sizeof text, "%s/%s %u", (local ? localHost4() : connectedHost4()).c_str(),
          (local ? localHost6() : connectedHost6()).c_str(), local ? localPort() : connectedPort());
    } else if (four || six) {
      std::snprintf(text, sizeof text, "%s %u", (local ? localHost() : connectedHost()).c_str(),
                    local ? localPort() : connectedPort());
    } else {
      return std::string("nowhere");
    }
    return std::string(text);
  };
  std::string out;
  out.reserve(150);
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, "<RunLoopSocket %p", static_cast<const void*>(this));
  out += buffer;
  out += " local " + side(true) + " remote " + side(false) + " ";
  std::snprintf(buffer, sizeof buffer, "has queued %u reads %u writes, ",
                static_cast<unsigned>(theReadQueue.size()),
                static_cast<unsigned>(theWriteQueue.size()));
  out += buffer;
  if (!theCurrentRead.packet) {
    out += "no current read, ";
  } else {
    auto& p = *theCurrentRead.packet;
    int percent = p.bytesDone == 0   ? 0
                  : p.readLength > 0 ? static_cast<int>(p.bytesDone * 100 / p.readLength)
                                     : 100;
    std::snprintf(buffer, sizeof buffer, "currently read %u bytes (%d%% done), ",
                  static_cast<unsigned>(p.buffer->size()), percent);
    out += buffer;
  }
  if (!theCurrentWrite.packet) {
    out += "no current write, ";
  } else {
    auto& p = *theCurrentWrite.packet;
    int percent = p.bytesDone == 0 || p.buffer.empty()
                      ? 0
                      : static_cast<int>(p.bytesDone * 100 / p.buffer.length());
    std::snprintf(buffer, sizeof buffer, "currently written %u (%d%%), ",
                  static_cast<unsigned>(p.buffer.length()), percent);
    out += buffer;
  }
  auto status = [&](const std::shared_ptr<SocketStream>& s) {
    return kStatus[s ? static_cast<int>(s->status()) : 0];
  };
  std::snprintf(buffer, sizeof buffer, "read stream %p %s, ",
                static_cast<const void*>(theReadStream.get()), status(theReadStream));
  out += buffer;
  std::snprintf(buffer, sizeof buffer, "write stream %p %s",
                static_cast<const void*>(theWriteStream.get()), status(theWriteStream));
  out += buffer;
  if ((theFlags & kDisconnectAfterReads) && (theFlags & kDisconnectAfterWrites)) {
    out += ", will disconnect after reads & writes";
  } else if (theFlags & kDisconnectAfterReads) {
    out += ", will disconnect after reads";
  } else if (theFlags & kDisconnectAfterWrites) {
    out += ", will disconnect after writes";
  }
  if (!isConnected()) out += ", not connected";
  out += ">";
  return out;
}

Bytes RunLoopSocket::CRLFData() { return {'\r', '\n'}; }
Bytes RunLoopSocket::CRData() { return {'\r'}; }
Bytes RunLoopSocket::LFData() { return {'\n'}; }
Bytes RunLoopSocket::ZeroData() { return {0}; }
