// DispatchUdpSocket: receiving (once or continuously, through an optional filter) and closing.

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

#include "platform/foundation/Assert.h"
#include "sockets/dispatch/DispatchUdpSocket.h"

using platform::Bytes;
using platform::Error;

namespace {

const char* const kMustBindText =
    "Must bind socket before you can receive data. You can do this explicitly via bind, or "
    "implicitly via connect or by sending data.";

}  // namespace

bool DispatchUdpSocket::receiveOnce(Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (flags & udpFlagReceiveOnce) return true;
    if (!(flags & udpFlagSocketsCreated)) {
      *err = badConfigError(kMustBindText);
      return false;
    }
    flags |= udpFlagReceiveOnce;
    flags &= ~udpFlagReceiveContinuous;
    socketQueue->async([self = shared_from_this()] { self->doReceive(); });
    return true;
  });
}

bool DispatchUdpSocket::beginReceiving(Error* errPtr) {
  return runOperation(errPtr, [&](Error* err) {
    if (flags & udpFlagReceiveContinuous) return true;
    if (!(flags & udpFlagSocketsCreated)) {
      *err = badConfigError(kMustBindText);
      return false;
    }
    flags |= udpFlagReceiveContinuous;
    flags &= ~udpFlagReceiveOnce;
    socketQueue->async([self = shared_from_this()] { self->doReceive(); });
    return true;
  });
}

void DispatchUdpSocket::pauseReceiving() {
  runAsync([this] {
    flags &= ~(udpFlagReceiveOnce | udpFlagReceiveContinuous);
    if (socket4FDBytesAvailable > 0) suspendReceiveSource(true);
    if (socket6FDBytesAvailable > 0) suspendReceiveSource(false);
  });
}

void DispatchUdpSocket::setReceiveFilter(ReceiveFilterBlock filterBlock, QueuePtr filterQueue) {
  setReceiveFilter(std::move(filterBlock), std::move(filterQueue), true);
}

void DispatchUdpSocket::setReceiveFilter(ReceiveFilterBlock filterBlock, QueuePtr filterQueue,
                                         bool isAsynchronous) {
  platform::assertThat(!filterBlock || filterQueue,
                       "Must provide a dispatch_queue in which to run the filter block.");
  if (!filterBlock) filterQueue = nullptr;
  runAsync([this, filterBlock = std::move(filterBlock), filterQueue = std::move(filterQueue),
            isAsynchronous] {
    receiveFilterBlock = filterBlock;
    receiveFilterQueue = filterQueue;
    receiveFilterAsync = isAsynchronous;
  });
}

