// DispatchSocket: outgoing connections. The resolver runs on the default-priority global queue
// and touches no socket state; it hands its result back to the socket queue tagged with
// `connectIndex`, which every close and time-out advances, so results of an abandoned attempt are
// dropped there. The connect itself is non-blocking, its outcome reported by a write source.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "platform/foundation/Assert.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/SocketAddress.h"

using platform::Bytes;
using platform::Error;
using platform::dispatch::Priority;
using platform::dispatch::Queue;
using platform::dispatch::Source;

using socketaddress::familyOf;

// --- Public forms
// ----------------------------------------------------------------------------------

bool DispatchSocket::connectToHost(const std::string& host, std::uint16_t port, Error* errPtr) {
  return connectToHost(host, port, "", -1.0, errPtr);
}

bool DispatchSocket::connectToHost(const std::string& host, std::uint16_t port, double timeout,
                                   Error* errPtr) {
  return connectToHost(host, port, "", timeout, errPtr);
}

bool DispatchSocket::connectToHost(const std::string& inHost, std::uint16_t port,
                                   const std::string& inInterface, double timeout, Error* errPtr) {
  std::optional<Error> err;
  bool result = false;
  const std::string host = inHost;
  const std::string interface = inInterface;
  runSync([&] {
    if (host.empty()) {
      err = badParamError(
          "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.");
      return;
    }
    Error preConnectErr;
    if (!preConnectWithInterface(interface, &preConnectErr)) {
      err = preConnectErr;
      return;
    }
    flags |= flagStarted;
    Queue::global(Priority::Default)
        ->async([self = shared_from_this(), aConnectIndex = connectIndex, host, port] {
          lookup(self, aConnectIndex, host, port);
        });
    startConnectTimeout(timeout);
    result = true;
  });
  if (!result && errPtr && err) *errPtr = *err;
  return result;
}

bool DispatchSocket::connectToAddress(const Bytes& remoteAddr, Error* errPtr) {
  return connectToAddress(remoteAddr, "", -1.0, errPtr);
}

bool DispatchSocket::connectToAddress(const Bytes& remoteAddr, double timeout, Error* errPtr) {
  return connectToAddress(remoteAddr, "", timeout, errPtr);
}

bool DispatchSocket::connectToAddress(const Bytes& inRemoteAddr, const std::string& inInterface,
                                      double timeout, Error* errPtr) {
  std::optional<Error> err;
  bool result = false;
  const Bytes remoteAddr = inRemoteAddr;
  const std::string interface = inInterface;
  runSync([&] {
    std::optional<Bytes> address4;
    std::optional<Bytes> address6;
    sa_family_t family = familyOf(remoteAddr);
    if (family == AF_INET6 && remoteAddr.size() == sizeof(sockaddr_in6)) {
      address6 = remoteAddr;
    } else if (family == AF_INET && remoteAddr.size() == sizeof(sockaddr_in)) {
      address4 = remoteAddr;
    } else {
      err = badParamError("A valid IPv4 or IPv6 address was not given");
      return;
    }
    if ((config & configIPv4Off) && address4) {
      err = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
      return;
    }
    if ((config & configIPv6Off) && address6) {
      err = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
      return;
    }
    Error stepErr;
    if (!preConnectWithInterface(interface, &stepErr) ||
        !connectWithAddress4(address4, address6, &stepErr)) {
      err = stepErr;
      return;
    }
    flags |= flagStarted;
    startConnectTimeout(timeout);
    result = true;
  });
  if (!result && errPtr && err) *errPtr = *err;
  return result;
}

// --- Steps on the socket queue
// ---------------------------------------------------------------------

