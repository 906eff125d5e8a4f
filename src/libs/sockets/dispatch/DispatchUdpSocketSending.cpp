// DispatchUdpSocket: the send queue. Datagrams and connect requests take their turn in one
// queue; a datagram settles its destination, passes the send filter, and is sent or waits for
// room in the socket buffer, within its time limit.

#include <cerrno>
#include <cmath>

#include "platform/foundation/Assert.h"
#include "sockets/dispatch/DispatchUdpSocket.h"

using platform::Bytes;
using platform::Error;
using platform::dispatch::Source;

std::shared_ptr<DispatchUdpSendPacket> DispatchUdpSocket::currentSendPacket() const {
  if (!currentSend) return nullptr;
  auto* packet = std::get_if<std::shared_ptr<DispatchUdpSendPacket>>(&*currentSend);
  return packet ? *packet : nullptr;
}

void DispatchUdpSocket::sendData(const Bytes& data, double timeout, long tag) {
  if (data.empty()) return;
  queueSend(
      std::make_shared<DispatchUdpSendPacket>(std::make_shared<const Bytes>(data), timeout, tag));
}

void DispatchUdpSocket::sendData(const Bytes& data, const std::string& host, std::uint16_t port,
                                 double timeout, long tag) {
  if (data.empty()) return;
  auto packet =
      std::make_shared<DispatchUdpSendPacket>(std::make_shared<const Bytes>(data), timeout, tag);
  packet->resolveInProgress = true;
  auto self = shared_from_this();
  socketQueue->async([self, packet, host, port] {
    self->asyncResolveHost(
        host, port, [self, packet](const Addresses& addresses, const std::optional<Error>& error) {
          packet->resolveInProgress = false;
          packet->resolvedAddresses = addresses;
          packet->resolveError = error;
          if (packet == self->currentSendPacket()) self->doPreSend();
        });
  });
  queueSend(std::move(packet));
}

void DispatchUdpSocket::sendData(const Bytes& data, const Bytes& remoteAddr, double timeout,
                                 long tag) {
  if (data.empty()) return;
  auto packet =
      std::make_shared<DispatchUdpSendPacket>(std::make_shared<const Bytes>(data), timeout, tag);
  packet->addressFamily = familyFromAddress(remoteAddr);
  packet->address = remoteAddr;
  queueSend(std::move(packet));
}

void DispatchUdpSocket::queueSend(std::shared_ptr<DispatchUdpSendPacket> packet) {
  // Always queued, even from the socket queue, so sends keep the order they were made in.
  socketQueue->async([self = shared_from_this(), packet = std::move(packet)] {
    // Once a close after sending is asked for, later sends are dropped like those a close
    // overtakes: sending them would open new descriptors after the close was reported.
    if (self->sendsRefused) return;
    self->sendQueue.emplace_back(packet);
    self->maybeDequeueSend();
  });
}

void DispatchUdpSocket::setSendFilter(SendFilterBlock filterBlock, QueuePtr filterQueue,
                                      bool isAsynchronous) {
  platform::assertThat(!filterBlock || filterQueue,
                       "Must provide a dispatch_queue in which to run the filter block.");
  if (!filterBlock) filterQueue = nullptr;
  runAsync([this, filterBlock = std::move(filterBlock), filterQueue = std::move(filterQueue),
            isAsynchronous] {
    sendFilterBlock = filterBlock;
    sendFilterQueue = filterQueue;
    sendFilterAsync = isAsynchronous;
  });
}

void DispatchUdpSocket::maybeDequeueSend() {
  if (currentSend) return;
  if (!(flags & udpFlagSocketsCreated)) {
    Error err;
    if (!createSockets(&err)) {
      closeWithError(err);
      return;
    }
  }
  while (!sendQueue.empty()) {
    currentSend = std::move(sendQueue.front());
    sendQueue.pop_front();
    if (std::holds_alternative<std::shared_ptr<DispatchUdpSpecialPacket>>(*currentSend)) {
      maybeConnect();
      return;
    }
    auto packet = currentSendPacket();
    if (packet->resolveError) {
      notifyDidNotSendDataWithTag(packet->tag, *packet->resolveError);
      currentSend.reset();
      continue;
    }
    doPreSend();
    break;
  }
  if (!currentSend && (flags & udpFlagCloseAfterSends)) closeWithError(std::nullopt);
}

