// DispatchUdpSocket: the object, configuration, notifications, errors, resolution and the
// choice of a destination family, the descriptors and their sources, and the address queries.
// Binding and connecting are in DispatchUdpSocketBinding.cpp, sending and receiving in
// DispatchUdpSocketSending.cpp and DispatchUdpSocketReceiving.cpp.

#include "sockets/dispatch/DispatchUdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>

#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Assert.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/SocketAddress.h"

using platform::Bytes;
using platform::Error;
using platform::dispatch::Priority;
using platform::dispatch::Queue;
using platform::dispatch::Source;

namespace {

using socketaddress::addressData;
using socketaddress::sockaddrFrom;

template <class Sockaddr>
std::optional<Bytes> askAddress(int socketFD, bool peer) {
  if (socketFD == -1) return std::nullopt;
  Sockaddr address{};
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  int status = peer ? getpeername(socketFD, raw, &length) : getsockname(socketFD, raw, &length);
  if (status != 0) return std::nullopt;
  return addressData(address);
}

}  // namespace

// --- Creation ------------------------------------------------------------------------------------

DispatchUdpSocket::DispatchUdpSocket() : DispatchUdpSocket(nullptr, nullptr, nullptr) {}

DispatchUdpSocket::DispatchUdpSocket(QueuePtr sq)
    : DispatchUdpSocket(nullptr, nullptr, std::move(sq)) {}

DispatchUdpSocket::DispatchUdpSocket(DelegatePtr aDelegate, QueuePtr dq)
    : DispatchUdpSocket(std::move(aDelegate), std::move(dq), nullptr) {}

DispatchUdpSocket::DispatchUdpSocket(DelegatePtr aDelegate, QueuePtr dq, QueuePtr sq)
    : _delegate(std::move(aDelegate)), _delegateQueue(std::move(dq)) {
  if (sq) {
    platform::assertThat(sq->kind() != Queue::Kind::Concurrent,
                         "The given socketQueue parameter must not be a concurrent queue.");
    socketQueue = std::move(sq);
  } else {
    socketQueue = Queue::serial("DispatchUdpSocket");
  }
  // Registered before any owner holds the socket; a delivery reaches it only while it lives.
  foregroundObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      platform::kApplicationWillEnterForegroundNotification, [this](const platform::Notification&) {
        if (auto self = weak_from_this().lock()) self->applicationWillEnterForeground();
      });
}

// Sources and queued work hold the socket, so none is left when the last reference goes; a
// socket that never made its descriptors has nothing to close either.
DispatchUdpSocket::~DispatchUdpSocket() {
  foregroundObserver_.reset();
  if (sendTimer) sendTimer->cancel();
  for (int fd : {socket4FD, socket6FD}) {
    if (fd != -1) ::close(fd);
  }
}

// --- Queue rules ---------------------------------------------------------------------------------

bool DispatchUdpSocket::isOnSocketQueue() const { return Queue::current() == socketQueue; }

void DispatchUdpSocket::runSync(const std::function<void()>& block) const {
  if (isOnSocketQueue()) {
    block();
  } else {
    socketQueue->sync(block);
  }
}

void DispatchUdpSocket::runAsync(std::function<void()> block) {
  if (isOnSocketQueue()) {
    block();
  } else {
    socketQueue->async([self = shared_from_this(), block = std::move(block)] { block(); });
  }
}

bool DispatchUdpSocket::runOperation(Error* errPtr, const std::function<bool(Error*)>& block) {
  bool result = false;
  Error err;
  bool failedWithError = false;
  runSync([&] {
    Error stepErr;
    result = block(&stepErr);
    failedWithError = !result && !stepErr.domain().empty();
    if (failedWithError) err = stepErr;
  });
  if (!result && failedWithError && errPtr) *errPtr = err;
  return result;
}

// --- Delegate and configuration ----------------------------------------------------------------

DispatchUdpSocket::DelegatePtr DispatchUdpSocket::delegate() const {
  return syncValue([this] { return _delegate; });
}

void DispatchUdpSocket::setDelegate(DelegatePtr d) {
  runAsync([this, d = std::move(d)] { _delegate = d; });
}

void DispatchUdpSocket::synchronouslySetDelegate(DelegatePtr d) {
  runSync([&] { _delegate = d; });
}

DispatchUdpSocket::QueuePtr DispatchUdpSocket::delegateQueue() const {
  return syncValue([this] { return _delegateQueue; });
}

