#include "sockets/runloop/RunLoopUdpSocket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/foundation/Assert.h"

using platform::Bytes;
using platform::Error;
using platform::RunLoop;
using platform::RunLoopSource;

namespace {

constexpr const char* kNetDBDomain = "kCFStreamErrorDomainNetDB";
constexpr const char* kPOSIXStreamDomain = "kCFStreamErrorDomainPOSIX";

void setError(Error* out, Error error) {
  if (out) *out = std::move(error);
}

Error resolverError(int code, const std::string& prefix = {}) {
  return Error::withDescription(kNetDBDomain, code, prefix + gai_strerror(code));
}

template <typename Address>
Bytes bytesOf(const Address& address) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&address);
  return Bytes(p, p + sizeof address);
}

}  // namespace

std::shared_ptr<RunLoopUdpSocket> RunLoopUdpSocket::create(
    std::shared_ptr<RunLoopUdpSocketDelegate> delegate, long userData, bool enableIPv4,
    bool enableIPv6) {
  std::shared_ptr<RunLoopUdpSocket> sock(
      new RunLoopUdpSocket(std::move(delegate), userData, enableIPv4, enableIPv6));
  sock->attachSources();
  return sock;
}

std::shared_ptr<RunLoopUdpSocket> RunLoopUdpSocket::initIPv4() {
  return create(nullptr, 0, true, false);
}

std::shared_ptr<RunLoopUdpSocket> RunLoopUdpSocket::initIPv6() {
  return create(nullptr, 0, false, true);
}

RunLoopUdpSocket::RunLoopUdpSocket(std::shared_ptr<RunLoopUdpSocketDelegate> delegate,
                                   long userData, bool enableIPv4, bool enableIPv6)
    : theRunLoop(RunLoop::current()),
      theRunLoopModes{platform::kDefaultRunLoopMode},
      theDelegate(std::move(delegate)),
      theUserData(userData) {
  auto open = [](int family, int& fd) {
    fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0 || family != AF_INET6) return;
    // Each family has its own socket, so the IPv6 one must not take IPv4 traffic.
    int one = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  };
  if (enableIPv4) open(AF_INET, theSocket4);
  if (enableIPv6) open(AF_INET6, theSocket6);
}

void RunLoopUdpSocket::attachSources() {
  std::weak_ptr<RunLoopUdpSocket> weak = weak_from_this();
  auto make = [&](int fd) -> std::shared_ptr<RunLoopSource> {
    if (fd < 0) return nullptr;
    auto source = RunLoopSource::create(fd, RunLoopSource::kReadable | RunLoopSource::kWritable,
                                        [weak, fd](unsigned events) {
                                          if (auto socket = weak.lock())
                                            socket->onSocketEvent(fd, events);
                                        });
    for (const auto& mode : theRunLoopModes) theRunLoop->addSource(source, mode);
    return source;
  };
  theSource4 = make(theSocket4);
  theSource6 = make(theSocket6);
}

RunLoopUdpSocket::~RunLoopUdpSocket() {
  emptyQueues();
  closeSocket(theSocket4, theSource4);
  closeSocket(theSocket6, theSource6);
  if (theRunLoop) theRunLoop->cancelPerforms(this);
}

void RunLoopUdpSocket::raise(const char* reason) const {
  throw platform::Exception(kRunLoopUdpSocketException, reason);
}

Error RunLoopUdpSocket::errorWithCode(ErrorCode code) const {
  const char* text = "General CFSocket error";
  switch (code) {
    case kBadParamError:
      text = "remoteAddr parameter is not a valid address";
      break;
    case kIPv4UnavailableError:
      text = "IPv4 is unavailable due to binding/connecting using IPv6 only";
      break;
    case kIPv6UnavailableError:
      text =
          "IPv6 is unavailable due to binding/connecting using IPv4 only or is not supported on "
          "this platform";
      break;
    case kSendTimeoutError:
      text = "Send operation timed out";
      break;
    case kReceiveTimeoutError:
      text = "Receive operation timed out";
      break;
    default:
      break;
  }
  return Error::withDescription(kRunLoopUdpSocketErrorDomain, code, text);
}

void RunLoopUdpSocket::setDelegate(std::shared_ptr<RunLoopUdpSocketDelegate> delegate) {
  theDelegate = std::move(delegate);
}

// --- Run loop ---

