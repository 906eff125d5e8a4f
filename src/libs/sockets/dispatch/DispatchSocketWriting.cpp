// DispatchSocket: the write side. Requests queue write packets; one write is current at a time
// and each write pass sends what is left of it with one system call. The write source runs only
// while a write waits for room in the send buffer.

#include <sys/socket.h>

#include <cerrno>
#include <cmath>

#include "platform/foundation/Assert.h"
#include "platform/security/SslContext.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchSpecialPacket.h"
#include "sockets/dispatch/DispatchWritePacket.h"

using platform::Error;

void DispatchSocket::writeData(const SocketData& data, double timeout, long tag) {
  if (data.empty()) return;
  auto packet = std::make_shared<DispatchWritePacket>(data, timeout, tag);
  // Always queued, even from the socket queue itself, so requests keep their order.
  socketQueue->async([self = shared_from_this(), packet = std::move(packet)] {
    if ((self->flags & flagStarted) && !(self->flags & flagRefuseRequests)) {
      self->writeQueue.push_back(packet);
      if ((self->flags & flagTLSStartingWrite) && self->writeQueue.size() == 1) {
        self->shortenHandshakeTimer(packet->timeout);
      }
      self->maybeDequeueWrite();
    }
  });
}

float DispatchSocket::progressOfWriteReturningTag(long* tagPtr, std::size_t* donePtr,
                                                  std::size_t* totalPtr) const {
  return syncValue([&] {
    if (!currentWrite) {
      if (tagPtr) *tagPtr = 0;
      if (donePtr) *donePtr = 0;
      if (totalPtr) *totalPtr = 0;
      return NAN;
    }
    const auto& packet = *currentWrite;
    std::size_t total = packet.buffer.length();
    if (tagPtr) *tagPtr = packet.tag;
    if (donePtr) *donePtr = packet.bytesDone;
    if (totalPtr) *totalPtr = total;
    return static_cast<float>(static_cast<double>(packet.bytesDone) / static_cast<double>(total));
  });
}

void DispatchSocket::maybeDequeueWrite() {
  assertOnSocketQueue();
  if (currentWrite || (flags & flagTLSStartingWrite) || !(flags & flagConnected)) return;
  if (!writeQueue.empty()) {
    auto entry = std::move(writeQueue.front());
    writeQueue.pop_front();
    if (auto* marker = std::get_if<std::shared_ptr<DispatchSpecialPacket>>(&entry)) {
      currentTLSPacket_ = std::move(*marker);
      flags |= flagTLSStartingWrite;
      maybeStartTLS();
      return;
    }
    currentWrite = std::move(std::get<std::shared_ptr<DispatchWritePacket>>(entry));
    setupWriteTimerWithTimeout(currentWrite->timeout);
    doWriteData();
  } else if (flags & flagCloseAfterWrites) {
    if (flags & flagCloseAfterReads) {
      if (readQueue.empty() && !currentRead && !(flags & flagTLSStartingRead)) {
        closeWithError(std::nullopt);
      }
    } else {
      closeWithError(std::nullopt);
    }
  }
}

void DispatchSocket::doWriteData() {
  if ((!currentWrite && !(flags & flagTLSStartingWrite)) || (flags & flagWritesHeld)) {
    // Nothing to send now; a writable descriptor would keep the source firing.
    if (flags & flagWritable) suspendWriteSource();
    return;
  }
  if (!(flags & flagWritable)) {
    resumeWriteSource();
    return;
  }

  if (flags & flagTLSStartingWrite) {
    // The handshake goes on once the read side has reached the marker too.
    if (flags & flagTLSStartingRead) {
      ssl_continueSSLHandshake();
    } else {
      suspendWriteSource();
    }
    return;
  }

  DispatchWritePacket& packet = *currentWrite;
  bool waiting = false;
  std::optional<Error> error;
  std::size_t bytesWritten = 0;

  const std::uint8_t* buffer = packet.buffer.bytes() + packet.bytesDone;
  std::size_t bytesToWrite = packet.buffer.length() - packet.bytesDone;
  if (flags & flagSecure) {
    writeSecurely(buffer, bytesToWrite, &bytesWritten, &waiting, &error);
  } else {
    int socketFD = _socket4FD != -1 ? _socket4FD : _socket6FD;
    // MSG_NOSIGNAL: a peer that has gone gives EPIPE here instead of killing the process.
    ssize_t result = ::send(socketFD, buffer, bytesToWrite, MSG_NOSIGNAL);
    if (result < 0) {
      if (errno == EWOULDBLOCK) {
        waiting = true;
      } else {
        error = errnoErrorWithReason("Error in write() function");
      }
    } else {
      bytesWritten = static_cast<std::size_t>(result);
    }
  }
  if (waiting) {
    flags &= ~flagWritable;
    resumeWriteSource();
  }

  if (bytesWritten > 0) {
    packet.bytesDone += bytesWritten;
    if (packet.bytesDone == packet.buffer.length()) {
      completeCurrentWrite();
      if (!error) maybeDequeueWrite();
      return;
    }
  }
  if (!error && !waiting) {
    // A short write: the send buffer is full.
    flags &= ~flagWritable;
    resumeWriteSource();
  }
  if (bytesWritten > 0) {
    notifyDelegate(
        DispatchSocketDelegate::kDidWritePartialData,
        [self = shared_from_this(), bytesWritten, tag = packet.tag](DispatchSocketDelegate& d) {
          d.socketDidWritePartialDataOfLength(self, bytesWritten, tag);
        });
  }
  if (error) closeWithError(error);
}

