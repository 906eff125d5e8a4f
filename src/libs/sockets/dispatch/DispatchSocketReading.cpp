// DispatchSocket: the read side. Requests queue read packets; one read is current at a time and
// is filled by read passes, first from the read-ahead buffer, then from the descriptor with one
// system call of the size the read source announced.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/foundation/Assert.h"
#include "platform/security/SslContext.h"
#include "sockets/dispatch/DispatchReadPacket.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchSpecialPacket.h"

using platform::Bytes;
using platform::Error;

// --- Requests ------------------------------------------------------------------------------------

void DispatchSocket::readDataWithTimeout(double timeout, long tag) {
  readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                         std::size_t offset, long tag) {
  readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void DispatchSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                         std::size_t offset, std::size_t length, long tag) {
  if (offset > (buffer ? buffer->size() : 0)) return;
  queueRead(std::make_shared<DispatchReadPacket>(std::move(buffer), offset, length, timeout, 0,
                                                 std::nullopt, tag));
}

void DispatchSocket::readDataToLength(std::size_t length, double timeout, long tag) {
  readDataToLength(length, timeout, nullptr, 0, tag);
}

void DispatchSocket::readDataToLength(std::size_t length, double timeout,
                                      std::shared_ptr<Bytes> buffer, std::size_t offset, long tag) {
  if (length == 0) return;
  if (offset > (buffer ? buffer->size() : 0)) return;
  queueRead(std::make_shared<DispatchReadPacket>(std::move(buffer), offset, 0, timeout, length,
                                                 std::nullopt, tag));
}

