// DispatchSocket: the object, its queue rules, configuration, listening and accepting, closing,
// the connected descriptor's sources and the state queries. Reading and writing are in
// DispatchSocketReading.cpp and DispatchSocketWriting.cpp, the class operations in
// DispatchSocketAddresses.cpp.

#include "sockets/dispatch/DispatchSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/Assert.h"
#include "platform/security/SslContext.h"
#include "sockets/dispatch/DispatchReadPacket.h"
#include "sockets/dispatch/DispatchSpecialPacket.h"
#include "sockets/dispatch/DispatchWritePacket.h"
#include "sockets/dispatch/SocketAddress.h"

using platform::Bytes;
using platform::Error;
using platform::dispatch::Queue;
using platform::dispatch::Source;

namespace {

using socketaddress::addressData;
using socketaddress::sockaddrFrom;

std::atomic<DispatchSocket::AcceptCall> acceptCall{&::accept4};

// The peer's (or the local) address of a descriptor, when the system tells it.
template <class Sockaddr>
std::optional<Sockaddr> askSockaddr(int socketFD, bool peer) {
  Sockaddr address{};
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  int status = peer ? getpeername(socketFD, raw, &length) : getsockname(socketFD, raw, &length);
  if (status != 0) return std::nullopt;
  return address;
}

template <class Sockaddr>
std::optional<Bytes> askAddress(int socketFD, bool peer) {
  auto address = askSockaddr<Sockaddr>(socketFD, peer);
  return address ? std::optional(addressData(*address)) : std::nullopt;
}

std::string hostText(const sockaddr_in& address) {
  return DispatchSocket::hostFromSockaddr4(&address);
}
std::string hostText(const sockaddr_in6& address) {
  return DispatchSocket::hostFromSockaddr6(&address);
}
std::uint16_t portNumber(const sockaddr_in& address) {
  return DispatchSocket::portFromSockaddr4(&address);
}
std::uint16_t portNumber(const sockaddr_in6& address) {
  return DispatchSocket::portFromSockaddr6(&address);
}

template <class Sockaddr>
std::optional<std::string> askHost(int socketFD, bool peer) {
  auto address = askSockaddr<Sockaddr>(socketFD, peer);
  return address ? std::optional(hostText(*address)) : std::nullopt;
}

template <class Sockaddr>
std::uint16_t askPort(int socketFD, bool peer) {
  auto address = askSockaddr<Sockaddr>(socketFD, peer);
  return address ? portNumber(*address) : 0;
}

// A listener failed because the host lacks that family or its address there (IPv6 switched off,
// no ::1 on the loopback interface), not because of the port or a permission.
bool familyIsMissing(const Error& error) {
  const int code = error.code();
  return error.domain() == platform::kPOSIXErrorDomain &&
         (code == EAFNOSUPPORT || code == EADDRNOTAVAIL || code == EPROTONOSUPPORT);
}

// The description normalised through the address parser, so "0:0::1" finds "::1".
std::string canonicalAddressText(int family, const std::string& text) {
  std::uint8_t binary[sizeof(in6_addr)];
  char printed[INET6_ADDRSTRLEN];
  if (inet_pton(family, text.c_str(), binary) == 1 &&
      inet_ntop(family, binary, printed, sizeof printed)) {
    return printed;
  }
  return text;
}

}  // namespace

// --- Creation and destruction ------------------------------------------------------------------

DispatchSocket::DispatchSocket() : DispatchSocket(DelegatePtr(), nullptr, nullptr) {}

DispatchSocket::DispatchSocket(QueuePtr sq)
    : DispatchSocket(DelegatePtr(), nullptr, std::move(sq)) {}

DispatchSocket::DispatchSocket(DelegatePtr aDelegate, QueuePtr dq)
    : DispatchSocket(std::move(aDelegate), std::move(dq), nullptr) {}

DispatchSocket::DispatchSocket(DelegatePtr aDelegate, QueuePtr dq, QueuePtr sq)
    : _delegate(std::move(aDelegate)), _delegateQueue(std::move(dq)) {
  if (sq) {
    // All state relies on the queue running one block at a time.
    platform::assertThat(sq->kind() != Queue::Kind::Concurrent,
                         "The given socketQueue parameter must not be a concurrent queue.");
    socketQueue = std::move(sq);
  } else {
    socketQueue = Queue::serial("DispatchSocket");
  }
  IsOnSocketQueueOrTargetQueueKey = &IsOnSocketQueueOrTargetQueueKey;
  socketQueue->setSpecific(IsOnSocketQueueOrTargetQueueKey, this);
}

// Nothing else can reach the socket now (queued work, sources and timers all hold it), so its
// state is ours on whatever thread drops the last reference.
DispatchSocket::~DispatchSocket() {
  for (auto* source :
       {&accept4Source, &accept6Source, &readSource, &writeSource, &readTimer, &writeTimer}) {
    if (*source) (*source)->cancel();
  }
  if (connectTimer) connectTimer->cancel();
  releaseConnectingDescriptor();
  if (!accept4Source && !accept6Source && !readSource && !writeSource) {
    if (_socket4FD != -1) ::close(_socket4FD);
    if (_socket6FD != -1) ::close(_socket6FD);
  }
  // A shared queue outlives the socket; its key must not mark a later socket at this address.
  socketQueue->setSpecific(IsOnSocketQueueOrTargetQueueKey, nullptr);
}

