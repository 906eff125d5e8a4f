// RunLoopUdpSocket: the send and receive queues, their steps and time-outs.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/foundation/Assert.h"
#include "sockets/runloop/RunLoopUdpSocket.h"

using platform::Bytes;
using platform::Error;
using platform::RunLoopSource;

// --- Queueing ---

bool RunLoopUdpSocket::queueSend(const std::shared_ptr<RunLoopSendPacket>& packet) {
  theSendQueue.push_back(packet);
  scheduleDequeueSend();
  return true;
}

bool RunLoopUdpSocket::sendData(const SocketData& data, double timeout, long tag) {
  if (data.empty() || (theFlags & (kForbidSendReceive | kDidClose))) return false;
  if (!isConnected()) return false;
  return queueSend(std::make_shared<RunLoopSendPacket>(data, Bytes{}, timeout, tag));
}

bool RunLoopUdpSocket::sendData(const SocketData& data, const std::string& host, std::uint16_t port,
                                double timeout, long tag) {
  if (data.empty() || (theFlags & (kForbidSendReceive | kDidClose))) return false;
  if (theFlags & kDidConnect) return false;
  std::optional<Bytes> address4;
  std::optional<Bytes> address6;
  if (convertHost(host, port, false, &address4, &address6) != 0) return false;
  // Only a family that has both an address and a socket can carry the datagram.
  std::optional<Bytes> address;
  if (address4 && theSocket4 >= 0) {
    address = address4;
  } else if (address6 && theSocket6 >= 0) {
    address = address6;
  }
  if (!address) return false;
  return queueSend(std::make_shared<RunLoopSendPacket>(data, *address, timeout, tag));
}

bool RunLoopUdpSocket::sendData(const SocketData& data, const Bytes& address, double timeout,
                                long tag) {
  if (data.empty() || (theFlags & (kForbidSendReceive | kDidClose))) return false;
  if (theFlags & kDidConnect) return false;
  if (address.size() == sizeof(sockaddr_in)) {
    if (theSocket4 < 0) return false;
  } else if (address.size() == sizeof(sockaddr_in6)) {
    if (theSocket6 < 0) return false;
  } else {
    return false;
  }
  return queueSend(std::make_shared<RunLoopSendPacket>(data, address, timeout, tag));
}

void RunLoopUdpSocket::receiveWithTimeout(double timeout, long tag) {
  if (theFlags & (kForbidSendReceive | kDidClose)) return;
  theReceiveQueue.push_back(std::make_shared<RunLoopReceivePacket>(timeout, tag));
  scheduleDequeueReceive();
}

void RunLoopUdpSocket::scheduleDequeueSend() {
  if (theFlags & kDequeueSendScheduled) return;
  theFlags |= kDequeueSendScheduled;
  performDeferred(&RunLoopUdpSocket::maybeDequeueSend);
}

void RunLoopUdpSocket::scheduleDequeueReceive() {
  if (theFlags & kDequeueReceiveScheduled) return;
  theFlags |= kDequeueReceiveScheduled;
  performDeferred(&RunLoopUdpSocket::maybeDequeueReceive);
}

// --- Readiness ---

bool RunLoopUdpSocket::ready(int fd, short event) const {
  // Descriptor 0 is as good as any other; only -1 means "no socket".
  if (fd < 0) return false;
  pollfd p{fd, event, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & event);
}

void RunLoopUdpSocket::reenable(int fd) {
  auto& source = fd == theSocket4 ? theSource4 : theSource6;
  if (fd >= 0 && source) source->enable(RunLoopSource::kReadable | RunLoopSource::kWritable);
}

void RunLoopUdpSocket::onSocketEvent(int fd, unsigned events) {
  platform::assertThat(fd == theSocket4 || fd == theSocket6,
                       "Invalid parameter not satisfying: (sock == theSocket4) || (sock == "
                       "theSocket6)");
  // Each callback is heard once, until the socket asks for it again.
  auto& source = fd == theSocket4 ? theSource4 : theSource6;
  if (source) source->disable(events);
  bool four = fd == theSocket4;
  if (events & RunLoopSource::kReadable) {
    theFlags |= four ? kSock4HasBytesAvailable : kSock6HasBytesAvailable;
    doReceive(fd);
  }
  if ((events & RunLoopSource::kWritable) && (fd == theSocket4 || fd == theSocket6)) {
    theFlags |= four ? kSock4CanAcceptBytes : kSock6CanAcceptBytes;
    doSend(fd);
  }
}