void DispatchUdpSocket::setDelegateQueue(QueuePtr q) {
  runAsync([this, q = std::move(q)] { _delegateQueue = q; });
}

void DispatchUdpSocket::synchronouslySetDelegateQueue(QueuePtr q) {
  runSync([&] { _delegateQueue = q; });
}

void DispatchUdpSocket::getDelegate(DelegatePtr* delegatePtr, QueuePtr* delegateQueuePtr) const {
  runSync([&] {
    if (delegatePtr) *delegatePtr = _delegate;
    if (delegateQueuePtr) *delegateQueuePtr = _delegateQueue;
  });
}

void DispatchUdpSocket::setDelegate(DelegatePtr d, QueuePtr q) {
  runAsync([this, d = std::move(d), q = std::move(q)] {
    _delegate = d;
    _delegateQueue = q;
  });
}

void DispatchUdpSocket::synchronouslySetDelegate(DelegatePtr d, QueuePtr q) {
  runSync([&] {
    _delegate = d;
    _delegateQueue = q;
  });
}

void DispatchUdpSocket::setConfigBits(std::uint16_t set, std::uint16_t clear) {
  runAsync([this, set, clear] { config = static_cast<std::uint16_t>((config & ~clear) | set); });
}

bool DispatchUdpSocket::isIPv4Enabled() const {
  return syncValue([this] { return (config & udpConfigIPv4Disabled) == 0; });
}

void DispatchUdpSocket::setIPv4Enabled(bool flag) {
  flag ? setConfigBits(0, udpConfigIPv4Disabled) : setConfigBits(udpConfigIPv4Disabled, 0);
}

bool DispatchUdpSocket::isIPv6Enabled() const {
  return syncValue([this] { return (config & udpConfigIPv6Disabled) == 0; });
}

void DispatchUdpSocket::setIPv6Enabled(bool flag) {
  flag ? setConfigBits(0, udpConfigIPv6Disabled) : setConfigBits(udpConfigIPv6Disabled, 0);
}

bool DispatchUdpSocket::isIPv4Preferred() const {
  return syncValue([this] { return (config & udpConfigPreferIPv4) != 0; });
}

bool DispatchUdpSocket::isIPv6Preferred() const {
  return syncValue([this] { return (config & udpConfigPreferIPv6) != 0; });
}

bool DispatchUdpSocket::isIPVersionNeutral() const {
  return syncValue([this] { return (config & (udpConfigPreferIPv4 | udpConfigPreferIPv6)) == 0; });
}

void DispatchUdpSocket::setPreferIPv4() { setConfigBits(udpConfigPreferIPv4, udpConfigPreferIPv6); }

void DispatchUdpSocket::setPreferIPv6() { setConfigBits(udpConfigPreferIPv6, udpConfigPreferIPv4); }

void DispatchUdpSocket::setIPVersionNeutral() {
  setConfigBits(0, udpConfigPreferIPv4 | udpConfigPreferIPv6);
}

std::uint16_t DispatchUdpSocket::maxReceiveIPv4BufferSize() const {
  return syncValue([this] { return max4ReceiveSize; });
}

void DispatchUdpSocket::setMaxReceiveIPv4BufferSize(std::uint16_t max) {
  runAsync([this, max] { max4ReceiveSize = max; });
}

std::uint32_t DispatchUdpSocket::maxReceiveIPv6BufferSize() const {
  return syncValue([this] { return max6ReceiveSize; });
}

void DispatchUdpSocket::setMaxReceiveIPv6BufferSize(std::uint32_t max) {
  runAsync([this, max] { max6ReceiveSize = max; });
}

std::shared_ptr<void> DispatchUdpSocket::userData() const {
  return syncValue([this] { return _userData; });
}

void DispatchUdpSocket::setUserData(std::shared_ptr<void> u) {
  runAsync([this, u = std::move(u)] {
    if (_userData != u) _userData = u;
  });
}

// --- Notifications -------------------------------------------------------------------------------

void DispatchUdpSocket::notify(
    DispatchUdpSocketDelegate::Call which,
    std::function<void(DispatchUdpSocketDelegate&, const std::shared_ptr<DispatchUdpSocket>&)>
        call) {
  if (!_delegateQueue || !_delegate || !_delegate->answers(which)) return;
  _delegateQueue->async([theDelegate = _delegate, self = shared_from_this(),
                         call = std::move(call)] { call(*theDelegate, self); });
}