void DispatchSocket::readDataToData(const SocketData& data, double timeout, long tag) {
  readDataToData(data, timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataToData(const SocketData& data, double timeout,
                                    std::shared_ptr<Bytes> buffer, std::size_t offset, long tag) {
  readDataToData(data, timeout, std::move(buffer), offset, 0, tag);
}

void DispatchSocket::readDataToData(const SocketData& data, double timeout, std::size_t length,
                                    long tag) {
  readDataToData(data, timeout, nullptr, 0, length, tag);
}

void DispatchSocket::readDataToData(const SocketData& data, double timeout,
                                    std::shared_ptr<Bytes> buffer, std::size_t offset,
                                    std::size_t length, long tag) {
  if (data.empty()) return;
  if (offset > (buffer ? buffer->size() : 0)) return;
  if (length > 0 && length < data.length()) return;
  queueRead(std::make_shared<DispatchReadPacket>(std::move(buffer), offset, length, timeout, 0,
                                                 data, tag));
}

// Always queued, even from the socket queue itself, so requests keep the order they were made in.
void DispatchSocket::queueRead(std::shared_ptr<DispatchReadPacket> packet) {
  socketQueue->async([self = shared_from_this(), packet = std::move(packet)] {
    if ((self->flags & flagStarted) && !(self->flags & flagRefuseRequests)) {
      self->readQueue.push_back(packet);
      if ((self->flags & flagTLSStartingRead) && self->readQueue.size() == 1) {
        self->shortenHandshakeTimer(packet->timeout);
      }
      self->maybeDequeueRead();
    }
  });
}

float DispatchSocket::progressOfReadReturningTag(long* tagPtr, std::size_t* donePtr,
                                                 std::size_t* totalPtr) const {
  return syncValue([&] {
    if (!currentRead) {
      if (tagPtr) *tagPtr = 0;
      if (donePtr) *donePtr = 0;
      if (totalPtr) *totalPtr = 0;
      return NAN;
    }
    const auto& packet = *currentRead;
    if (tagPtr) *tagPtr = packet.tag;
    if (donePtr) *donePtr = packet.bytesDone;
    if (totalPtr) *totalPtr = packet.readLength;
    if (packet.readLength == 0) return 1.0f;
    return static_cast<float>(static_cast<double>(packet.bytesDone) /
                              static_cast<double>(packet.readLength));
  });
}

// --- The read engine ---------------------------------------------------------------------------

void DispatchSocket::maybeDequeueRead() {
  assertOnSocketQueue();
  if (currentRead || (flags & flagTLSStartingRead) || !(flags & flagConnected)) return;
  if (!readQueue.empty()) {
    auto entry = std::move(readQueue.front());
    readQueue.pop_front();
    if (auto* marker = std::get_if<std::shared_ptr<DispatchSpecialPacket>>(&entry)) {
      currentTLSPacket_ = std::move(*marker);
      flags |= flagTLSStartingRead;
      maybeStartTLS();
      return;
    }
    currentRead = std::move(std::get<std::shared_ptr<DispatchReadPacket>>(entry));
    setupReadTimerWithTimeout(currentRead->timeout);
    doReadData();
  } else if (flags & flagCloseAfterReads) {
    if (flags & flagCloseAfterWrites) {
      if (writeQueue.empty() && !currentWrite && !(flags & flagTLSStartingWrite)) {
        closeWithError(std::nullopt);
      }
    } else {
      closeWithError(std::nullopt);
    }
  } else if (flags & flagSecure) {
    // Decrypted bytes may be waiting already; otherwise incoming data must be noticed.
    flushSSLBuffers();
    if (closeOnFlushedSSLFailure()) return;
    if (preBuffer.availableBytes() == 0) resumeReadSource();
  }
}

namespace {
constexpr std::size_t kOptimisticRead = 4096;  // the read-ahead buffer's first size
constexpr std::size_t kLargestOptimisticRead = 1 << 20;
}  // namespace

bool DispatchSocket::readCanGoWithoutMeasure() const {
  return currentRead && !(flags & (flagSecure | flagReadsHeld | flagTLSStartingRead | flagReadEOF));
}

std::size_t DispatchSocket::optimisticReadLength() const {
  const DispatchReadPacket& packet = *currentRead;
  if (packet.readLength > packet.bytesDone) {
    return std::clamp(packet.readLength - packet.bytesDone, kOptimisticRead,
                      kLargestOptimisticRead);
  }
  return kOptimisticRead;
}

void DispatchSocket::doReadData() {
  if ((!currentRead && !(flags & flagTLSStartingRead)) || (flags & flagReadsHeld)) {
    // Nobody can use the data now; a readable descriptor would keep the source firing.
    if (flags & flagSecure) {
      flushSSLBuffers();
      if (closeOnFlushedSSLFailure()) return;
    }
    if (socketFDBytesAvailable > 0) suspendReadSource();
    return;
  }

  // A peek made while no read could take the bytes counts only one; a plain read learns how many
  // wait from the read itself, so it asks for as much as it can take, not for that one byte.
  if (socketFDBytesAvailable > 0 && readCanGoWithoutMeasure()) {
    socketFDBytesAvailable = std::max(socketFDBytesAvailable, optimisticReadLength());
  }
  std::size_t estimatedBytesAvailable = socketFDBytesAvailable;
  if (flags & flagSecure) {
    estimatedBytesAvailable += sslPreBuffer->availableBytes() + _sslContext->bufferedReadSize();
  }
  const bool hasBytesAvailable = estimatedBytesAvailable > 0;
  if (!hasBytesAvailable && preBuffer.availableBytes() == 0) {
    resumeReadSource();
    return;
  }

  if (flags & flagTLSStartingRead) {
    // The handshake goes on once the write side has reached the marker too; until then the
    // peer's bytes wait in the descriptor.
    if (flags & flagTLSStartingWrite) {
      ssl_continueSSLHandshake();
    } else {
      suspendReadSource();
    }
    return;
  }

  // Held by this pass: completing the read releases the socket's own reference.
  const std::shared_ptr<DispatchReadPacket> packetHolder = currentRead;
  DispatchReadPacket& packet = *packetHolder;
  bool done = false;
  std::optional<Error> error;
  std::size_t totalBytesReadForCurrentRead = 0;

  // Not finding the terminator within the limit ends the read with an error.
  auto checkMaxLength = [&] {
    if (!done && packet.maxLength > 0 && packet.bytesDone >= packet.maxLength) {
      error = readMaxedOutError();
    }
  };
  // Moves what the read takes of the read-ahead buffer into the packet.
  auto takeFromPreBuffer = [&] {
    std::size_t bytesToCopy;
    if (packet.term) {
      bytesToCopy = packet.readLengthForTermWithPreBuffer(preBuffer, &done);
    } else {
      bytesToCopy = packet.readLengthForNonTermWithHint(preBuffer.availableBytes());
    }
    packet.ensureCapacityForAdditionalDataOfLength(bytesToCopy);
    std::memcpy(packet.writePosition(), preBuffer.readBuffer(), bytesToCopy);
    preBuffer.didRead(bytesToCopy);
    packet.bytesDone += bytesToCopy;
    totalBytesReadForCurrentRead += bytesToCopy;
  };

  // 1. The read-ahead buffer first.
  if (preBuffer.availableBytes() > 0) {
    takeFromPreBuffer();
    if (packet.readLength > 0) {
      done = packet.bytesDone == packet.readLength;
    } else if (packet.term) {
      checkMaxLength();
    } else {
      done = packet.maxLength > 0 && packet.bytesDone == packet.maxLength;
    }
  }

  // 2. Then the descriptor.
  bool socketEOF = (flags & flagReadEOF) != 0;
  bool waiting = !done && !error && !socketEOF && !hasBytesAvailable;
  // The engine gave all that was asked of it: it may hold more than the estimate knew of.
  bool engineMayHoldMore = false;
  if (!done && !error && !socketEOF && hasBytesAvailable) {
    platform::assertThat(preBuffer.availableBytes() == 0, "Invalid logic");

    bool readIntoPreBuffer = false;
    std::size_t bytesToRead;
    if (packet.term) {
      bytesToRead = packet.readLengthForTermWithHint(estimatedBytesAvailable, &readIntoPreBuffer);
    } else {
      bytesToRead = packet.readLengthForNonTermWithHint(estimatedBytesAvailable);
    }
    std::uint8_t* buffer;
    if (readIntoPreBuffer) {
      preBuffer.ensureCapacityForWrite(bytesToRead);
      buffer = preBuffer.writeBuffer();
    } else {
      packet.ensureCapacityForAdditionalDataOfLength(bytesToRead);
      buffer = packet.writePosition();
    }

    std::size_t bytesRead = 0;
    if (flags & flagSecure) {
      // The engine is asked until it has given all or has to stop.
      int status;
      do {
        std::size_t processed = 0;
        status = _sslContext->read(buffer + bytesRead, bytesToRead - bytesRead, &processed);
        bytesRead += processed;
      } while (bytesRead < bytesToRead && status == platform::security::kSslNoErr);
      if (status == platform::security::kSslNoErr) {
        engineMayHoldMore = true;
      } else if (status == platform::security::errSSLWouldBlock) {
        waiting = true;
      } else if (status == platform::security::errSSLClosedGraceful ||
                 status == platform::security::errSSLClosedAbort) {
        sslErrCode = status;
        socketEOF = true;
      } else {
        error = sslError(status);
      }
    } else if (ssize_t result =
                   ::read(_socket4FD != -1 ? _socket4FD : _socket6FD, buffer, bytesToRead);
               result < 0) {
      if (errno == EWOULDBLOCK) {
        waiting = true;
        readSourceDrained();
      } else {
        error = errnoErrorWithReason("Error in read() function");
      }
      socketFDBytesAvailable = 0;
    } else if (result == 0) {
      socketEOF = true;
      socketFDBytesAvailable = 0;
    } else {
      bytesRead = static_cast<std::size_t>(result);
      // A stream that gives less than was asked has nothing more to give now.
      if (bytesRead < bytesToRead) readSourceDrained();
      if (bytesRead < bytesToRead || socketFDBytesAvailable <= bytesRead) {
        socketFDBytesAvailable = 0;
      } else {
        socketFDBytesAvailable -= bytesRead;
      }
      if (socketFDBytesAvailable == 0) waiting = true;
    }

    if (bytesRead > 0) {
      if (packet.readLength > 0) {
        platform::assertThat(!readIntoPreBuffer, "Invalid logic");
        packet.bytesDone += bytesRead;
        totalBytesReadForCurrentRead += bytesRead;
        done = packet.bytesDone == packet.readLength;
      } else if (packet.term) {
        if (readIntoPreBuffer) {
          preBuffer.didWrite(bytesRead);
          takeFromPreBuffer();
        } else {
          long overflow = packet.searchForTermAfterPreBuffering(static_cast<long>(bytesRead));
          std::size_t underflow = bytesRead;
          if (overflow >= 0) {
            // Bytes past the terminator belong to the next read.
            underflow = bytesRead - static_cast<std::size_t>(overflow);
            if (overflow > 0) {
              preBuffer.ensureCapacityForWrite(static_cast<std::size_t>(overflow));
              std::memcpy(preBuffer.writeBuffer(), packet.writePosition() + underflow,
                          static_cast<std::size_t>(overflow));
              preBuffer.didWrite(static_cast<std::size_t>(overflow));
            }
            done = true;
          }
          packet.bytesDone += underflow;
          totalBytesReadForCurrentRead += underflow;
        }
        checkMaxLength();
      } else {
        packet.bytesDone += bytesRead;
        totalBytesReadForCurrentRead += bytesRead;
        done = true;
      }
    }
  }

  // 3. Completion or progress.
  if (!done && packet.readLength == 0 && !packet.term) {
    // Whatever is available: any byte completes the read.
    done = totalBytesReadForCurrentRead > 0;
  }
  if (done) {
    completeCurrentRead();
    if (!error && (!socketEOF || preBuffer.availableBytes() > 0)) maybeDequeueRead();
  } else if (totalBytesReadForCurrentRead > 0) {
    notifyDelegateOf(DispatchSocketDelegate::kDidReadPartialData,
                     DispatchSocketCallPool::Kind::ReadPartialData, packet.tag, {},
                     totalBytesReadForCurrentRead);
  }

  // 4. Aftermath.
  if (error) {
    closeWithError(error);
  } else if (socketEOF) {
    doReadEOF();
  } else if (waiting) {
    resumeReadSource();
  } else if (engineMayHoldMore && !done) {
    // The engine reads whole records, and may have taken bytes that arrived after the read
    // source counted them: the descriptor can be empty while they wait in the engine, and no
    // read event would come for them.
    resumeReadSource();
    if (sslPreBuffer->availableBytes() + _sslContext->bufferedReadSize() > 0) {
      socketQueue->async([self = shared_from_this()] { self->doReadData(); });
    }
  }
}

void DispatchSocket::doReadEOF() {
  flags |= flagReadEOF;
  if (flags & flagSecure) {
    flushSSLBuffers();
    if (closeOnFlushedSSLFailure()) return;
  }
  if (flags & (flagTLSStartingRead | flagTLSStartingWrite)) {
    // The handshake can no longer finish.
    closeWithError(sslError(platform::security::errSSLClosedAbort));
    return;
  }
  bool shouldDisconnect = false;
  if ((flags & flagReadStreamClosed) || preBuffer.availableBytes() > 0) {
    // Already reported, or later reads can still be served from the read-ahead.
  } else if (config & configHalfDuplex) {
    pollfd pfd{};
    pfd.fd = _socket4FD != -1 ? _socket4FD : _socket6FD;
    pfd.events = POLLOUT;
    ::poll(&pfd, 1, 0);
    if (pfd.revents & POLLOUT) {
      flags |= flagReadStreamClosed;
      notifyDelegate(DispatchSocketDelegate::kDidCloseReadStream,
                     [self = shared_from_this()](DispatchSocketDelegate& d) {
                       d.socketDidCloseReadStream(self);
                     });
    } else {
      shouldDisconnect = true;
    }
  } else {
    shouldDisconnect = true;
  }
  if (shouldDisconnect) {
    const bool tlsFailed =
        sslErrCode != 0 && sslErrCode != platform::security::errSSLClosedGraceful;
    closeWithError(tlsFailed ? sslError(sslErrCode) : connectionClosedError());
  } else {
    suspendReadSource();
  }
}

void DispatchSocket::completeCurrentRead() {
  platform::assertThat(currentRead != nullptr,
                       "Trying to complete current read when there is no current read.");
  auto& packet = *currentRead;
  SocketData result;
  if (packet.bufferOwner) {
    // The packet's own buffer, cut to what was read, is the result.
    packet.buffer->resize(packet.bytesDone);
    result = SocketData(packet.buffer, 0, packet.bytesDone);
  } else {
    // The caller's buffer: give back what the read grew it by beyond the bytes read, and
    // deliver a view that shares the buffer, so it outlives the packet.
    if (packet.buffer->size() > packet.originalBufferLength) {
      packet.buffer->resize(
          std::max(packet.startOffset + packet.bytesDone, packet.originalBufferLength));
    }
    result = SocketData(packet.buffer, packet.startOffset, packet.bytesDone);
  }
  notifyDelegateOf(DispatchSocketDelegate::kDidReadData, DispatchSocketCallPool::Kind::ReadData,
                   packet.tag, std::move(result));
  endCurrentRead();
}

void DispatchSocket::endCurrentRead() {
  disarmTimeoutTimer(readTimer);
  currentRead.reset();
}

// --- Read time-outs ----------------------------------------------------------------------------

void DispatchSocket::setupReadTimerWithTimeout(double timeout) {
  if (timeout >= 0.0) armTimeoutTimer(readTimer, timeout, &DispatchSocket::doReadTimeout);
}

void DispatchSocket::doReadTimeout() {
  if (!currentRead) return;
  // No read makes progress while the delegate decides.
  flags |= flagReadsHeld;
  askForExtension(
      DispatchSocketDelegate::kShouldTimeoutRead,
      [tag = currentRead->tag, elapsed = currentRead->timeout, bytesDone = currentRead->bytesDone](
          DispatchSocketDelegate& d, const std::shared_ptr<DispatchSocket>& self) {
        return d.socketShouldTimeoutReadWithTag(self, tag, elapsed, bytesDone);
      },
      &DispatchSocket::doReadTimeoutWithExtension);
}

void DispatchSocket::doReadTimeoutWithExtension(double timeoutExtension) {
  if (!currentRead) return;
  if (timeoutExtension > 0.0) {
    currentRead->timeout += timeoutExtension;
    if (readTimer) readTimer->setTimer(platform::seconds(timeoutExtension), std::nullopt);
    flags &= ~flagReadsHeld;
    doReadData();
  } else {
    closeWithError(readTimeoutError());
  }
}