void DispatchSocket::writeSecurely(const std::uint8_t* buffer, std::size_t bytesToWrite,
                                   std::size_t* bytesWritten, bool* waiting,
                                   std::optional<Error>* error) {
  namespace security = platform::security;
  // The engine's chunks, as large as its records allow.
  constexpr std::size_t kMaxChunk = 32768;
  if (sslWriteCachedLength > 0) {
    // A chunk the engine took while answering would-block counts once it is out.
    std::size_t processed = 0;
    const int status = _sslContext->write(nullptr, 0, &processed);
    if (status == security::errSSLWouldBlock) {
      *waiting = true;
      return;
    }
    if (status != security::kSslNoErr) {
      *error = sslError(status);
      return;
    }
    *bytesWritten = sslWriteCachedLength;
    sslWriteCachedLength = 0;
  }
  while (*bytesWritten < bytesToWrite) {
    const std::size_t chunk = std::min(bytesToWrite - *bytesWritten, kMaxChunk);
    std::size_t processed = 0;
    const int status = _sslContext->write(buffer + *bytesWritten, chunk, &processed);
    if (status == security::errSSLWouldBlock) {
      sslWriteCachedLength = chunk;
      *waiting = true;
      return;
    }
    if (status != security::kSslNoErr) {
      *error = sslError(status);
      return;
    }
    *bytesWritten += processed;
  }
}

void DispatchSocket::completeCurrentWrite() {
  platform::assertThat(currentWrite != nullptr,
                       "Trying to complete current write when there is no current write.");
  notifyDelegate(DispatchSocketDelegate::kDidWriteData,
                 [self = shared_from_this(), tag = currentWrite->tag](DispatchSocketDelegate& d) {
                   d.socketDidWriteDataWithTag(self, tag);
                 });
  endCurrentWrite();
}

void DispatchSocket::endCurrentWrite() {
  if (writeTimer) {
    writeTimer->cancel();
    writeTimer.reset();
  }
  currentWrite.reset();
}

// --- Write time-outs ---------------------------------------------------------------------------

void DispatchSocket::setupWriteTimerWithTimeout(double timeout) {
  if (timeout >= 0.0) writeTimer = makeTimeoutTimer(timeout, &DispatchSocket::doWriteTimeout);
}

void DispatchSocket::doWriteTimeout() {
  if (!currentWrite) return;
  flags |= flagWritesHeld;
  askForExtension(
      DispatchSocketDelegate::kShouldTimeoutWrite,
      [tag = currentWrite->tag, elapsed = currentWrite->timeout,
       bytesDone = currentWrite->bytesDone](DispatchSocketDelegate& d,
                                            const std::shared_ptr<DispatchSocket>& self) {
        return d.socketShouldTimeoutWriteWithTag(self, tag, elapsed, bytesDone);
      },
      &DispatchSocket::doWriteTimeoutWithExtension);
}

void DispatchSocket::doWriteTimeoutWithExtension(double timeoutExtension) {
  if (!currentWrite) return;
  if (timeoutExtension > 0.0) {
    currentWrite->timeout += timeoutExtension;
    if (writeTimer) writeTimer->setTimer(platform::seconds(timeoutExtension), std::nullopt);
    flags &= ~flagWritesHeld;
    doWriteData();
  } else {
    closeWithError(writeTimeoutError());
  }
}