void DispatchUdpSocket::notifyDidConnectToAddress(const Bytes& anAddress) {
  notify(DispatchUdpSocketDelegate::kDidConnectToAddress, [anAddress](auto& d, const auto& self) {
    d.udpSocketDidConnectToAddress(self, anAddress);
  });
}

void DispatchUdpSocket::notifyDidNotConnect(const Error& error) {
  notify(DispatchUdpSocketDelegate::kDidNotConnect,
         [error](auto& d, const auto& self) { d.udpSocketDidNotConnect(self, error); });
}

void DispatchUdpSocket::notifyDidSendDataWithTag(long tag) {
  notify(DispatchUdpSocketDelegate::kDidSendData,
         [tag](auto& d, const auto& self) { d.udpSocketDidSendDataWithTag(self, tag); });
}

void DispatchUdpSocket::notifyDidNotSendDataWithTag(long tag, const Error& error) {
  notify(DispatchUdpSocketDelegate::kDidNotSendData, [tag, error](auto& d, const auto& self) {
    d.udpSocketDidNotSendDataWithTag(self, tag, error);
  });
}

void DispatchUdpSocket::notifyDidReceiveData(const Bytes& data, const Bytes& address,
                                             const std::shared_ptr<void>& context) {
  notify(DispatchUdpSocketDelegate::kDidReceiveData,
         [data, address, context](auto& d, const auto& self) {
           d.udpSocketDidReceiveData(self, data, address, context);
         });
}

void DispatchUdpSocket::notifyDidCloseWithError(const std::optional<Error>& error) {
  notify(DispatchUdpSocketDelegate::kDidClose,
         [error](auto& d, const auto& self) { d.udpSocketDidClose(self, error); });
}

// --- Errors and class operations ---------------------------------------------------------------

Error DispatchUdpSocket::badConfigError(const std::string& errMsg) {
  return Error::withDescription(kDispatchUdpSocketErrorDomain, kDispatchUdpSocketBadConfigError,
                                errMsg);
}

Error DispatchUdpSocket::badParamError(const std::string& errMsg) {
  return Error::withDescription(kDispatchUdpSocketErrorDomain, kDispatchUdpSocketBadParamError,
                                errMsg);
}

Error DispatchUdpSocket::gaiError(int gai_error) { return DispatchSocket::gaiError(gai_error); }

Error DispatchUdpSocket::errnoErrorWithReason(const std::string& reason) {
  return DispatchSocket::errnoErrorWithReason(reason);
}

Error DispatchUdpSocket::errnoError() { return DispatchSocket::errnoError(); }

// No "DispatchUdpSocket" strings table is supplied, so these are the default texts.
Error DispatchUdpSocket::sendTimeoutError() {
  return Error::withDescription(kDispatchUdpSocketErrorDomain, kDispatchUdpSocketSendTimeoutError,
                                "Send operation timed out");
}

Error DispatchUdpSocket::socketClosedError() {
  return Error::withDescription(kDispatchUdpSocketErrorDomain, kDispatchUdpSocketClosedError,
                                "Socket closed");
}

Error DispatchUdpSocket::otherError(const std::string& errMsg) {
  return Error::withDescription(kDispatchUdpSocketErrorDomain, kDispatchUdpSocketOtherError,
                                errMsg);
}

std::optional<std::string> DispatchUdpSocket::hostFromAddress(const Bytes& address) {
  return DispatchSocket::hostFromAddress(address);
}

std::uint16_t DispatchUdpSocket::portFromAddress(const Bytes& address) {
  return DispatchSocket::portFromAddress(address);
}

int DispatchUdpSocket::familyFromAddress(const Bytes& address) {
  sa_family_t family = socketaddress::familyOf(address);
  if (family == AF_INET && address.size() >= sizeof(sockaddr_in)) return AF_INET;
  if (family == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) return AF_INET6;
  return AF_UNSPEC;
}

bool DispatchUdpSocket::isIPv4Address(const Bytes& address) {
  return familyFromAddress(address) == AF_INET;
}

bool DispatchUdpSocket::isIPv6Address(const Bytes& address) {
  return familyFromAddress(address) == AF_INET6;
}

// --- Resolution and the choice of a family -----------------------------------------------------