// --- Queue rules -------------------------------------------------------------------------------

bool DispatchSocket::isOnSocketQueue() const {
  return Queue::getCurrentSpecific(IsOnSocketQueueOrTargetQueueKey) != nullptr;
}

void DispatchSocket::assertOnSocketQueue() const {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
}

void DispatchSocket::runSync(const std::function<void()>& block) const {
  if (isOnSocketQueue()) {
    block();
  } else {
    socketQueue->sync(block);
  }
}

void DispatchSocket::runAsync(std::function<void()> block) {
  if (isOnSocketQueue()) {
    block();
  } else {
    socketQueue->async([self = shared_from_this(), block = std::move(block)] { block(); });
  }
}

// Queued even from the socket queue itself, as reads and writes always are: run there at once, a
// close after the queued writes would miss a write its caller had just asked for.
void DispatchSocket::queueBehindRequests(std::function<void()> block) {
  socketQueue->async([self = shared_from_this(), block = std::move(block)] { block(); });
}

void DispatchSocket::notifyDelegate(DispatchSocketDelegate::Call which,
                                    std::function<void(DispatchSocketDelegate&)> call) {
  if (!_delegateQueue) return;
  auto theDelegate = _delegate.lock();
  if (!theDelegate || !theDelegate->answers(which)) return;
  _delegateQueue->async(
      [theDelegate = std::move(theDelegate), call = std::move(call)] { call(*theDelegate); });
}

void DispatchSocket::notifyDelegateOf(DispatchSocketDelegate::Call which,
                                      DispatchSocketCallPool::Kind kind, long tag, SocketData data,
                                      std::size_t length) {
  if (!_delegateQueue) return;
  auto theDelegate = _delegate.lock();
  if (!theDelegate || !theDelegate->answers(which)) return;
  auto* call = callPool_.take();
  call->kind = kind;
  call->delegate = std::move(theDelegate);
  call->socket = shared_from_this();
  call->data = std::move(data);
  call->tag = tag;
  call->length = length;
  _delegateQueue->async(DispatchSocketCallPool::work(call));
}

std::shared_ptr<Source> DispatchSocket::makeTimeoutTimer(double timeout,
                                                         void (DispatchSocket::*fire)()) {
  auto timer = Source::makeTimer(socketQueue);
  // The timer holds the socket until it is cancelled.
  timer->setEventHandler([self = shared_from_this(), fire] { ((*self).*fire)(); });
  timer->setTimer(platform::seconds(timeout), std::nullopt);
  timer->resume();
  return timer;
}

void DispatchSocket::armTimeoutTimer(std::shared_ptr<Source>& timer, double timeout,
                                     void (DispatchSocket::*fire)()) {
  if (!timer) {
    timer = Source::makeTimer(socketQueue);
    // Weakly: the timer lives as long as the connection, and a socket nobody holds any more
    // must still go away (its destructor cancels the timer).
    timer->setEventHandler([weak = weak_from_this(), fire] {
      if (auto self = weak.lock()) ((*self).*fire)();
    });
    timer->resume();
  }
  timer->setTimer(platform::seconds(timeout), std::nullopt);
}

void DispatchSocket::disarmTimeoutTimer(const std::shared_ptr<Source>& timer) {
  if (timer) timer->clearTimer();
}

void DispatchSocket::endTimeoutTimer(std::shared_ptr<Source>& timer) {
  if (!timer) return;
  timer->cancel();
  timer.reset();
}

void DispatchSocket::askForExtension(DispatchSocketDelegate::Call which, ExtensionQuestion ask,
                                     void (DispatchSocket::*extend)(double)) {
  auto theDelegate = _delegate.lock();
  if (!_delegateQueue || !theDelegate || !theDelegate->answers(which)) {
    (this->*extend)(0.0);
    return;
  }
  _delegateQueue->async([self = shared_from_this(), theDelegate, ask = std::move(ask), extend] {
    double extension = ask(*theDelegate, self).value_or(0.0);
    self->socketQueue->async([self, extend, extension] { ((*self).*extend)(extension); });
  });
}

// --- Delegate and configuration ----------------------------------------------------------------

std::shared_ptr<DispatchSocketDelegate> DispatchSocket::delegate() const {
  return syncValue([this] { return _delegate.lock(); });
}

void DispatchSocket::setDelegate(DelegatePtr newDelegate) {
  runAsync([this, newDelegate = std::move(newDelegate)] { _delegate = newDelegate; });
}

void DispatchSocket::synchronouslySetDelegate(DelegatePtr newDelegate) {
  runSync([&] { _delegate = newDelegate; });
}

DispatchSocket::QueuePtr DispatchSocket::delegateQueue() const {
  return syncValue([this] { return _delegateQueue; });
}

void DispatchSocket::setDelegateQueue(QueuePtr newDelegateQueue) {
  runAsync([this, q = std::move(newDelegateQueue)] { _delegateQueue = q; });
}

void DispatchSocket::synchronouslySetDelegateQueue(QueuePtr newDelegateQueue) {
  runSync([&] { _delegateQueue = newDelegateQueue; });
}

void DispatchSocket::getDelegate(std::shared_ptr<DispatchSocketDelegate>* delegatePtr,
                                 QueuePtr* delegateQueuePtr) const {
  runSync([&] {
    if (delegatePtr) *delegatePtr = _delegate.lock();
    if (delegateQueuePtr) *delegateQueuePtr = _delegateQueue;
  });
}