bool DispatchSocket::preConnectWithInterface(const std::string& interface, Error* errPtr) {
  assertOnSocketQueue();
  if (_delegate.expired()) {
    *errPtr = badConfigError("Attempting to connect without a delegate. Set a delegate first.");
    return false;
  }
  if (!_delegateQueue) {
    *errPtr = badConfigError(
        "Attempting to connect without a delegate queue. Set a delegate queue first.");
    return false;
  }
  if (flags & flagStarted) {
    *errPtr = badConfigError(
        "Attempting to connect while connected or accepting connections. Disconnect first.");
    return false;
  }
  bool isIPv4Disabled = (config & configIPv4Off) != 0;
  bool isIPv6Disabled = (config & configIPv6Off) != 0;
  if (isIPv4Disabled && isIPv6Disabled) {
    *errPtr = badConfigError(
        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    return false;
  }
  if (!interface.empty()) {
    std::optional<Bytes> interface4;
    std::optional<Bytes> interface6;
    getInterfaceAddress4(&interface4, &interface6, interface, 0);
    if (!interface4 && !interface6) {
      *errPtr = badParamError(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return false;
    }
    if (isIPv4Disabled && !interface6) {
      *errPtr =
          badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
      return false;
    }
    if (isIPv6Disabled && !interface4) {
      *errPtr =
          badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
      return false;
    }
    connectInterface4 = std::move(interface4);
    connectInterface6 = std::move(interface6);
  }
  readQueue.clear();
  writeQueue.clear();
  return true;
}

// On the global queue.
void DispatchSocket::lookup(const std::shared_ptr<DispatchSocket>& self, int aConnectIndex,
                            const std::string& host, std::uint16_t port) {
  std::optional<Bytes> address4;
  std::optional<Bytes> address6;
  std::optional<Error> error;
  if (host == "localhost" || host == "loopback") {
    getInterfaceAddress4(&address4, &address6, host, port);
  } else {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* res0 = nullptr;
    const std::string service = std::to_string(port);
    int gai_error = getaddrinfo(host.c_str(), service.c_str(), &hints, &res0);
    if (gai_error != 0) {
      error = gaiError(gai_error);
    } else {
      for (addrinfo* res = res0; res; res = res->ai_next) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(res->ai_addr);
        if (!address4 && res->ai_family == AF_INET) {
          address4 = Bytes(first, first + res->ai_addrlen);
        } else if (!address6 && res->ai_family == AF_INET6) {
          address6 = Bytes(first, first + res->ai_addrlen);
        }
      }
      freeaddrinfo(res0);
      if (!address4 && !address6) error = gaiError(EAI_FAIL);
    }
  }
  self->socketQueue->async([self, aConnectIndex, address4, address6, error] {
    if (error) {
      self->lookup(aConnectIndex, *error);
    } else {
      self->lookup(aConnectIndex, address4, address6);
    }
  });
}

void DispatchSocket::lookup(int aConnectIndex, const std::optional<Bytes>& address4,
                            const std::optional<Bytes>& address6) {
  assertOnSocketQueue();
  platform::assertThat(address4 || address6, "Expected at least one valid address");
  if (aConnectIndex != connectIndex) return;  // this attempt was cancelled
  if ((config & configIPv4Off) && !address6) {
    closeWithError(otherError("IPv4 has been disabled and DNS lookup found no IPv6 address."));
    return;
  }
  if ((config & configIPv6Off) && !address4) {
    closeWithError(otherError("IPv6 has been disabled and DNS lookup found no IPv4 address."));
    return;
  }
  // A family switched off may still have been resolved; it must not be the one chosen.
  Error err;
  if (!connectWithAddress4((config & configIPv4Off) ? std::nullopt : address4,
                           (config & configIPv6Off) ? std::nullopt : address6, &err)) {
    closeWithError(err);
  }
}

void DispatchSocket::lookup(int aConnectIndex, const Error& error) {
  assertOnSocketQueue();
  if (aConnectIndex != connectIndex) return;
  endConnectTimeout();
  closeWithError(error);
}

bool DispatchSocket::connectWithAddress4(const std::optional<Bytes>& address4,
                                         const std::optional<Bytes>& address6, Error* errPtr) {
  assertOnSocketQueue();
  bool useIPv6 = ((config & configPreferIPv6) && address6) || !address4;
  const Bytes& address = useIPv6 ? *address6 : *address4;
  const auto& connectInterface = useIPv6 ? connectInterface6 : connectInterface4;

  int socketFD = ::socket(useIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socketFD == -1) {
    *errPtr = errnoErrorWithReason("Error in socket() function");
    return false;
  }
  if (connectInterface) {
    if (portFromAddress(*connectInterface) > 0) {
      int reuseOn = 1;
      setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn);
    }
    if (::bind(socketFD, reinterpret_cast<const sockaddr*>(connectInterface->data()),
               static_cast<socklen_t>(connectInterface->size())) != 0) {
      *errPtr = errnoErrorWithReason("Error in bind() function");
      ::close(socketFD);
      return false;
    }
  }
  (useIPv6 ? _socket6FD : _socket4FD) = socketFD;
  // No SIGPIPE on Linux comes from MSG_NOSIGNAL on every send, not from a socket option.
  // Non-blocking: a pending connect is waited for by the reactor like any other readiness, so it
  // costs a descriptor, not a thread.
  if (fcntl(socketFD, F_SETFL, O_NONBLOCK) == -1) {
    *errPtr = otherError("Error enabling non-blocking IO on socket (fcntl)");
    ::close(socketFD);
    (useIPv6 ? _socket6FD : _socket4FD) = -1;
    return false;
  }
  const int result = ::connect(socketFD, reinterpret_cast<const sockaddr*>(address.data()),
                               static_cast<socklen_t>(address.size()));
  if (result == 0 || errno == EINPROGRESS) {
    watchConnect(socketFD);
  } else {
    // Reported like a failure found later, so the delegate hears of it the same way.
    Error error = errnoErrorWithReason("Error in connect() function");
    socketQueue->async([self = shared_from_this(), aConnectIndex = connectIndex, error] {
      self->didNotConnect(aConnectIndex, error);
    });
  }
  return true;
}