bool DispatchUdpSocket::preOp(Error* errPtr) const {
  if (!_delegate) {
    *errPtr = badConfigError("Attempting to use socket without a delegate. Set a delegate first.");
    return false;
  }
  if (!_delegateQueue) {
    *errPtr = badConfigError(
        "Attempting to use socket without a delegate queue. Set a delegate queue first.");
    return false;
  }
  return true;
}

void DispatchUdpSocket::asyncResolveHost(const std::string& host, std::uint16_t port,
                                         ResolveCompletion completion) {
  auto self = shared_from_this();
  Queue::global(Priority::Default)->async([self, host, port, completion = std::move(completion)] {
    Addresses addresses;
    std::optional<Error> error;
    if (host == "localhost" || host == "loopback") {
      std::optional<Bytes> addr4;
      std::optional<Bytes> addr6;
      DispatchSocket::getInterfaceAddress4(&addr4, &addr6, host, port);
      addresses = {*addr4, *addr6};
    } else {
      addrinfo hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_DGRAM;
      hints.ai_protocol = IPPROTO_UDP;
      addrinfo* res0 = nullptr;
      int gai_error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res0);
      if (gai_error != 0) {
        error = gaiError(gai_error);
      } else {
        for (addrinfo* res = res0; res; res = res->ai_next) {
          if (res->ai_family != AF_INET && res->ai_family != AF_INET6) continue;
          const auto* first = reinterpret_cast<const std::uint8_t*>(res->ai_addr);
          addresses.emplace_back(first, first + res->ai_addrlen);
        }
        freeaddrinfo(res0);
        if (addresses.empty()) error = gaiError(EAI_FAIL);
      }
    }
    self->socketQueue->async([completion, addresses, error] { completion(addresses, error); });
  });
}

// Only a family with an open (or yet to be made), enabled and active descriptor can be chosen:
// choosing another would send through descriptor -1, whose failure closes the whole socket.
int DispatchUdpSocket::getAddress(std::optional<Bytes>* addressPtr, Error* errorPtr,
                                  const Addresses& addresses) const {
  platform::assertThat(!addresses.empty(), "Expected at least one address");
  bool hasIPv4 = false;
  bool hasIPv6 = false;
  for (const auto& address : addresses) {
    int family = familyFromAddress(address);
    platform::assertThat(family == AF_INET || family == AF_INET6,
                         "Addresses array contains invalid address");
    (family == AF_INET ? hasIPv4 : hasIPv6) = true;
  }
  auto fail = [&](const char* text) {
    if (addressPtr) addressPtr->reset();
    if (errorPtr) *errorPtr = otherError(text);
    return AF_UNSPEC;
  };
  if ((config & udpConfigIPv4Disabled) && !hasIPv6)
    return fail("IPv4 has been disabled and DNS lookup found no IPv6 address(es).");
  if ((config & udpConfigIPv6Disabled) && !hasIPv4)
    return fail("IPv6 has been disabled and DNS lookup found no IPv4 address(es).");
  if ((flags & udpFlagIPv4Deactivated) && !hasIPv6)
    return fail(
        "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 "
        "address(es).");
  if ((flags & udpFlagIPv6Deactivated) && !hasIPv4)
    return fail(
        "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 "
        "address(es).");

  const bool created = (flags & udpFlagSocketsCreated) != 0;
  auto usable = [&](int family) {
    bool ipv4 = family == AF_INET;
    if (config & (ipv4 ? udpConfigIPv4Disabled : udpConfigIPv6Disabled)) return false;
    if (flags & (ipv4 ? udpFlagIPv4Deactivated : udpFlagIPv6Deactivated)) return false;
    return !created || (ipv4 ? socket4FD : socket6FD) != -1;
  };
  const Bytes* first4 = nullptr;
  const Bytes* first6 = nullptr;
  bool ipv4First = true;
  for (const auto& address : addresses) {
    int family = familyFromAddress(address);
    if (!usable(family)) continue;
    if (family == AF_INET && !first4) {
      first4 = &address;
    } else if (family == AF_INET6 && !first6) {
      first6 = &address;
      if (!first4) ipv4First = false;
    }
    if (first4 && first6) break;
  }
  if (!first4 && !first6)
    return fail("No address of the resolved destination has an open socket of its family.");
  bool preferIPv4 = (config & udpConfigPreferIPv4) != 0;
  bool preferIPv6 = (config & udpConfigPreferIPv6) != 0;
  platform::assertThat(!(preferIPv4 && preferIPv6), "Invalid config state");
  bool useIPv4 = (preferIPv4 && first4) || !first6;
  bool useIPv6 = (preferIPv6 && first6) || !first4;
  platform::assertThat(!(useIPv4 && useIPv6), "Invalid logic");
  bool chooseIPv4 = useIPv4 || (!useIPv6 && ipv4First);
  if (addressPtr) *addressPtr = chooseIPv4 ? *first4 : *first6;
  return chooseIPv4 ? AF_INET : AF_INET6;
}