// --- Sending ---

int RunLoopUdpSocket::socketForPacket(const RunLoopSendPacket& packet) const {
  if (theSocket4 >= 0 && theSocket6 >= 0) {
    return packet.address.size() == sizeof(sockaddr_in) ? theSocket4 : theSocket6;
  }
  return theSocket4 >= 0 ? theSocket4 : theSocket6;
}

void RunLoopUdpSocket::maybeDequeueSend() {
  theFlags &= ~kDequeueSendScheduled;
  if (theCurrentSend) return;
  if (!theSendQueue.empty()) {
    theCurrentSend = theSendQueue.front();
    theSendQueue.pop_front();
    if (theCurrentSend->timeout >= 0.0) {
      std::weak_ptr<RunLoopUdpSocket> weak = weak_from_this();
      theSendTimer = platform::Timer::create(platform::seconds(theCurrentSend->timeout), false,
                                             [weak](platform::Timer& timer) {
                                               if (auto socket = weak.lock())
                                                 socket->doSendTimeout(timer.shared_from_this());
                                             });
      for (const auto& mode : theRunLoopModes) theRunLoop->addTimer(theSendTimer, mode);
    }
    doSend(socketForPacket(*theCurrentSend));
  } else if (theFlags & kCloseAfterSends) {
    bool receiving = theCurrentReceive || !theReceiveQueue.empty();
    if (!(theFlags & kCloseAfterReceives) || !receiving) close();
  }
}