void RunLoopUdpSocket::performDeferred(void (RunLoopUdpSocket::*step)()) {
  if (!theRunLoop) return;
  std::weak_ptr<RunLoopUdpSocket> weak = weak_from_this();
  theRunLoop->performAfter(
      platform::Duration::zero(),
      [weak, step] {
        if (auto socket = weak.lock()) ((*socket).*step)();
      },
      this, theRunLoopModes);
}

void RunLoopUdpSocket::afterRunLoopChange() {
  for (auto* source : {&theSource4, &theSource6}) {
    if (*source) {
      for (const auto& mode : theRunLoopModes) theRunLoop->addSource(*source, mode);
    }
  }
  for (auto* timer : {&theSendTimer, &theReceiveTimer}) {
    if (*timer) {
      for (const auto& mode : theRunLoopModes) theRunLoop->addTimer(*timer, mode);
    }
  }
  performDeferred(&RunLoopUdpSocket::maybeDequeueSend);
  performDeferred(&RunLoopUdpSocket::maybeDequeueReceive);
  performDeferred(&RunLoopUdpSocket::maybeScheduleClose);
}

void RunLoopUdpSocket::detachFromRunLoop() {
  if (theRunLoop) {
    theRunLoop->cancelPerforms(this);
    for (const auto& mode : theRunLoopModes) {
      if (theSource4) theRunLoop->removeSource(theSource4, mode);
      if (theSource6) theRunLoop->removeSource(theSource6, mode);
      if (theSendTimer) theRunLoop->removeTimer(theSendTimer, mode);
      if (theReceiveTimer) theRunLoop->removeTimer(theReceiveTimer, mode);
    }
  }
  theFlags &= ~(kDequeueSendScheduled | kDequeueReceiveScheduled);
}

bool RunLoopUdpSocket::moveToRunLoop(const std::shared_ptr<RunLoop>& runLoop) {
  platform::assertThat(!theRunLoop || theRunLoop->isCurrent(),
                       "moveToRunLoop must be called from within the current RunLoop!");
  if (!runLoop) return false;
  if (theRunLoop == runLoop) return true;
  detachFromRunLoop();
  theRunLoop = runLoop;
  afterRunLoopChange();
  return true;
}

bool RunLoopUdpSocket::setRunLoopModes(const std::vector<std::string>& modes) {
  platform::assertThat(!theRunLoop || theRunLoop->isCurrent(),
                       "setRunLoopModes must be called from within the current RunLoop!");
  if (modes.empty()) return false;
  if (modes == theRunLoopModes) return true;
  detachFromRunLoop();
  theRunLoopModes = modes;
  if (theRunLoop) afterRunLoopChange();
  return true;
}

// --- Addresses ---

std::string RunLoopUdpSocket::addressHost(const Bytes& address) {
  char text[INET6_ADDRSTRLEN];
  sa_family_t family = AF_UNSPEC;
  if (address.size() >= sizeof family) std::memcpy(&family, address.data(), sizeof family);
  const char* result = nullptr;
  if (family == AF_INET && address.size() >= sizeof(sockaddr_in)) {
    sockaddr_in a;
    std::memcpy(&a, address.data(), sizeof a);
    result = ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  } else if (family == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) {
    sockaddr_in6 a;
    std::memcpy(&a, address.data(), sizeof a);
    result = ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
  }
  if (!result) throw platform::AssertionFailure("Cannot convert address to string.");
  return result;
}

std::string RunLoopUdpSocket::hostOf(int fd, bool peer) {
  if (fd < 0) return {};
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length)
                : ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
  if (rc != 0) return {};
  std::string host = addressHost(Bytes(reinterpret_cast<std::uint8_t*>(&storage),
                                       reinterpret_cast<std::uint8_t*>(&storage) + length));
  if (peer && (theFlags & kDidConnect)) cachedConnectedHost = host;
  if (!peer && (theFlags & kDidBind)) cachedLocalHost = host;
  return host;
}

std::uint16_t RunLoopUdpSocket::portOf(int fd, bool peer) {
  if (fd < 0) return 0;
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length)
                : ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
  if (rc != 0) return 0;
  std::uint16_t port = storage.ss_family == AF_INET
                           ? ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port)
                           : ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
  if (peer && (theFlags & kDidConnect)) cachedConnectedPort = port;
  if (!peer && (theFlags & kDidBind)) cachedLocalPort = port;
  return port;
}

std::string RunLoopUdpSocket::localHost() {
  if (!cachedLocalHost.empty()) return cachedLocalHost;
  return theSocket4 >= 0 ? hostOf(theSocket4, false) : hostOf(theSocket6, false);
}