void DispatchSocket::setDelegate(DelegatePtr newDelegate, QueuePtr newDelegateQueue) {
  runAsync([this, d = std::move(newDelegate), q = std::move(newDelegateQueue)] {
    _delegate = d;
    _delegateQueue = q;
  });
}

void DispatchSocket::synchronouslySetDelegate(DelegatePtr newDelegate, QueuePtr newDelegateQueue) {
  runSync([&] {
    _delegate = newDelegate;
    _delegateQueue = newDelegateQueue;
  });
}

bool DispatchSocket::configIsSet(std::uint16_t bit) const {
  return syncValue([this, bit] { return (config & bit) != 0; });
}

void DispatchSocket::setConfig(std::uint16_t bit, bool on) {
  runAsync(
      [this, bit, on] { config = static_cast<std::uint16_t>(on ? config | bit : config & ~bit); });
}

bool DispatchSocket::isIPv4Enabled() const { return !configIsSet(configIPv4Off); }

void DispatchSocket::setIPv4Enabled(bool flag) { setConfig(configIPv4Off, !flag); }

bool DispatchSocket::isIPv6Enabled() const { return !configIsSet(configIPv6Off); }

void DispatchSocket::setIPv6Enabled(bool flag) { setConfig(configIPv6Off, !flag); }

bool DispatchSocket::isIPv4PreferredOverIPv6() const { return !configIsSet(configPreferIPv6); }

void DispatchSocket::setPreferIPv4OverIPv6(bool flag) { setConfig(configPreferIPv6, !flag); }

bool DispatchSocket::isNoDelayEnabled() const { return !configIsSet(configNoDelayOff); }

void DispatchSocket::setNoDelayEnabled(bool flag) {
  runAsync([this, flag] {
    config =
        static_cast<std::uint16_t>(flag ? config & ~configNoDelayOff : config | configNoDelayOff);
    if (!(flags & flagConnected)) return;
    for (int socketFD : {_socket4FD, _socket6FD})
      if (socketFD != -1) applyNoDelay(socketFD);
  });
}