void RunLoopUdpSocket::doSend(int fd) {
  if (!theCurrentSend || fd < 0 || socketForPacket(*theCurrentSend) != fd) return;
  const std::uint16_t canAccept = fd == theSocket4 ? kSock4CanAcceptBytes : kSock6CanAcceptBytes;
  if (!(theFlags & canAccept) && !ready(fd, POLLOUT)) {
    reenable(fd);
    return;
  }
  auto packet = theCurrentSend;
  ssize_t n;
  if (theFlags & kDidConnect) {
    n = ::send(fd, packet->buffer.bytes(), packet->buffer.length(), MSG_NOSIGNAL);
  } else {
    n = ::sendto(fd, packet->buffer.bytes(), packet->buffer.length(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(packet->address.data()),
                 static_cast<socklen_t>(packet->address.size()));
  }
  theFlags &= ~canAccept;
  if (n < 0) {
    failCurrentSend(Error::posix(errno));
  } else {
    theFlags |= kDidBind;
    auto delegate = theDelegate;
    if (delegate && delegate->answers(RunLoopUdpSocketDelegate::kDidSendData)) {
      delegate->onUdpSocketDidSendDataWithTag(self(), packet->tag);
    }
    if (theCurrentSend == packet) endCurrentSend();
  }
  scheduleDequeueSend();
}

void RunLoopUdpSocket::failCurrentSend(const Error& error) {
  auto packet = theCurrentSend;
  auto delegate = theDelegate;
  if (delegate && delegate->answers(RunLoopUdpSocketDelegate::kDidNotSendData)) {
    delegate->onUdpSocketDidNotSendDataWithTag(self(), packet->tag, error);
  }
  if (theCurrentSend == packet) endCurrentSend();
}

void RunLoopUdpSocket::endCurrentSend() {
  if (theSendTimer) {
    theSendTimer->invalidate();
    theSendTimer.reset();
  }
  theCurrentSend.reset();
}

void RunLoopUdpSocket::doSendTimeout(const std::shared_ptr<platform::Timer>& timer) {
  if (timer != theSendTimer || !theCurrentSend) return;
  failCurrentSend(errorWithCode(kSendTimeoutError));
  scheduleDequeueSend();
}

// --- Receiving ---

void RunLoopUdpSocket::maybeDequeueReceive() {
  theFlags &= ~kDequeueReceiveScheduled;
  if (theCurrentReceive) return;
  if (!theReceiveQueue.empty()) {
    theCurrentReceive = theReceiveQueue.front();
    theReceiveQueue.pop_front();
    if (theCurrentReceive->timeout >= 0.0) {
      std::weak_ptr<RunLoopUdpSocket> weak = weak_from_this();
      theReceiveTimer = platform::Timer::create(
          platform::seconds(theCurrentReceive->timeout), false, [weak](platform::Timer& timer) {
            if (auto socket = weak.lock()) socket->doReceiveTimeout(timer.shared_from_this());
          });
      for (const auto& mode : theRunLoopModes) theRunLoop->addTimer(theReceiveTimer, mode);
    }
    // Alternate the family tried first, so a busy one cannot starve the other.
    if (theFlags & kFlipFlop) {
      doReceive(theSocket4);
      doReceive(theSocket6);
    } else {
      doReceive(theSocket6);
      doReceive(theSocket4);
    }
    theFlags ^= kFlipFlop;
  } else if (theFlags & kCloseAfterReceives) {
    bool sending = theCurrentSend || !theSendQueue.empty();
    if (!(theFlags & kCloseAfterSends) || !sending) close();
  }
}

void RunLoopUdpSocket::doReceive(int fd) {
  if (!theCurrentReceive || fd < 0) return;
  const bool four = fd == theSocket4;
  const std::uint16_t hasDatagram = four ? kSock4HasBytesAvailable : kSock6HasBytesAvailable;
  while (theCurrentReceive && ((theFlags & hasDatagram) || ready(fd, POLLIN))) {
    Bytes datagram(_maxReceiveBufferSize);
    sockaddr_storage source{};
    socklen_t sourceLength = four ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    ssize_t n = ::recvfrom(fd, datagram.data(), datagram.size(), 0,
                           reinterpret_cast<sockaddr*>(&source), &sourceLength);
    theFlags &= ~hasDatagram;
    if (n < 0) {
      // A readiness that someone else used up is not a failure of this receive.
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      failCurrentReceive(Error::posix(errno));
      scheduleDequeueReceive();
      return;
    }
    Bytes sourceAddress(reinterpret_cast<std::uint8_t*>(&source),
                        reinterpret_cast<std::uint8_t*>(&source) + sourceLength);
    std::string host = addressHost(sourceAddress);
    std::uint16_t port = source.ss_family == AF_INET
                             ? ntohs(reinterpret_cast<sockaddr_in*>(&source)->sin_port)
                             : ntohs(reinterpret_cast<sockaddr_in6*>(&source)->sin6_port);
    if (isConnected() && !isConnectedToHost(host, port)) continue;  // not from our peer
    datagram.resize(static_cast<std::size_t>(n));
    auto packet = theCurrentReceive;
    packet->buffer = SocketData(std::move(datagram));
    packet->host = host;
    packet->port = port;
    bool taken = true;
    auto delegate = theDelegate;
    if (delegate && delegate->answers(RunLoopUdpSocketDelegate::kDidReceiveData)) {
      taken = delegate->onUdpSocketDidReceiveData(self(), *packet->buffer, packet->tag, host, port);
    }
    if (taken) {
      if (theCurrentReceive == packet) endCurrentReceive();
      scheduleDequeueReceive();
      return;
    }
    packet->buffer.reset();
    packet->host.clear();
    packet->port = 0;
  }
  reenable(fd);
}

void RunLoopUdpSocket::failCurrentReceive(const Error& error) {
  auto packet = theCurrentReceive;
  auto delegate = theDelegate;
  if (delegate && delegate->answers(RunLoopUdpSocketDelegate::kDidNotReceiveData)) {
    delegate->onUdpSocketDidNotReceiveDataWithTag(self(), packet->tag, error);
  }
  if (theCurrentReceive == packet) endCurrentReceive();
}

void RunLoopUdpSocket::endCurrentReceive() {
  if (theReceiveTimer) {
    theReceiveTimer->invalidate();
    theReceiveTimer.reset();
  }
  theCurrentReceive.reset();
}

void RunLoopUdpSocket::doReceiveTimeout(const std::shared_ptr<platform::Timer>& timer) {
  if (timer != theReceiveTimer || !theCurrentReceive) return;
  failCurrentReceive(errorWithCode(kReceiveTimeoutError));
  scheduleDequeueReceive();
}