std::uint16_t RunLoopUdpSocket::localPort() {
  if (cachedLocalPort != 0) return cachedLocalPort;
  return theSocket4 >= 0 ? portOf(theSocket4, false) : portOf(theSocket6, false);
}

std::string RunLoopUdpSocket::connectedHost() {
  if (!cachedConnectedHost.empty()) return cachedConnectedHost;
  return theSocket4 >= 0 ? hostOf(theSocket4, true) : hostOf(theSocket6, true);
}

std::uint16_t RunLoopUdpSocket::connectedPort() {
  if (cachedConnectedPort != 0) return cachedConnectedPort;
  return theSocket4 >= 0 ? portOf(theSocket4, true) : portOf(theSocket6, true);
}

bool RunLoopUdpSocket::isConnected() const {
  return (theFlags & kDidConnect) && !(theFlags & kDidClose);
}

bool RunLoopUdpSocket::isConnectedToHost(const std::string& host, std::uint16_t port) {
  return connectedHost() == host && connectedPort() == port;
}

bool RunLoopUdpSocket::isClosed() const { return theFlags & kDidClose; }

unsigned RunLoopUdpSocket::maximumTransmissionUnit() const {
  int fd = theSocket4 >= 0 ? theSocket4 : theSocket6;
  if (fd < 0) return 0;
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return 0;
  std::string name;
  for (ifaddrs* ifa = list; ifa && name.empty(); ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != local.ss_family) continue;
    bool same =
        local.ss_family == AF_INET
            ? std::memcmp(&reinterpret_cast<sockaddr_in*>(ifa->ifa_addr)->sin_addr,
                          &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, sizeof(in_addr)) == 0
            : std::memcmp(&reinterpret_cast<sockaddr_in6*>(ifa->ifa_addr)->sin6_addr,
                          &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr,
                          sizeof(in6_addr)) == 0;
    if (same) name = ifa->ifa_name;
  }
  ::freeifaddrs(list);
  if (name.empty()) return 0;
  ifreq request{};
  std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", name.c_str());
  if (::ioctl(fd, SIOCGIFMTU, &request) != 0) return 0;
  return static_cast<unsigned>(request.ifr_mtu);
}

// --- Binding, connecting, options ---

int RunLoopUdpSocket::convertHost(const std::string& host, std::uint16_t port, bool passive,
                                  std::optional<Bytes>* address4,
                                  std::optional<Bytes>* address6) const {
  if (host.empty() && !passive) return EAI_NONAME;
  if (host.empty() || host == "localhost" || host == "loopback") {
    bool loopback = !host.empty();
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_port = htons(port);
    a4.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(port);
    a6.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
    if (address4) *address4 = bytesOf(a4);
    if (address6) *address6 = bytesOf(a6);
    return 0;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  if (passive) hints.ai_flags = AI_PASSIVE;
  char service[8];
  std::snprintf(service, sizeof service, "%hu", port);
  addrinfo* results = nullptr;
  int gai = ::getaddrinfo(host.c_str(), service, &hints, &results);
  if (gai != 0) return gai;
  for (addrinfo* ai = results; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && address4 && !*address4) {
      *address4 = Bytes(reinterpret_cast<std::uint8_t*>(ai->ai_addr),
                        reinterpret_cast<std::uint8_t*>(ai->ai_addr) + sizeof(sockaddr_in));
    } else if (ai->ai_family == AF_INET6 && address6 && !*address6) {
      *address6 = Bytes(reinterpret_cast<std::uint8_t*>(ai->ai_addr),
                        reinterpret_cast<std::uint8_t*>(ai->ai_addr) + sizeof(sockaddr_in6));
    }
  }
  ::freeaddrinfo(results);
  return 0;
}

