// DispatchUdpSocket: binding, connecting (queued among the sends), multicast and broadcast.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "platform/foundation/Assert.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchUdpSocket.h"

using platform::Bytes;
using platform::Error;

// --- Preconditions -------------------------------------------------------------------------------

bool DispatchUdpSocket::bothFamiliesDisabled(Error* errPtr) const {
  if ((config & udpConfigIPv4Disabled) && (config & udpConfigIPv6Disabled)) {
    *errPtr = badConfigError(
        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    return true;
  }
  return false;
}

bool DispatchUdpSocket::preBind(Error* errPtr) const {
  if (!preOp(errPtr)) return false;
  if (flags & udpFlagBound) {
    *errPtr = badConfigError("Cannot bind a socket more than once.");
    return false;
  }
  if (flags & (udpFlagConnecting | udpFlagConnected)) {
    *errPtr = badConfigError("Cannot bind after connecting. If needed, bind first, then connect.");
    return false;
  }
  return !bothFamiliesDisabled(errPtr);
}

bool DispatchUdpSocket::preConnect(Error* errPtr) const {
  if (!preOp(errPtr)) return false;
  if (flags & (udpFlagConnecting | udpFlagConnected)) {
    *errPtr = badConfigError("Cannot connect a socket more than once.");
    return false;
  }
  return !bothFamiliesDisabled(errPtr);
}

bool DispatchUdpSocket::preJoin(Error* errPtr) const {
  if (!preOp(errPtr)) return false;
  if (!(flags & udpFlagBound)) {
    *errPtr = badConfigError("Must bind a socket before joining a multicast group.");
    return false;
  }
  if (flags & (udpFlagConnecting | udpFlagConnected)) {
    *errPtr = badConfigError("Cannot join a multicast group if connected.");
    return false;
  }
  return true;
}

// --- Binding -------------------------------------------------------------------------------------

bool DispatchUdpSocket::bindToPort(std::uint16_t port, Error* errPtr) {
  return bindToPort(port, "", errPtr);
}

bool DispatchUdpSocket::bindSocket(bool ipv4, const Bytes& address, Error* errPtr) {
  int socketFD = ipv4 ? socket4FD : socket6FD;
  if (::bind(socketFD, reinterpret_cast<const sockaddr*>(address.data()),
             static_cast<socklen_t>(address.size())) == 0) {
    return true;
  }
  *errPtr = errnoErrorWithReason("Error in bind() function");
  closeSockets();
  return false;
}

bool DispatchUdpSocket::bindToPort(std::uint16_t port, const std::string& interface,
                                   Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (!preBind(err)) return false;
    std::optional<Bytes> interface4;
    std::optional<Bytes> interface6;
    DispatchSocket::getInterfaceAddress4(&interface4, &interface6, interface, port);
    if (!interface4 && !interface6) {
      *err = badParamError(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return false;
    }
    if ((config & udpConfigIPv4Disabled) && !interface6) {
      *err = badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
      return false;
    }
    if ((config & udpConfigIPv6Disabled) && !interface4) {
      *err = badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
      return false;
    }
    bool useIPv4 = !(config & udpConfigIPv4Disabled) && interface4;
    bool useIPv6 = !(config & udpConfigIPv6Disabled) && interface6;
    if (!(flags & udpFlagSocketsCreated) && !createSocket4(useIPv4, useIPv6, err)) return false;
    if ((useIPv4 && socket4FD == -1) || (useIPv6 && socket6FD == -1)) {
      *err = otherError("The socket of the interface's family is not open.");
      return false;
    }
    if (useIPv4 && !bindSocket(true, *interface4, err)) return false;
    if (useIPv6) {
      if (useIPv4 && port == 0) {
        // Both families on the one port the system chose for IPv4.
        sockaddr_in addr4{};
        socklen_t length = sizeof addr4;
        getsockname(socket4FD, reinterpret_cast<sockaddr*>(&addr4), &length);
        std::memcpy(interface6->data() + offsetof(sockaddr_in6, sin6_port), &addr4.sin_port,
                    sizeof addr4.sin_port);
      }
      if (!bindSocket(false, *interface6, err)) return false;
    }
    flags |= udpFlagBound;
    if (!useIPv4) flags |= udpFlagIPv4Deactivated;
    if (!useIPv6) flags |= udpFlagIPv6Deactivated;
    return true;
  });
}