void DispatchUdpSocket::doPreSend() {
  auto packet = currentSendPacket();
  std::optional<Error> error;
  if (flags & udpFlagConnected) {
    if (packet->resolveInProgress || packet->resolvedAddresses || packet->resolveError) {
      error = badConfigError("Cannot specify destination of packet for connected socket");
    } else {
      packet->address = cachedConnectedAddress;
      packet->addressFamily = cachedConnectedFamily;
    }
  } else if (packet->resolveInProgress) {
    if (flags & udpFlagSocket4Writable) suspendSendSource(true);
    if (flags & udpFlagSocket6Writable) suspendSendSource(false);
    return;
  } else if (packet->resolveError) {
    error = packet->resolveError;
  } else if (!packet->address && !packet->resolvedAddresses) {
    error = badConfigError("You must specify destination of packet for a non-connected socket");
  } else if (!packet->address) {
    Error pickError;
    packet->addressFamily = getAddress(&packet->address, &pickError, *packet->resolvedAddresses);
    if (packet->addressFamily == AF_UNSPEC) error = pickError;
  } else {
    // An explicit address goes through the same check as a resolved one: a family with no open,
    // enabled descriptor fails this datagram instead of the whole socket.
    Error pickError;
    if (packet->addressFamily == AF_UNSPEC) {
      error = badParamError("A valid IPv4 or IPv6 address was not given");
    } else if (getAddress(nullptr, &pickError, {*packet->address}) == AF_UNSPEC) {
      error = pickError;
    }
  }
  if (error) {
    notifyDidNotSendDataWithTag(packet->tag, *error);
    endCurrentSend();
    maybeDequeueSend();
    return;
  }
  if (!sendFilterBlock || !sendFilterQueue) {
    doSend();
    return;
  }
  auto finishFilter = [this, packet](bool allowed) {
    if (allowed) {
      doSend();
      return;
    }
    // Declined by the filter: reported as sent, never on the network.
    notifyDidSendDataWithTag(packet->tag);
    endCurrentSend();
    maybeDequeueSend();
  };
  if (sendFilterAsync) {
    packet->filterInProgress = true;
    sendFilterQueue->async(
        [self = shared_from_this(), filter = sendFilterBlock, packet, finishFilter] {
          bool allowed = filter(*packet->buffer, *packet->address, packet->tag);
          self->socketQueue->async([self, packet, allowed, finishFilter] {
            packet->filterInProgress = false;
            if (packet == self->currentSendPacket()) finishFilter(allowed);
          });
        });
  } else {
    bool allowed = sendFilterQueue->syncValue(
        [&] { return sendFilterBlock(*packet->buffer, *packet->address, packet->tag); });
    finishFilter(allowed);
  }
}

void DispatchUdpSocket::doSend() {
  auto packet = currentSendPacket();
  platform::assertThat(packet != nullptr, "Invalid logic");
  const bool ipv4 = packet->addressFamily == AF_INET;
  const int socketFD = ipv4 ? socket4FD : socket6FD;
  ssize_t result;
  if (flags & udpFlagConnected) {
    result = ::send(socketFD, packet->buffer->data(), packet->buffer->size(), MSG_NOSIGNAL);
  } else {
    result = ::sendto(socketFD, packet->buffer->data(), packet->buffer->size(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(packet->address->data()),
                      static_cast<socklen_t>(packet->address->size()));
  }
  flags |= udpFlagBound;
  if (result > 0) {
    notifyDidSendDataWithTag(packet->tag);
    endCurrentSend();
    maybeDequeueSend();
    return;
  }
  if (result == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
    flags &= ~(ipv4 ? udpFlagSocket4Writable : udpFlagSocket6Writable);
    if (!(flags & udpFlagSocket4Writable)) resumeSendSource(true);
    if (!(flags & udpFlagSocket6Writable)) resumeSendSource(false);
    if (!sendTimer && packet->timeout >= 0.0) setupSendTimerWithTimeout(packet->timeout);
    return;
  }
  if (failsOnlyThisDatagram(errno)) {
    // The socket is sound: it keeps its port, its receiving and the datagrams behind this one.
    notifyDidNotSendDataWithTag(packet->tag, errnoErrorWithReason("Error in send() function."));
    endCurrentSend();
    maybeDequeueSend();
    return;
  }
  closeWithError(errnoErrorWithReason("Error in send() function."));
}

bool DispatchUdpSocket::failsOnlyThisDatagram(int error) {
  // Too long, a broadcast not allowed, no route to the destination, or an ICMP error a connected
  // socket kept from an earlier datagram.
  switch (error) {
    case EMSGSIZE:
    case EACCES:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ECONNREFUSED:
      return true;
    default:
      return false;
  }
}

void DispatchUdpSocket::setupSendTimerWithTimeout(double timeout) {
  if (sendTimer || std::isnan(timeout) || timeout < 0.0) return;
  sendTimer = Source::makeTimer(socketQueue);
  sendTimer->setEventHandler([self = shared_from_this()] { self->doSendTimeout(); });
  sendTimer->setTimer(platform::seconds(timeout), std::nullopt);
  sendTimer->resume();
}

void DispatchUdpSocket::doSendTimeout() {
  auto packet = currentSendPacket();
  if (!packet) return;
  notifyDidNotSendDataWithTag(packet->tag, sendTimeoutError());
  endCurrentSend();
  maybeDequeueSend();
}

void DispatchUdpSocket::endCurrentSend() {
  if (sendTimer) {
    sendTimer->cancel();
    sendTimer.reset();
  }
  currentSend.reset();
}