void DispatchSocket::applyNoDelay(int socketFD) const {
  // A failure leaves the socket as the system made it, which still works, only slower.
  int on = (config & configNoDelayOff) ? 0 : 1;
  setsockopt(socketFD, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::shared_ptr<void> DispatchSocket::userData() const {
  return syncValue([this] { return _userData; });
}

void DispatchSocket::setUserData(std::shared_ptr<void> arbitraryUserData) {
  runAsync([this, u = std::move(arbitraryUserData)] {
    if (_userData != u) _userData = u;
  });
}

bool DispatchSocket::autoDisconnectOnClosedReadStream() const {
  return !configIsSet(configHalfDuplex);
}

void DispatchSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
  setConfig(configHalfDuplex, !flag);
}

// --- Listening and accepting -------------------------------------------------------------------

bool DispatchSocket::acceptOnPort(std::uint16_t port, Error* errPtr) {
  return acceptOnInterface("", port, errPtr);
}

bool DispatchSocket::acceptOnInterface(const std::string& interface, std::uint16_t port,
                                       Error* errPtr) {
  std::optional<Error> err;
  bool result = false;
  runSync([&] {
    if (_delegate.expired()) {
      err = badConfigError("Attempting to accept without a delegate. Set a delegate first.");
      return;
    }
    if (!_delegateQueue) {
      err = badConfigError(
          "Attempting to accept without a delegate queue. Set a delegate queue first.");
      return;
    }
    bool isIPv4Disabled = (config & configIPv4Off) != 0;
    bool isIPv6Disabled = (config & configIPv6Off) != 0;
    if (isIPv4Disabled && isIPv6Disabled) {
      err = badConfigError(
          "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
      return;
    }
    if (flags & flagStarted) {
      err = badConfigError(
          "Attempting to accept while connected or accepting connections. Disconnect first.");
      return;
    }
    readQueue.clear();
    writeQueue.clear();

    std::optional<Bytes> interface4;
    std::optional<Bytes> interface6;
    getInterfaceAddress4(&interface4, &interface6, interface, port);
    if (!interface4 && !interface6) {
      err = badParamError(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }
    if (isIPv4Disabled && !interface6) {
      err = badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
      return;
    }
    if (isIPv6Disabled && !interface4) {
      err = badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
      return;
    }
    bool enableIPv4 = !isIPv4Disabled && interface4;
    bool enableIPv6 = !isIPv6Disabled && interface6;

    Error setupError;
    if (enableIPv4) {
      _socket4FD = createListenSocket(AF_INET, *interface4, &setupError);
      if (_socket4FD == -1) {
        // Without IPv4 here, IPv6 may still listen; any other failure ends the attempt.
        if (!enableIPv6 || !familyIsMissing(setupError)) {
          err = setupError;
          return;
        }
        enableIPv4 = false;
      }
    }
    if (enableIPv6) {
      if (enableIPv4 && port == 0) {
        // Both families on the one port the system chose for IPv4.
        auto addr6 = sockaddrFrom<sockaddr_in6>(*interface6);
        addr6.sin6_port = htons(localPort4());
        *interface6 = addressData(addr6);
      }
      _socket6FD = createListenSocket(AF_INET6, *interface6, &setupError);
      if (_socket6FD == -1 && enableIPv4 && familyIsMissing(setupError)) {
        enableIPv6 = false;  // a host without IPv6 (or without ::1) listens on IPv4 alone
      } else if (_socket6FD == -1) {
        err = setupError;
        if (_socket4FD != -1) {
          ::close(_socket4FD);
          _socket4FD = -1;
        }
        return;
      }
    }

    auto self = shared_from_this();
    auto makeAcceptSource = [&](int listenFD) {
      auto source = Source::makeRead(listenFD, socketQueue);
      std::weak_ptr<Source> weakSource = source;
      source->setEventHandler([self, listenFD, weakSource] {
        auto acceptSource = weakSource.lock();
        std::size_t numPendingConnections = acceptSource ? acceptSource->data() : 1;
        std::size_t i = 0;
        while (self->doAccept(listenFD) && ++i < numPendingConnections) {
        }
      });
      source->setCancelHandler([listenFD] { ::close(listenFD); });
      source->resume();
      return source;
    };
    if (enableIPv4) accept4Source = makeAcceptSource(_socket4FD);
    if (enableIPv6) accept6Source = makeAcceptSource(_socket6FD);
    flags |= flagStarted;
    result = true;
  });
  if (!result && errPtr && err) *errPtr = *err;
  return result;
}

int DispatchSocket::createListenSocket(int domain, const Bytes& interfaceAddr, Error* errPtr) {
  // Close-on-exec from the start: programs the process starts must not inherit a listener.
  int socketFD = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socketFD == -1) {
    *errPtr = errnoErrorWithReason("Error in socket() function");
    return -1;
  }
  auto fail = [&](const char* reason) {
    *errPtr = errnoErrorWithReason(reason);  // before close() can change errno
    ::close(socketFD);
    return -1;
  };
  int status = fcntl(socketFD, F_SETFL, O_NONBLOCK);
  if (status == -1) return fail("Error enabling non-blocking IO on socket (fcntl)");
  int reuseOn = 1;
  status = setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn);
  if (status == -1) return fail("Error enabling address reuse (setsockopt)");
  if (domain == AF_INET6) {
    // Without it "[::]:P" takes the IPv4 port too, and the IPv4 listener cannot bind.
    int v6Only = 1;
    status = setsockopt(socketFD, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    if (status == -1) return fail("Error enabling IPv6-only mode (setsockopt)");
  }
  status = ::bind(socketFD, reinterpret_cast<const sockaddr*>(interfaceAddr.data()),
                  static_cast<socklen_t>(interfaceAddr.size()));
  if (status == -1) return fail("Error in bind() function");
  status = ::listen(socketFD, 1024);
  if (status == -1) return fail("Error in listen() function");
  return socketFD;
}

void DispatchSocket::getInterfaceAddress4(std::optional<Bytes>* interfaceAddr4Ptr,
                                          std::optional<Bytes>* interfaceAddr6Ptr,
                                          const std::string& interfaceDescription,
                                          std::uint16_t port) {
  std::optional<Bytes> addr4;
  std::optional<Bytes> addr6;

  std::string interface;
  std::optional<std::string> portText;
  const std::string& description = interfaceDescription;
  if (!description.empty() && description.front() == '[') {
    // "[address]" or "[address]:port"
    auto close = description.find(']');
    std::string rest = close == std::string::npos ? std::string() : description.substr(close + 1);
    if (close == std::string::npos || !(rest.empty() || rest.front() == ':')) {
      interface = description;  // matches nothing
    } else {
      interface = description.substr(1, close - 1);
      if (!rest.empty()) portText = rest.substr(1);
    }
  } else if (std::count(description.begin(), description.end(), ':') >= 2) {
    // An IPv6 address: its colons are not a port separator.
    interface = description;
  } else if (auto colon = description.find(':'); colon != std::string::npos) {
    interface = description.substr(0, colon);
    portText = description.substr(colon + 1);
  } else {
    interface = description;
  }
  if (port == 0 && portText) {
    long portValue = std::strtol(portText->c_str(), nullptr, 10);
    if (portValue > 0 && portValue <= UINT16_MAX) port = static_cast<std::uint16_t>(portValue);
  }

  if (interface.empty()) {
    sockaddr_in sockaddr4{};
    sockaddr4.sin_family = AF_INET;
    sockaddr4.sin_port = htons(port);
    sockaddr4.sin_addr.s_addr = htonl(INADDR_ANY);
    sockaddr_in6 sockaddr6{};
    sockaddr6.sin6_family = AF_INET6;
    sockaddr6.sin6_port = htons(port);
    sockaddr6.sin6_addr = in6addr_any;
    addr4 = addressData(sockaddr4);
    addr6 = addressData(sockaddr6);
  } else if (interface == "localhost" || interface == "loopback") {
    sockaddr_in sockaddr4{};
    sockaddr4.sin_family = AF_INET;
    sockaddr4.sin_port = htons(port);
    sockaddr4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 sockaddr6{};
    sockaddr6.sin6_family = AF_INET6;
    sockaddr6.sin6_port = htons(port);
    sockaddr6.sin6_addr = in6addr_loopback;
    addr4 = addressData(sockaddr4);
    addr6 = addressData(sockaddr6);
  } else {
    const std::string text4 = canonicalAddressText(AF_INET, interface);
    const std::string text6 = canonicalAddressText(AF_INET6, interface);
    ifaddrs* addrs = nullptr;
    if (getifaddrs(&addrs) == 0) {
      for (ifaddrs* cursor = addrs; cursor; cursor = cursor->ifa_next) {
        if (!cursor->ifa_addr) continue;
        if (!addr4 && cursor->ifa_addr->sa_family == AF_INET) {
          sockaddr_in nativeAddr4;
          std::memcpy(&nativeAddr4, cursor->ifa_addr, sizeof nativeAddr4);
          if (interface == cursor->ifa_name || text4 == hostFromSockaddr4(&nativeAddr4)) {
            nativeAddr4.sin_port = htons(port);
            addr4 = addressData(nativeAddr4);
          }
        } else if (!addr6 && cursor->ifa_addr->sa_family == AF_INET6) {
          sockaddr_in6 nativeAddr6;
          std::memcpy(&nativeAddr6, cursor->ifa_addr, sizeof nativeAddr6);
          if (interface == cursor->ifa_name || text6 == hostFromSockaddr6(&nativeAddr6)) {
            nativeAddr6.sin6_port = htons(port);
            addr6 = addressData(nativeAddr6);
          }
        }
      }
      freeifaddrs(addrs);
    }
  }
  if (interfaceAddr4Ptr) *interfaceAddr4Ptr = std::move(addr4);
  if (interfaceAddr6Ptr) *interfaceAddr6Ptr = std::move(addr6);
}

bool DispatchSocket::doAccept(int parentSocketFD) {
  bool isIPv4 = parentSocketFD == _socket4FD;
  sockaddr_storage peer{};
  socklen_t peerLength = isIPv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  // Non-blocking and close-on-exec in the same call that makes it.
  int childSocketFD = acceptCall.load()(parentSocketFD, reinterpret_cast<sockaddr*>(&peer),
                                        &peerLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (childSocketFD == -1) {
    // The connection stays in the backlog and the listener readable: retrying at once would
    // spin until a descriptor frees up.
    if (errno == EMFILE || errno == ENFILE) pauseAccepting();
    return false;
  }
  const auto* peerBytes = reinterpret_cast<const std::uint8_t*>(&peer);
  Bytes peerAddress(peerBytes, peerBytes + std::min<std::size_t>(peerLength, sizeof peer));

  auto theDelegate = _delegate.lock();
  if (!_delegateQueue || !theDelegate) {
    // Nobody could ever take this connection.
    ::close(childSocketFD);
    return true;
  }
  auto self = shared_from_this();
  const std::uint16_t childConfig = config & configNoDelayOff;
  _delegateQueue->async([self, theDelegate, delegateQueue = _delegateQueue, childSocketFD, isIPv4,
                         peerAddress = std::move(peerAddress), childConfig] {
    handOverAcceptedSocket(self, theDelegate, delegateQueue, childSocketFD, isIPv4, peerAddress,
                           childConfig);
  });
  return true;
}

void DispatchSocket::setAcceptCallForTesting(AcceptCall call) {
  acceptCall = call ? call : &::accept4;
}

bool DispatchSocket::isAcceptPaused() const {
  return syncValue([this] { return (flags & flagAcceptPaused) != 0; });
}

void DispatchSocket::pauseAccepting() {
  assertOnSocketQueue();
  if (flags & flagAcceptPaused) return;
  flags |= flagAcceptPaused;
  if (accept4Source) accept4Source->suspend();
  if (accept6Source) accept6Source->suspend();
  acceptResumeTimer_ = makeTimeoutTimer(kAcceptBackOff, &DispatchSocket::resumeAccepting);
}

void DispatchSocket::resumeAccepting() {
  assertOnSocketQueue();
  if (acceptResumeTimer_) {
    acceptResumeTimer_->cancel();
    acceptResumeTimer_.reset();
  }
  if (!(flags & flagAcceptPaused)) return;
  flags &= ~flagAcceptPaused;
  if (accept4Source) accept4Source->resume();
  if (accept6Source) accept6Source->resume();
}

void DispatchSocket::acceptedSocketDidClose() {
  runAsync([this] {
    if (flags & flagAcceptPaused) resumeAccepting();
  });
}

void DispatchSocket::tellListenerDescriptorClosed(const std::weak_ptr<DispatchSocket>& listener) {
  if (auto theListener = listener.lock()) theListener->acceptedSocketDidClose();
}

// On the delegate queue.
void DispatchSocket::handOverAcceptedSocket(
    const std::shared_ptr<DispatchSocket>& listener,
    const std::shared_ptr<DispatchSocketDelegate>& theDelegate, const QueuePtr& delegateQueue,
    int childSocketFD, bool isIPv4, const Bytes& peerAddress, std::uint16_t childConfig) {
  QueuePtr childSocketQueue;
  if (theDelegate->answers(DispatchSocketDelegate::kNewSocketQueueForConnection)) {
    childSocketQueue = theDelegate->newSocketQueueForConnectionFromAddress(peerAddress, listener);
  }
  std::shared_ptr<DispatchSocket> acceptedSocket(
      new DispatchSocket(theDelegate, delegateQueue, childSocketQueue));
  // Nobody else knows the new socket yet; the set-up queued below publishes these fields.
  if (isIPv4) {
    acceptedSocket->_socket4FD = childSocketFD;
  } else {
    acceptedSocket->_socket6FD = childSocketFD;
  }
  acceptedSocket->flags = flagStarted | flagConnected;
  acceptedSocket->config |= childConfig;
  acceptedSocket->listener_ = listener;
  // Queued before the delegate hears of the socket, so whatever it asks of it runs after the
  // sources exist.
  acceptedSocket->socketQueue->async([acceptedSocket, childSocketFD] {
    acceptedSocket->setupReadAndWriteSourcesForNewlyConnectedSocket(childSocketFD);
  });
  if (theDelegate->answers(DispatchSocketDelegate::kDidAcceptNewSocket)) {
    theDelegate->socketDidAcceptNewSocket(listener, acceptedSocket);
  }
  if (!theDelegate->answers(DispatchSocketDelegate::kDidAcceptNewSocket)) {
    // No owner: close now, or any peer could hold descriptors open for as long as it likes.
    acceptedSocket->closeUnclaimed();
  }
}

void DispatchSocket::closeUnclaimed() {
  runAsync([this] {
    _delegate.reset();
    _delegateQueue.reset();
    closeWithError(std::nullopt);
  });
}

// --- Closing -------------------------------------------------------------------------------------

void DispatchSocket::disconnect() {
  runSync([this] {
    if (flags & flagStarted) closeWithError(std::nullopt);
  });
}

void DispatchSocket::disconnectAfterReading() {
  queueBehindRequests([this] {
    if (flags & flagStarted) {
      flags |= flagRefuseRequests | flagCloseAfterReads;
      maybeClose();
    }
  });
}

void DispatchSocket::disconnectAfterWriting() {
  queueBehindRequests([this] {
    if (flags & flagStarted) {
      flags |= flagRefuseRequests | flagCloseAfterWrites;
      maybeClose();
    }
  });
}

void DispatchSocket::disconnectAfterReadingAndWriting() {
  queueBehindRequests([this] {
    if (flags & flagStarted) {
      flags |= flagRefuseRequests | flagCloseAfterReads | flagCloseAfterWrites;
      maybeClose();
    }
  });
}

void DispatchSocket::maybeClose() {
  assertOnSocketQueue();
  bool readSideDone = readQueue.empty() && !currentRead && !(flags & flagTLSStartingRead);
  bool writeSideDone = writeQueue.empty() && !currentWrite && !(flags & flagTLSStartingWrite);
  bool shouldClose = false;
  if (flags & flagCloseAfterReads) {
    shouldClose = readSideDone && (!(flags & flagCloseAfterWrites) || writeSideDone);
  } else if (flags & flagCloseAfterWrites) {
    shouldClose = writeSideDone;
  }
  if (shouldClose) closeWithError(std::nullopt);
}

void DispatchSocket::closeWithError(const std::optional<Error>& error) {
  assertOnSocketQueue();
  endConnectTimeout();
  closeSSL();
  if (currentRead) endCurrentRead();
  if (currentWrite) endCurrentWrite();
  endTimeoutTimer(readTimer);
  endTimeoutTimer(writeTimer);
  readQueue.clear();
  writeQueue.clear();
  preBuffer.reset();
  releaseConnectingDescriptor();
  closeReadAndWriteStreams();

  const bool acceptPaused = (flags & flagAcceptPaused) != 0;
  if (acceptResumeTimer_) {
    acceptResumeTimer_->cancel();
    acceptResumeTimer_.reset();
  }
  if (!accept4Source && !accept6Source && !readSource && !writeSource) {
    if (_socket4FD != -1) ::close(_socket4FD);
    if (_socket6FD != -1) ::close(_socket6FD);
    if (_socket4FD != -1 || _socket6FD != -1) tellListenerDescriptorClosed(listener_);
  } else {
    // The cancel handlers close the descriptors; a suspended source must be resumed for its
    // cancel handler to run.
    if (accept4Source) {
      accept4Source->cancel();
      if (acceptPaused) accept4Source->resume();
      accept4Source.reset();
    }
    if (accept6Source) {
      accept6Source->cancel();
      if (acceptPaused) accept6Source->resume();
      accept6Source.reset();
    }
    if (readSource) {
      readSource->cancel();
      resumeReadSource();
      readSource.reset();
    }
    if (writeSource) {
      writeSource->cancel();
      resumeWriteSource();
      writeSource.reset();
    }
  }
  _socket4FD = -1;
  _socket6FD = -1;

  bool shouldCallDelegate = (flags & flagStarted) != 0;
  socketFDBytesAvailable = 0;
  flags = 0;
  if (shouldCallDelegate) {
    notifyDelegate(DispatchSocketDelegate::kDidDisconnect,
                   [self = shared_from_this(), error](DispatchSocketDelegate& d) {
                     d.socketDidDisconnect(self, error);
                   });
  }
}

void DispatchSocket::releaseConnectingDescriptor() {
  if (!connectSource_) return;
  // The source leaves the reactor now; its cancel handler closes the descriptor after any event
  // already queued, which finds the source cancelled and does nothing.
  connectSource_->cancel();
  connectSource_.reset();
  connectHandedOver_.reset();
  _socket4FD = -1;
  _socket6FD = -1;
}

// --- Sources of a connected descriptor ---------------------------------------------------------

void DispatchSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int socketFD) {
  // Closed before its set-up ran: the descriptor is gone (and its number may be another's).
  if (!(flags & flagStarted)) return;
  applyNoDelay(socketFD);
  readSource = Source::makeRead(socketFD, socketQueue);
  writeSource = Source::makeWrite(socketFD, socketQueue);

  auto self = shared_from_this();
  readSource->setEventHandler([self, socketFD] {
    // A read waiting in the clear reads at once, as much as it can take, and learns from the
    // read itself whether bytes, the end or an error were there: asking the kernel how much is
    // readable first would cost a system call on every event.
    if (self->readCanGoWithoutMeasure()) {
      self->socketFDBytesAvailable = self->optimisticReadLength();
      self->doReadData();
      return;
    }
    // The engine (and the handshake) reads as much as the descriptor holds, so it must know.
    if (self->flags & (flagSecure | flagTLSStartingRead)) {
      self->socketFDBytesAvailable = self->readSource->data();
      if (self->socketFDBytesAvailable > 0) {
        self->doReadData();
        return;
      }
    }
    // In the clear, with no read to fill, only whether bytes wait matters, and a peek answers
    // that as a count would. With nothing to read the event may be stale (a read pass that ran
    // between the descriptor turning readable and this handler took the bytes); the peek also
    // tells that apart from the peer closing or resetting the connection.
    char probe;
    ssize_t peeked = ::recv(socketFD, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
      self->socketFDBytesAvailable = 1;
      self->doReadData();
      return;
    }
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      self->readSourceDrained();
      return;
    }
    if (peeked < 0 && errno == EINTR) return;
    // The peek itself may have taken the reset: the error it reports is the pending one.
    if (peeked < 0) {
      self->closeWithError(errnoErrorWithReason("Error in read() function"));
      return;
    }
    // The peer closed, or reset the connection. A reset is an error (the pending socket error
    // says so), not an orderly end of the stream.
    int pendingError = 0;
    socklen_t length = sizeof pendingError;
    if (getsockopt(socketFD, SOL_SOCKET, SO_ERROR, &pendingError, &length) == 0 &&
        pendingError != 0) {
      errno = pendingError;
      self->closeWithError(errnoErrorWithReason("Error in read() function"));
      return;
    }
    self->doReadEOF();
  });
  writeSource->setEventHandler([self] {
    self->flags |= flagWritable;
    self->doWriteData();
  });

  // The descriptor closes once, after both sources have stopped; a listener waiting for
  // descriptors hears of it then.
  auto socketFDRefCount = std::make_shared<int>(2);
  auto cancelHandler = [socketFDRefCount, socketFD, listener = listener_] {
    if (--*socketFDRefCount != 0) return;
    ::close(socketFD);
    tellListenerDescriptorClosed(listener);
  };
  readSource->setCancelHandler(cancelHandler);
  writeSource->setCancelHandler(cancelHandler);

  socketFDBytesAvailable = 0;
  flags &= ~flagReadSourcePaused;
  readSource->resume();
  // Writable until a write meets a full send buffer; only then is the write source needed.
  flags |= flagWritable | flagWriteSourcePaused;
}

void DispatchSocket::readSourceDrained() {
  if (readSource) readSource->markDrained();
}

void DispatchSocket::writeSourceDrained() {
  if (writeSource) writeSource->markDrained();
}

void DispatchSocket::suspendReadSource() {
  if (readSource && !(flags & flagReadSourcePaused)) {
    readSource->suspend();
    flags |= flagReadSourcePaused;
  }
}

void DispatchSocket::resumeReadSource() {
  if (readSource && (flags & flagReadSourcePaused)) {
    readSource->resume();
    flags &= ~flagReadSourcePaused;
  }
}

void DispatchSocket::suspendWriteSource() {
  if (writeSource && !(flags & flagWriteSourcePaused)) {
    writeSource->suspend();
    flags |= flagWriteSourcePaused;
  }
}

void DispatchSocket::resumeWriteSource() {
  if (writeSource && (flags & flagWriteSourcePaused)) {
    writeSource->resume();
    flags &= ~flagWriteSourcePaused;
  }
}

// --- Queries -------------------------------------------------------------------------------------

bool DispatchSocket::isDisconnected() const {
  return syncValue([this] { return (flags & flagStarted) == 0; });
}

bool DispatchSocket::isConnected() const {
  return syncValue([this] { return (flags & flagConnected) != 0; });
}

std::optional<std::string> DispatchSocket::connectedHost() const {
  return syncValue([this]() -> std::optional<std::string> {
    if (_socket4FD != -1) return connectedHostFromSocket4(_socket4FD);
    if (_socket6FD != -1) return connectedHostFromSocket6(_socket6FD);
    return std::nullopt;
  });
}

std::uint16_t DispatchSocket::connectedPort() const {
  return syncValue([this]() -> std::uint16_t {
    if (_socket4FD != -1) return connectedPortFromSocket4(_socket4FD);
    if (_socket6FD != -1) return connectedPortFromSocket6(_socket6FD);
    return 0;
  });
}

std::optional<std::string> DispatchSocket::localHost() const {
  return syncValue([this]() -> std::optional<std::string> {
    if (_socket4FD != -1) return localHostFromSocket4(_socket4FD);
    if (_socket6FD != -1) return localHostFromSocket6(_socket6FD);
    return std::nullopt;
  });
}

std::uint16_t DispatchSocket::localPort() const {
  return syncValue([this]() -> std::uint16_t {
    if (_socket4FD != -1) return localPortFromSocket4(_socket4FD);
    if (_socket6FD != -1) return localPortFromSocket6(_socket6FD);
    return 0;
  });
}

std::optional<Bytes> DispatchSocket::connectedAddress() const {
  return syncValue([this] {
    std::optional<Bytes> result;
    if (_socket4FD != -1) result = askAddress<sockaddr_in>(_socket4FD, true);
    if (_socket6FD != -1) result = askAddress<sockaddr_in6>(_socket6FD, true);
    return result;
  });
}

std::optional<Bytes> DispatchSocket::localAddress() const {
  return syncValue([this] {
    std::optional<Bytes> result;
    if (_socket4FD != -1) result = askAddress<sockaddr_in>(_socket4FD, false);
    if (_socket6FD != -1) result = askAddress<sockaddr_in6>(_socket6FD, false);
    return result;
  });
}

bool DispatchSocket::isIPv4() const {
  return syncValue([this] { return _socket4FD != -1; });
}

bool DispatchSocket::isIPv6() const {
  return syncValue([this] { return _socket6FD != -1; });
}

bool DispatchSocket::isSecure() const {
  return syncValue([this] { return (flags & flagSecure) != 0; });
}

std::optional<std::string> DispatchSocket::connectedHost4() const {
  return _socket4FD == -1 ? std::nullopt : connectedHostFromSocket4(_socket4FD);
}

std::optional<std::string> DispatchSocket::connectedHost6() const {
  return _socket6FD == -1 ? std::nullopt : connectedHostFromSocket6(_socket6FD);
}

std::uint16_t DispatchSocket::connectedPort4() const {
  return _socket4FD == -1 ? 0 : connectedPortFromSocket4(_socket4FD);
}

std::uint16_t DispatchSocket::connectedPort6() const {
  return _socket6FD == -1 ? 0 : connectedPortFromSocket6(_socket6FD);
}

std::optional<std::string> DispatchSocket::localHost4() const {
  return _socket4FD == -1 ? std::nullopt : localHostFromSocket4(_socket4FD);
}

std::optional<std::string> DispatchSocket::localHost6() const {
  return _socket6FD == -1 ? std::nullopt : localHostFromSocket6(_socket6FD);
}

std::uint16_t DispatchSocket::localPort4() const {
  return _socket4FD == -1 ? 0 : localPortFromSocket4(_socket4FD);
}

std::uint16_t DispatchSocket::localPort6() const {
  return _socket6FD == -1 ? 0 : localPortFromSocket6(_socket6FD);
}

std::optional<std::string> DispatchSocket::connectedHostFromSocket4(int socketFD) {
  return askHost<sockaddr_in>(socketFD, true);
}

std::optional<std::string> DispatchSocket::connectedHostFromSocket6(int socketFD) {
  return askHost<sockaddr_in6>(socketFD, true);
}

std::uint16_t DispatchSocket::connectedPortFromSocket4(int socketFD) {
  return askPort<sockaddr_in>(socketFD, true);
}

std::uint16_t DispatchSocket::connectedPortFromSocket6(int socketFD) {
  return askPort<sockaddr_in6>(socketFD, true);
}

std::optional<std::string> DispatchSocket::localHostFromSocket4(int socketFD) {
  return askHost<sockaddr_in>(socketFD, false);
}

std::optional<std::string> DispatchSocket::localHostFromSocket6(int socketFD) {
  return askHost<sockaddr_in6>(socketFD, false);
}

std::uint16_t DispatchSocket::localPortFromSocket4(int socketFD) {
  return askPort<sockaddr_in>(socketFD, false);
}

std::uint16_t DispatchSocket::localPortFromSocket6(int socketFD) {
  return askPort<sockaddr_in6>(socketFD, false);
}

// --- Running on the socket queue, raw access ----------------------------------------------------

void DispatchSocket::markSocketQueueTargetQueue(
    const QueuePtr& socketQueuesPreConfiguredTargetQueue) {
  socketQueuesPreConfiguredTargetQueue->setSpecific(IsOnSocketQueueOrTargetQueueKey, this);
}

void DispatchSocket::unmarkSocketQueueTargetQueue(
    const QueuePtr& socketQueuesPreviouslyConfiguredTargetQueue) {
  socketQueuesPreviouslyConfiguredTargetQueue->setSpecific(IsOnSocketQueueOrTargetQueueKey,
                                                           nullptr);
}

void DispatchSocket::performBlock(const std::function<void()>& block) { runSync(block); }

int DispatchSocket::socketFD() const {
  if (!isOnSocketQueue()) return -1;
  return _socket4FD != -1 ? _socket4FD : _socket6FD;
}

int DispatchSocket::socket4FD() const { return isOnSocketQueue() ? _socket4FD : -1; }

int DispatchSocket::socket6FD() const { return isOnSocketQueue() ? _socket6FD : -1; }

bool DispatchSocket::enableBackgroundingOnSocket() {
  return enableBackgroundingOnSocketWithCaveat(false);
}

bool DispatchSocket::enableBackgroundingOnSocketWithCaveat() {
  return enableBackgroundingOnSocketWithCaveat(true);
}