void RunLoopUdpSocket::closeSocket(int& fd, std::shared_ptr<RunLoopSource>& source) {
  if (source) {
    if (theRunLoop) {
      for (const auto& mode : theRunLoopModes) theRunLoop->removeSource(source, mode);
    }
    source->invalidate();
    source.reset();
  }
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool RunLoopUdpSocket::setAddress(int fd, const Bytes& address) {
  return ::bind(fd, reinterpret_cast<const sockaddr*>(address.data()),
                static_cast<socklen_t>(address.size())) == 0;
}

bool RunLoopUdpSocket::bindToPort(std::uint16_t port, Error* error) {
  return bindToAddress("", port, error);
}

bool RunLoopUdpSocket::bindToAddress(const std::string& host, std::uint16_t port, Error* error) {
  if (theFlags & kDidClose) raise("The socket is closed.");
  if (theFlags & kDidBind) raise("Cannot bind a socket more than once.");
  if (theFlags & kDidConnect)
    raise("Cannot bind after connecting. If needed, bind first, then connect.");
  std::optional<Bytes> address4;
  std::optional<Bytes> address6;
  if (int gai = convertHost(host, port, true, &address4, &address6); gai != 0) {
    setError(error, resolverError(gai));
    return false;
  }
  platform::assertThat(address4 || address6, "address4 and address6 are nil");
  for (int fd : {theSocket4, theSocket6}) {
    int one = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  if (address4) {
    if (theSocket4 >= 0) {
      if (!setAddress(theSocket4, *address4)) {
        setError(error, errorWithCode(kCFSocketError));
        return false;
      }
      if (!address6) closeSocket(theSocket6, theSource6);
    } else if (!address6) {
      setError(error, errorWithCode(kIPv4UnavailableError));
      return false;
    }
  }
  if (address6) {
    if (theSocket6 >= 0) {
      if (!setAddress(theSocket6, *address6)) {
        setError(error, errorWithCode(kCFSocketError));
        return false;
      }
      if (!address4) closeSocket(theSocket4, theSource4);
    } else if (!address4) {
      setError(error, errorWithCode(kIPv6UnavailableError));
      return false;
    }
  }
  theFlags |= kDidBind;
  return true;
}

bool RunLoopUdpSocket::connectToHost(const std::string& host, std::uint16_t port, Error* error) {
  if (theFlags & kDidClose) raise("The socket is closed.");
  if (theFlags & kDidConnect) raise("Cannot connect a socket more than once.");
  std::optional<Bytes> address4;
  std::optional<Bytes> address6;
  if (int gai = convertHost(host, port, false, &address4, &address6); gai != 0) {
    setError(error, resolverError(gai));
    return false;
  }
  platform::assertThat(address4 || address6, "address4 and address6 are nil");
  auto connectOne = [&](int fd, const Bytes& address) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(address.data()),
                  static_cast<socklen_t>(address.size())) != 0) {
      setError(error, errorWithCode(kCFSocketError));
      return false;
    }
    theFlags |= kDidConnect;
    return true;
  };
  if (address4 && theSocket4 >= 0) {
    if (!connectOne(theSocket4, *address4)) return false;
    closeSocket(theSocket6, theSource6);
    return true;
  }
  if (address4 && !address6) {
    setError(error, errorWithCode(kIPv4UnavailableError));
    return false;
  }
  if (address6) {
    if (theSocket6 < 0) {
      setError(error, errorWithCode(kIPv6UnavailableError));
      return false;
    }
    if (!connectOne(theSocket6, *address6)) return false;
    closeSocket(theSocket4, theSource4);
    return true;
  }
  setError(error, Error());
  return false;
}

bool RunLoopUdpSocket::connectToAddress(const Bytes& remoteAddr, Error* error) {
  if (theFlags & kDidClose) raise("The socket is closed.");
  if (theFlags & kDidConnect) raise("Cannot connect a socket more than once.");
  int* fd = nullptr;
  if (remoteAddr.size() == sizeof(sockaddr_in)) {
    fd = &theSocket4;
  } else if (remoteAddr.size() == sizeof(sockaddr_in6)) {
    fd = &theSocket6;
  } else {
    setError(error, errorWithCode(kBadParamError));
    return false;
  }
  if (*fd < 0) {
    setError(error,
             errorWithCode(fd == &theSocket4 ? kIPv4UnavailableError : kIPv6UnavailableError));
    return false;
  }
  if (::connect(*fd, reinterpret_cast<const sockaddr*>(remoteAddr.data()),
                static_cast<socklen_t>(remoteAddr.size())) != 0) {
    setError(error, errorWithCode(kCFSocketError));
    return false;
  }
  theFlags |= kDidConnect;
  if (fd == &theSocket4) {
    closeSocket(theSocket6, theSource6);
  } else {
    closeSocket(theSocket4, theSource4);
  }
  return true;
}

bool RunLoopUdpSocket::joinMulticastGroup(const std::string& group, Error* error) {
  return joinMulticastGroup(group, "", error);
}