// The read source's count is the size of the first waiting datagram, so 0 is no end: it is an
// empty datagram, an ICMP error, or an event whose datagram was already taken. A datagram socket
// has no end of stream, so nothing here closes it.
void DispatchUdpSocket::handleReadEvent(bool ipv4, std::size_t available) {
  if (available == 0) {
    const int socketFD = ipv4 ? socket4FD : socket6FD;
    char probe;
    // MSG_TRUNC: the datagram's real length, even past the one byte offered.
    ssize_t peeked = ::recv(socketFD, &probe, 1, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (peeked < 0) {
      // Nothing waiting (stale event), or an ICMP error that the peek has consumed.
      return;
    }
    // An empty datagram still needs reading to take it off the queue.
    available = std::max<std::size_t>(static_cast<std::size_t>(peeked), 1);
  }
  (ipv4 ? socket4FDBytesAvailable : socket6FDBytesAvailable) = available;
  doReceive();
}

void DispatchUdpSocket::doReceive() {
  if (!(flags & (udpFlagReceiveOnce | udpFlagReceiveContinuous)) ||
      ((flags & udpFlagReceiveOnce) && pendingFilterOperations > 0)) {
    if (socket4FDBytesAvailable > 0) suspendReceiveSource(true);
    if (socket6FDBytesAvailable > 0) suspendReceiveSource(false);
    return;
  }
  if (socket4FDBytesAvailable == 0 && socket6FDBytesAvailable == 0) {
    resumeReceiveSource(true);
    resumeReceiveSource(false);
    return;
  }
  bool doReceive4;
  if (flags & udpFlagConnected) {
    doReceive4 = socket4FD != -1;
  } else if (socket4FDBytesAvailable > 0 && socket6FDBytesAvailable > 0) {
    doReceive4 = (flags & udpFlagAlternateReceive) != 0;
    flags ^= udpFlagAlternateReceive;
  } else {
    doReceive4 = socket4FDBytesAvailable > 0;
  }
  std::size_t& available = doReceive4 ? socket4FDBytesAvailable : socket6FDBytesAvailable;
  const int socketFD = doReceive4 ? socket4FD : socket6FD;
  platform::assertThat(available > 0 && socketFD != -1, "Invalid logic");

  std::size_t bufSize =
      std::min<std::size_t>(doReceive4 ? max4ReceiveSize : max6ReceiveSize, available);
  Bytes buffer(bufSize);
  sockaddr_storage sender{};
  socklen_t senderLength = doReceive4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  ssize_t result = ::recvfrom(socketFD, buffer.data(), bufSize, MSG_DONTWAIT,
                              reinterpret_cast<sockaddr*>(&sender), &senderLength);
  // Each recvfrom takes one whole datagram, cut or not: the count the source gave was that
  // datagram's size, and the next one's comes with the next event.
  available = 0;
  if (result == 0 || (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
    if (socket4FDBytesAvailable == 0) resumeReceiveSource(true);
    if (socket6FDBytesAvailable == 0) resumeReceiveSource(false);
    return;
  }
  if (result < 0) {
    // ICMP errors reported on a connected socket end nothing: they are the peer's news, not ours.
    if (errno == ECONNREFUSED || errno == EHOSTUNREACH || errno == ENETUNREACH) {
      if (socket4FDBytesAvailable == 0) resumeReceiveSource(true);
      if (socket6FDBytesAvailable == 0) resumeReceiveSource(false);
      return;
    }
    closeWithError(errnoErrorWithReason("Error in recvfrom() function"));
    return;
  }
  buffer.resize(static_cast<std::size_t>(result));
  const auto* first = reinterpret_cast<const std::uint8_t*>(&sender);
  Bytes address(first, first + std::min<std::size_t>(senderLength, sizeof sender));

  bool notified = false;
  bool ignored = false;
  if (flags & udpFlagConnected) {
    ignored = doReceive4 ? !isConnectedToAddress4(address) : !isConnectedToAddress6(address);
  }
  if (!ignored) {
    if (receiveFilterBlock && receiveFilterQueue) {
      if (receiveFilterAsync) {
        ++pendingFilterOperations;
        receiveFilterQueue->async([self = shared_from_this(), filter = receiveFilterBlock,
                                   data = std::move(buffer), address] {
          std::shared_ptr<void> context;
          bool allowed = filter(data, address, &context);
          self->socketQueue->async([self, allowed, data, address, context] {
            --self->pendingFilterOperations;
            if (allowed) self->notifyDidReceiveData(data, address, context);
            if (self->flags & udpFlagReceiveOnce) {
              if (allowed) {
                self->flags &= ~udpFlagReceiveOnce;
              } else if (self->pendingFilterOperations == 0) {
                self->doReceive();
              }
            }
          });
        });
        // Neither delivered nor ignored yet: the filter's answer decides.
        if (flags & udpFlagReceiveContinuous) {
          socketQueue->async([self = shared_from_this()] { self->doReceive(); });
        }
        return;
      }
      std::shared_ptr<void> context;
      bool allowed = receiveFilterQueue->syncValue(
          [&] { return receiveFilterBlock(buffer, address, &context); });
      if (allowed) {
        notifyDidReceiveData(buffer, address, context);
        notified = true;
      } else {
        ignored = true;
      }
    } else {
      notifyDidReceiveData(buffer, address, nullptr);
      notified = true;
    }
  }
  if ((flags & udpFlagReceiveOnce) && notified) {
    flags &= ~udpFlagReceiveOnce;
    if (socket4FDBytesAvailable > 0) suspendReceiveSource(true);
    if (socket6FDBytesAvailable > 0) suspendReceiveSource(false);
    return;
  }
  // Continuous, or once and still waiting for a datagram that gets through: the next pass.
  socketQueue->async([self = shared_from_this()] { self->doReceive(); });
}

void DispatchUdpSocket::closeWithError(const std::optional<Error>& error) {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  if (currentSend) endCurrentSend();
  sendQueue.clear();
  bool shouldCallDelegate = (flags & udpFlagSocketsCreated) != 0;
  closeReadAndWriteStreams();
  closeSockets();
  flags = 0;
  if (shouldCallDelegate) notifyDidCloseWithError(error);
}

void DispatchUdpSocket::close() {
  runSync([this] { closeWithError(std::nullopt); });
}

void DispatchUdpSocket::closeAfterSending() {
  runAsync([this] {
    flags |= udpFlagCloseAfterSends;
    sendsRefused = true;
    if (!currentSend && sendQueue.empty()) {
      closeWithError(std::nullopt);
    } else {
      maybeDequeueSend();
    }
  });
}