// The descriptor turns writable once the connect has an outcome; until then the source's cancel
// handler owns it, so a close or time-out during the attempt frees it at once.
void DispatchSocket::watchConnect(int socketFD) {
  auto handedOver = std::make_shared<bool>(false);
  connectSource_ = Source::makeWrite(socketFD, socketQueue);
  connectHandedOver_ = handedOver;
  connectSource_->setEventHandler(
      [self = shared_from_this(), aConnectIndex = connectIndex, socketFD] {
        self->connectSourceFired(aConnectIndex, socketFD);
      });
  connectSource_->setCancelHandler([handedOver, socketFD] {
    if (!*handedOver) ::close(socketFD);
  });
  connectSource_->resume();
}

void DispatchSocket::connectSourceFired(int aConnectIndex, int socketFD) {
  if (aConnectIndex != connectIndex) return;
  int pendingError = 0;
  socklen_t pendingLength = sizeof pendingError;
  if (getsockopt(socketFD, SOL_SOCKET, SO_ERROR, &pendingError, &pendingLength) == -1) {
    pendingError = errno;
  }
  if (pendingError == 0) {
    didConnect(aConnectIndex);
    return;
  }
  errno = pendingError;
  didNotConnect(aConnectIndex, errnoErrorWithReason("Error in connect() function"));
}

void DispatchSocket::didConnect(int aConnectIndex) {
  assertOnSocketQueue();
  if (aConnectIndex != connectIndex) return;
  flags |= flagConnected;
  endConnectTimeout();
  // The connect is over: from here the descriptor belongs to the socket's read and write sources.
  int socketFD = _socket4FD != -1 ? _socket4FD : _socket6FD;
  if (connectSource_) {
    *connectHandedOver_ = true;
    connectSource_->cancel();
    connectSource_.reset();
    connectHandedOver_.reset();
  }

  auto host = connectedHost4() ? connectedHost4() : connectedHost6();
  std::uint16_t port = _socket4FD != -1 ? connectedPort4() : connectedPort6();
  notifyDelegate(DispatchSocketDelegate::kDidConnectToHost,
                 [self = shared_from_this(), host = host.value_or(""),
                  port](DispatchSocketDelegate& d) { d.socketDidConnectToHost(self, host, port); });

  setupReadAndWriteSourcesForNewlyConnectedSocket(socketFD);
  maybeDequeueRead();
  maybeDequeueWrite();
}

void DispatchSocket::didNotConnect(int aConnectIndex, const Error& error) {
  assertOnSocketQueue();
  if (aConnectIndex != connectIndex) return;
  closeWithError(error);
}

// --- Connect timeout
// -------------------------------------------------------------------------------

void DispatchSocket::startConnectTimeout(double timeout) {
  if (std::isnan(timeout) || timeout < 0.0) return;
  connectTimer = makeTimeoutTimer(timeout, &DispatchSocket::doConnectTimeout);
}

void DispatchSocket::endConnectTimeout() {
  if (connectTimer) {
    connectTimer->cancel();
    connectTimer.reset();
  }
  ++connectIndex;
  connectInterface4.reset();
  connectInterface6.reset();
}

void DispatchSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(connectTimeoutError());
}