bool RunLoopUdpSocket::joinMulticastGroup(const std::string& group,
                                          const std::string& interfaceAddress, Error* error) {
  if (theFlags & kDidClose) raise("The socket is closed.");
  if (!(theFlags & kDidBind)) raise("Must bind a socket before joining a multicast group.");
  if (theFlags & kDidConnect) raise("Cannot join a multicast group if connected.");
  std::optional<Bytes> address4;
  std::optional<Bytes> address6;
  if (int gai = convertHost(interfaceAddress, 0, true, &address4, &address6); gai != 0) {
    setError(error, resolverError(gai, "Invalid parameter 'address': "));
    return false;
  }
  std::optional<Bytes> group4;
  std::optional<Bytes> group6;
  if (int gai = convertHost(group, 0, true, &group4, &group6); gai != 0) {
    setError(error, resolverError(gai, "Invalid parameter 'group': "));
    return false;
  }
  platform::assertThat(address4 || address6, "address4 and address6 are nil");
  platform::assertThat(group4 || group6, "group4 and group6 are nil");
  if (theSocket4 >= 0 && group4 && address4) {
    ip_mreq request{};
    request.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(group4->data())->sin_addr;
    request.imr_interface = reinterpret_cast<const sockaddr_in*>(address4->data())->sin_addr;
    if (::setsockopt(theSocket4, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
      setError(error, Error::withDescription(kPOSIXStreamDomain, -1,
                                             "Unable to join IPv4 multicast group"));
      return false;
    }
    closeSocket(theSocket6, theSource6);
    return true;
  }
  if (theSocket6 >= 0 && group6 && address6) {
    ipv6_mreq request{};
    request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6*>(group6->data())->sin6_addr;
    request.ipv6mr_interface = 0;
    if (::setsockopt(theSocket6, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request) != 0) {
      setError(error, Error::withDescription(kPOSIXStreamDomain, -1,
                                             "Unable to join IPv6 multicast group"));
      return false;
    }
    closeSocket(theSocket4, theSource4);
    return true;
  }
  setError(error, Error::withDescription(kRunLoopUdpSocketErrorDomain, kBadParamError,
                                         "Invalid group and/or address, not matching existing "
                                         "socket(s)"));
  return false;
}

bool RunLoopUdpSocket::enableBroadcast(bool flag, Error* error) {
  if (theSocket4 < 0) return true;
  int value = flag ? 1 : 0;
  if (::setsockopt(theSocket4, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
    setError(error, Error::withDescription(kPOSIXStreamDomain, -1,
                                           "Unable to enable broadcast message sending"));
    return false;
  }
  return true;
}

// --- Closing ---

void RunLoopUdpSocket::emptyQueues() {
  if (theCurrentSend) endCurrentSend();
  if (theCurrentReceive) endCurrentReceive();
  theSendQueue.clear();
  theReceiveQueue.clear();
  if (theRunLoop) theRunLoop->cancelPerforms(this);
  theFlags &= ~(kDequeueSendScheduled | kDequeueReceiveScheduled);
}

void RunLoopUdpSocket::close() {
  emptyQueues();
  closeSocket(theSocket4, theSource4);
  closeSocket(theSocket6, theSource6);
  auto runLoop = std::move(theRunLoop);
  theRunLoop.reset();
  auto delegate = theDelegate;
  if (runLoop && delegate && delegate->answers(RunLoopUdpSocketDelegate::kDidClose)) {
    // Told one pass later; the deferred call holds the socket so the delegate gets it whole.
    auto me = self();
    runLoop->performAfter(
        platform::Duration::zero(), [delegate, me] { delegate->onUdpSocketDidClose(me); },
        delegate.get(), theRunLoopModes);
  }
  theFlags |= kDidClose;
}

void RunLoopUdpSocket::closeAfterSending() {
  if (theFlags & kDidClose) return;
  theFlags |= kForbidSendReceive | kCloseAfterSends;
  maybeScheduleClose();
}

void RunLoopUdpSocket::closeAfterReceiving() {
  if (theFlags & kDidClose) return;
  theFlags |= kForbidSendReceive | kCloseAfterReceives;
  maybeScheduleClose();
}

void RunLoopUdpSocket::closeAfterSendingAndReceiving() {
  if (theFlags & kDidClose) return;
  theFlags |= kForbidSendReceive | kCloseAfterSends | kCloseAfterReceives;
  maybeScheduleClose();
}

void RunLoopUdpSocket::maybeScheduleClose() {
  bool sending = theCurrentSend || !theSendQueue.empty();
  bool receiving = theCurrentReceive || !theReceiveQueue.empty();
  bool due = false;
  if (theFlags & kCloseAfterSends) {
    due = !sending && (!(theFlags & kCloseAfterReceives) || !receiving);
  } else if (theFlags & kCloseAfterReceives) {
    due = !receiving;
  }
  if (due) performDeferred(&RunLoopUdpSocket::close);
}