bool DispatchUdpSocket::bindToAddress(const Bytes& localAddr, Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (!preBind(err)) return false;
    int family = familyFromAddress(localAddr);
    if (family == AF_UNSPEC) {
      *err = badParamError("A valid IPv4 or IPv6 address was not given");
      return false;
    }
    bool ipv4 = family == AF_INET;
    if (ipv4 && (config & udpConfigIPv4Disabled)) {
      *err = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
      return false;
    }
    if (!ipv4 && (config & udpConfigIPv6Disabled)) {
      *err = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
      return false;
    }
    if (!(flags & udpFlagSocketsCreated) && !createSocket4(ipv4, !ipv4, err)) return false;
    if ((ipv4 ? socket4FD : socket6FD) == -1) {
      *err = otherError(ipv4 ? "IPv4 socket is not open." : "IPv6 socket is not open.");
      return false;
    }
    if (!bindSocket(ipv4, localAddr, err)) return false;
    flags |= udpFlagBound | (ipv4 ? udpFlagIPv6Deactivated : udpFlagIPv4Deactivated);
    return true;
  });
}

// --- Connecting ----------------------------------------------------------------------------------

bool DispatchUdpSocket::connectToHost(const std::string& host, std::uint16_t port, Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (!preConnect(err)) return false;
    if (host.empty()) {
      *err = badParamError("The host param is nil. Should be domain name or IP address string.");
      return false;
    }
    if (!(flags & udpFlagSocketsCreated) && !createSockets(err)) return false;
    auto packet = std::make_shared<DispatchUdpSpecialPacket>();
    packet->resolveInProgress = true;
    asyncResolveHost(host, port,
                     [this, packet](const Addresses& addresses, const std::optional<Error>& error) {
                       packet->resolveInProgress = false;
                       packet->addresses = addresses;
                       packet->error = error;
                       maybeConnect();
                     });
    flags |= udpFlagConnecting;
    sendQueue.emplace_back(packet);
    maybeDequeueSend();
    return true;
  });
}

bool DispatchUdpSocket::connectToAddress(const Bytes& remoteAddr, Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (!preConnect(err)) return false;
    if (remoteAddr.empty()) {
      *err = badParamError("The address param is nil. Should be a valid address.");
      return false;
    }
    if (!(flags & udpFlagSocketsCreated) && !createSockets(err)) return false;
    auto packet = std::make_shared<DispatchUdpSpecialPacket>();
    packet->addresses = {remoteAddr};
    flags |= udpFlagConnecting;
    sendQueue.emplace_back(packet);
    maybeDequeueSend();
    return true;
  });
}

void DispatchUdpSocket::maybeConnect() {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  if (!currentSend ||
      !std::holds_alternative<std::shared_ptr<DispatchUdpSpecialPacket>>(*currentSend))
    return;
  auto connectPacket = std::get<std::shared_ptr<DispatchUdpSpecialPacket>>(*currentSend);
  if (connectPacket->resolveInProgress) return;
  if (connectPacket->error) {
    notifyDidNotConnect(*connectPacket->error);
  } else {
    std::optional<Bytes> address;
    Error error;
    int addressFamily = getAddress(&address, &error, connectPacket->addresses);
    if (addressFamily == AF_UNSPEC) {
      notifyDidNotConnect(error);
    } else if (connectWithAddress(addressFamily == AF_INET, *address, &error)) {
      flags |= udpFlagBound | udpFlagConnected;
      cachedConnectedAddress = address;
      cachedConnectedHost = hostFromAddress(*address);
      cachedConnectedPort = portFromAddress(*address);
      cachedConnectedFamily = addressFamily;
      notifyDidConnectToAddress(*address);
    } else {
      notifyDidNotConnect(error);
    }
  }
  flags &= ~udpFlagConnecting;
  endCurrentSend();
  maybeDequeueSend();
}