void DispatchUdpSocket::convertNumericHost(const std::string& numericHost, std::uint16_t port,
                                           std::optional<Bytes>* addr4Ptr,
                                           std::optional<Bytes>* addr6Ptr) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  addrinfo* res0 = nullptr;
  if (getaddrinfo(numericHost.c_str(), std::to_string(port).c_str(), &hints, &res0) != 0) return;
  for (addrinfo* res = res0; res; res = res->ai_next) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(res->ai_addr);
    if (res->ai_family == AF_INET && !*addr4Ptr) *addr4Ptr = Bytes(first, first + res->ai_addrlen);
    if (res->ai_family == AF_INET6 && !*addr6Ptr) *addr6Ptr = Bytes(first, first + res->ai_addrlen);
  }
  freeaddrinfo(res0);
}

bool DispatchUdpSocket::isConnectedToAddress4(const Bytes& someAddr4) const {
  platform::assertThat(flags & udpFlagConnected, "Not connected");
  platform::assertThat(cachedConnectedAddress.has_value(), "Expected cached connected address");
  if (cachedConnectedFamily != AF_INET) return false;
  auto a = sockaddrFrom<sockaddr_in>(someAddr4);
  auto b = sockaddrFrom<sockaddr_in>(*cachedConnectedAddress);
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

bool DispatchUdpSocket::isConnectedToAddress6(const Bytes& someAddr6) const {
  platform::assertThat(flags & udpFlagConnected, "Not connected");
  platform::assertThat(cachedConnectedAddress.has_value(), "Expected cached connected address");
  if (cachedConnectedFamily != AF_INET6) return false;
  auto a = sockaddrFrom<sockaddr_in6>(someAddr6);
  auto b = sockaddrFrom<sockaddr_in6>(*cachedConnectedAddress);
  return std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0 &&
         a.sin6_port == b.sin6_port;
}

std::uint32_t DispatchUdpSocket::indexOfInterfaceAddr6(const Bytes& interfaceAddr6) {
  if (interfaceAddr6.size() != sizeof(sockaddr_in6)) return 0;
  auto wanted = sockaddrFrom<sockaddr_in6>(interfaceAddr6);
  ifaddrs* addrs = nullptr;
  if (getifaddrs(&addrs) != 0) return 0;
  std::uint32_t result = 0;
  for (ifaddrs* cursor = addrs; cursor; cursor = cursor->ifa_next) {
    if (!cursor->ifa_addr || cursor->ifa_addr->sa_family != AF_INET6) continue;
    sockaddr_in6 entry;
    std::memcpy(&entry, cursor->ifa_addr, sizeof entry);
    if (std::memcmp(&entry.sin6_addr, &wanted.sin6_addr, sizeof entry.sin6_addr) == 0) {
      result = if_nametoindex(cursor->ifa_name);
      break;
    }
  }
  freeifaddrs(addrs);
  return result;
}

// --- Descriptors and sources ---------------------------------------------------------------------

bool DispatchUdpSocket::createSockets(Error* errPtr) {
  return createSocket4((config & udpConfigIPv4Disabled) == 0, (config & udpConfigIPv6Disabled) == 0,
                       errPtr);
}

bool DispatchUdpSocket::createSocket4(bool useIPv4, bool useIPv6, Error* errPtr) {
  platform::assertThat(!(flags & udpFlagSocketsCreated), "Sockets have already been created");
  auto createSocket = [&](int domain) {
    int socketFD = ::socket(domain, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socketFD == -1) {
      *errPtr = errnoErrorWithReason("Error in socket() function");
      return -1;
    }
    auto fail = [&](const char* reason) {
      *errPtr = errnoErrorWithReason(reason);
      ::close(socketFD);
      return -1;
    };
    if (fcntl(socketFD, F_SETFL, O_NONBLOCK) == -1)
      return fail("Error enabling non-blocking IO on socket (fcntl)");
    int reuseOn = 1;
    if (setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn) == -1)
      return fail("Error enabling address reuse (setsockopt)");
    if (domain == AF_INET6) {
      // The IPv4 descriptor serves IPv4: the IPv6 one must not take the IPv4 port as well.
      int v6Only = 1;
      if (setsockopt(socketFD, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only) == -1)
        return fail("Error enabling IPv6-only mode (setsockopt)");
    }
    // No SIGPIPE: datagram sends never raise it on Linux.
    return socketFD;
  };
  if (useIPv4) {
    socket4FD = createSocket(AF_INET);
    if (socket4FD == -1) return false;
  }
  if (useIPv6) {
    socket6FD = createSocket(AF_INET6);
    if (socket6FD == -1) {
      if (socket4FD != -1) {
        ::close(socket4FD);
        socket4FD = -1;
      }
      return false;
    }
  }
  if (useIPv4) setupSendAndReceiveSources(true);
  if (useIPv6) setupSendAndReceiveSources(false);
  flags |= udpFlagSocketsCreated;
  // Opened again by a bind, connect or receive: the socket is in use anew and sends again.
  sendsRefused = false;
  return true;
}

void DispatchUdpSocket::setupSendAndReceiveSources(bool ipv4) {
  const int socketFD = ipv4 ? socket4FD : socket6FD;
  auto sendSource = Source::makeWrite(socketFD, socketQueue);
  auto receiveSource = Source::makeRead(socketFD, socketQueue);
  auto self = shared_from_this();
  sendSource->setEventHandler([self, ipv4] {
    self->flags |= ipv4 ? udpFlagSocket4Writable : udpFlagSocket6Writable;
    auto packet = self->currentSendPacket();
    if (!packet || packet->resolveInProgress || packet->filterInProgress) {
      self->suspendSendSource(ipv4);
    } else {
      self->doSend();
    }
  });
  std::weak_ptr<Source> weakReceive = receiveSource;
  receiveSource->setEventHandler([self, ipv4, weakReceive] {
    auto source = weakReceive.lock();
    self->handleReadEvent(ipv4, source ? source->data() : 0);
  });
  auto liveSources = std::make_shared<int>(2);
  auto cancelHandler = [liveSources, socketFD] {
    if (--*liveSources == 0) ::close(socketFD);
  };
  sendSource->setCancelHandler(cancelHandler);
  receiveSource->setCancelHandler(cancelHandler);
  (ipv4 ? send4Source : send6Source) = std::move(sendSource);
  (ipv4 ? receive4Source : receive6Source) = std::move(receiveSource);
  (ipv4 ? socket4FDBytesAvailable : socket6FDBytesAvailable) = 0;
  flags |= ipv4 ? (udpFlagSocket4Writable | udpFlagSend4Suspended | udpFlagReceive4Suspended)
                : (udpFlagSocket6Writable | udpFlagSend6Suspended | udpFlagReceive6Suspended);
}

void DispatchUdpSocket::suspendSendSource(bool ipv4) {
  auto& source = ipv4 ? send4Source : send6Source;
  auto bit = ipv4 ? udpFlagSend4Suspended : udpFlagSend6Suspended;
  if (source && !(flags & bit)) {
    source->suspend();
    flags |= bit;
  }
}

void DispatchUdpSocket::resumeSendSource(bool ipv4) {
  auto& source = ipv4 ? send4Source : send6Source;
  auto bit = ipv4 ? udpFlagSend4Suspended : udpFlagSend6Suspended;
  if (source && (flags & bit)) {
    source->resume();
    flags &= ~bit;
  }
}

void DispatchUdpSocket::applicationWillEnterForeground() {
  runAsync([this] {
    resumeReceiveSource(true);
    resumeReceiveSource(false);
  });
}

void DispatchUdpSocket::suspendReceiveSource(bool ipv4) {
  auto& source = ipv4 ? receive4Source : receive6Source;
  auto bit = ipv4 ? udpFlagReceive4Suspended : udpFlagReceive6Suspended;
  if (source && !(flags & bit)) {
    source->suspend();
    flags |= bit;
  }
}