bool DispatchUdpSocket::connectWithAddress(bool ipv4, const Bytes& address, Error* errPtr) {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  int socketFD = ipv4 ? socket4FD : socket6FD;
  if (::connect(socketFD, reinterpret_cast<const sockaddr*>(address.data()),
                static_cast<socklen_t>(address.size())) != 0) {
    *errPtr = errnoErrorWithReason("Error in connect() function");
    return false;
  }
  closeSocket(!ipv4);
  flags |= ipv4 ? udpFlagIPv6Deactivated : udpFlagIPv4Deactivated;
  return true;
}

// --- Multicast and broadcast ---------------------------------------------------------------------

bool DispatchUdpSocket::joinMulticastGroup(const std::string& group, Error* errPtr) {
  return joinMulticastGroup(group, "", errPtr);
}

bool DispatchUdpSocket::joinMulticastGroup(const std::string& group, const std::string& interface,
                                           Error* errPtr) {
  return performMulticastRequest(IP_ADD_MEMBERSHIP, group, interface, errPtr);
}

bool DispatchUdpSocket::leaveMulticastGroup(const std::string& group, Error* errPtr) {
  return leaveMulticastGroup(group, "", errPtr);
}

bool DispatchUdpSocket::leaveMulticastGroup(const std::string& group, const std::string& interface,
                                            Error* errPtr) {
  return performMulticastRequest(IP_DROP_MEMBERSHIP, group, interface, errPtr);
}

bool DispatchUdpSocket::performMulticastRequest(int requestType, const std::string& group,
                                                const std::string& interface, Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (!preJoin(err)) return false;
    std::optional<Bytes> group4;
    std::optional<Bytes> group6;
    convertNumericHost(group, 0, &group4, &group6);
    if (!group4 && !group6) {
      *err = badParamError("Unknown group. Specify valid group IP address.");
      return false;
    }
    std::optional<Bytes> interface4;
    std::optional<Bytes> interface6;
    DispatchSocket::getInterfaceAddress4(&interface4, &interface6, interface, 0);
    if (!interface4 && !interface6) {
      *err = badParamError(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return false;
    }
    if (socket4FD != -1 && group4 && interface4) {
      ip_mreq imreq{};
      std::memcpy(&imreq.imr_multiaddr, group4->data() + offsetof(sockaddr_in, sin_addr),
                  sizeof imreq.imr_multiaddr);
      std::memcpy(&imreq.imr_interface, interface4->data() + offsetof(sockaddr_in, sin_addr),
                  sizeof imreq.imr_interface);
      if (setsockopt(socket4FD, IPPROTO_IP, requestType, &imreq, sizeof imreq) != 0) {
        *err = errnoErrorWithReason("Error in setsockopt() function");
        return false;
      }
      closeSocket(false);
      return true;
    }
    if (socket6FD != -1 && group6 && interface6) {
      ipv6_mreq imreq{};
      std::memcpy(&imreq.ipv6mr_multiaddr, group6->data() + offsetof(sockaddr_in6, sin6_addr),
                  sizeof imreq.ipv6mr_multiaddr);
      imreq.ipv6mr_interface = indexOfInterfaceAddr6(*interface6);
      int option = requestType == IP_ADD_MEMBERSHIP ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP;
      if (setsockopt(socket6FD, IPPROTO_IPV6, option, &imreq, sizeof imreq) != 0) {
        *err = errnoErrorWithReason("Error in setsockopt() function");
        return false;
      }
      closeSocket(true);
      return true;
    }
    *err = badParamError("Socket, group, and interface do not have matching IP versions");
    return false;
  });
}

bool DispatchUdpSocket::enableBroadcast(bool flag, Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (!preOp(err)) return false;
    if (!(flags & udpFlagSocketsCreated) && !createSockets(err)) return false;
    if (socket4FD == -1) return false;
    int value = flag ? 1 : 0;
    if (setsockopt(socket4FD, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
      *err = errnoErrorWithReason("Error in setsockopt() function");
      return false;
    }
    return true;
  });
}