void DispatchUdpSocket::resumeReceiveSource(bool ipv4) {
  auto& source = ipv4 ? receive4Source : receive6Source;
  auto bit = ipv4 ? udpFlagReceive4Suspended : udpFlagReceive6Suspended;
  if (source && (flags & bit)) {
    source->resume();
    flags &= ~bit;
  }
}

void DispatchUdpSocket::closeSocket(bool ipv4) {
  int& socketFD = ipv4 ? socket4FD : socket6FD;
  if (socketFD == -1) return;
  for (auto* source :
       {ipv4 ? &send4Source : &send6Source, ipv4 ? &receive4Source : &receive6Source}) {
    (*source)->cancel();
  }
  // A suspended source runs its cancel handler, which closes the descriptor, only once resumed.
  resumeSendSource(ipv4);
  resumeReceiveSource(ipv4);
  (ipv4 ? send4Source : send6Source).reset();
  (ipv4 ? receive4Source : receive6Source).reset();
  socketFD = -1;
  (ipv4 ? socket4FDBytesAvailable : socket6FDBytesAvailable) = 0;
  flags &= ~(ipv4 ? udpFlagSocket4Writable : udpFlagSocket6Writable);
}

void DispatchUdpSocket::closeSockets() {
  closeSocket(true);
  closeSocket(false);
  flags &= ~udpFlagSocketsCreated;
}

// --- Address queries -----------------------------------------------------------------------------
// Asked of the system each time (a few system calls, never on a hot path).

std::optional<Bytes> DispatchUdpSocket::localAddress_IPv4() const {
  return syncValue([this]() -> std::optional<Bytes> {
    if (!(flags & udpFlagBound)) return std::nullopt;
    return askAddress<sockaddr_in>(socket4FD, false);
  });
}

std::optional<Bytes> DispatchUdpSocket::localAddress_IPv6() const {
  return syncValue([this]() -> std::optional<Bytes> {
    if (!(flags & udpFlagBound)) return std::nullopt;
    return askAddress<sockaddr_in6>(socket6FD, false);
  });
}

std::optional<std::string> DispatchUdpSocket::localHost_IPv4() const {
  auto address = localAddress_IPv4();
  return address ? hostFromAddress(*address) : std::nullopt;
}

std::optional<std::string> DispatchUdpSocket::localHost_IPv6() const {
  auto address = localAddress_IPv6();
  return address ? hostFromAddress(*address) : std::nullopt;
}

std::uint16_t DispatchUdpSocket::localPort_IPv4() const {
  auto address = localAddress_IPv4();
  return address ? portFromAddress(*address) : 0;
}

std::uint16_t DispatchUdpSocket::localPort_IPv6() const {
  auto address = localAddress_IPv6();
  return address ? portFromAddress(*address) : 0;
}

std::optional<Bytes> DispatchUdpSocket::localAddress() const {
  bool ipv4 = syncValue([this] { return socket4FD != -1; });
  return ipv4 ? localAddress_IPv4() : localAddress_IPv6();
}

std::optional<std::string> DispatchUdpSocket::localHost() const {
  auto address = localAddress();
  return address ? hostFromAddress(*address) : std::nullopt;
}

std::uint16_t DispatchUdpSocket::localPort() const {
  auto address = localAddress();
  return address ? portFromAddress(*address) : 0;
}

std::optional<Bytes> DispatchUdpSocket::connectedAddress() const {
  return syncValue([this] { return cachedConnectedAddress; });
}

std::optional<std::string> DispatchUdpSocket::connectedHost() const {
  return syncValue([this] { return cachedConnectedHost; });
}

std::uint16_t DispatchUdpSocket::connectedPort() const {
  return syncValue([this] { return cachedConnectedPort; });
}

bool DispatchUdpSocket::isConnected() const {
  return syncValue([this] { return (flags & udpFlagConnected) != 0; });
}

bool DispatchUdpSocket::isClosed() const {
  return syncValue([this] { return (flags & udpFlagSocketsCreated) == 0; });
}

bool DispatchUdpSocket::isIPv4() const {
  return syncValue([this] {
    if (flags & udpFlagSocketsCreated) return socket4FD != -1;
    return (config & udpConfigIPv4Disabled) == 0;
  });
}

bool DispatchUdpSocket::isIPv6() const {
  return syncValue([this] {
    if (flags & udpFlagSocketsCreated) return socket6FD != -1;
    return (config & udpConfigIPv6Disabled) == 0;
  });
}
