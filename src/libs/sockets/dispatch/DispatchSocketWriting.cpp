// DispatchSocket: the write side. Requests queue write packets; one write is current at a time
// and each write pass sends what is left of it: its bytes in memory in one gathered system call,
// then any stretch of a file it names (sendfile; under TLS, read and encrypted). The write source
// runs only while a write waits for room in the send buffer.

#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <mutex>

#include "platform/foundation/Assert.h"
#include "platform/security/SslContext.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchSpecialPacket.h"
#include "sockets/dispatch/DispatchWritePacket.h"

using platform::Error;

namespace {

// sendfile takes no MSG_NOSIGNAL, and no check before it can rule SIGPIPE out: a peer that
// half-closes and then answers our bytes with a reset sets EPIPE as the socket's error during
// the very call, and the kernel raises the signal for the whole process, so blocking it on this
// thread only hands it to another. A process that sends files therefore ignores SIGPIPE (set
// once, and only while it has its default action, which would end the process); every other
// write already asks for none.
void ignoreSigpipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      sigaction(SIGPIPE, &ignore, nullptr);
    }
  });
}

}  // namespace

void DispatchSocket::writeData(const SocketData& data, double timeout, long tag) {
  if (data.empty()) return;
  enqueueWrite(std::make_shared<DispatchWritePacket>(data, timeout, tag));
}

void DispatchSocket::writeData(const SocketData& head, const SocketData& body, double timeout,
                               long tag) {
  if (head.empty() && body.empty()) return;
  enqueueWrite(std::make_shared<DispatchWritePacket>(head, body, timeout, tag));
}

void DispatchSocket::writeFile(const SocketData& head, std::shared_ptr<const SocketFile> file,
                               std::uint64_t offset, std::size_t length, double timeout, long tag,
                               bool partOfLongStream) {
  if (!file) length = 0;
  if (head.empty() && length == 0) return;
  if (length > 0) ignoreSigpipeOnce();
  auto packet =
      std::make_shared<DispatchWritePacket>(head, std::move(file), offset, length, timeout, tag);
  packet->copyFile = partOfLongStream || length >= kLongFileStream;
  enqueueWrite(std::move(packet));
}

void DispatchSocket::enqueueWrite(std::shared_ptr<DispatchWritePacket> packet) {
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
    std::size_t total = packet.length();
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
  if (flags & flagSecure) {
    writePacketSecurely(packet, &bytesWritten, &waiting, &error);
  } else {
    writePlainly(packet, &bytesWritten, &waiting, &error);
  }
  if (waiting) {
    flags &= ~flagWritable;
    resumeWriteSource();
  }

  if (bytesWritten > 0) {
    packet.bytesDone += bytesWritten;
    if (packet.bytesDone == packet.length()) {
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
    notifyDelegateOf(DispatchSocketDelegate::kDidWritePartialData,
                     DispatchSocketCallPool::Kind::WritePartialData, packet.tag, {}, bytesWritten);
  }
  if (error) closeWithError(error);
}

namespace {
// The most of a file copied through the socket's buffer for one system call.
constexpr std::size_t kCopyPiece = 256 * 1024;
}  // namespace

// The bytes in memory go out gathered in one call. The stretch of a file that follows comes from
// the page cache (the head held back so that it leaves with it), or, for a long stream, is read
// piece by piece into the socket's buffer and gathered with what is left of the memory. A call that
// takes less than it was offered means the send buffer is full, so the pass ends.
void DispatchSocket::writePlainly(DispatchWritePacket& packet, std::size_t* bytesWritten,
                                  bool* waiting, std::optional<Error>* error) {
  const int socketFD = _socket4FD != -1 ? _socket4FD : _socket6FD;
  const std::size_t memoryLength = packet.memoryLength();
  const std::size_t total = packet.length();
  const bool copyFile = packet.copyFile;
  while (packet.bytesDone + *bytesWritten < total) {
    const std::size_t at = packet.bytesDone + *bytesWritten;
    iovec pieces[3];
    int count = 0;
    std::size_t offered = 0;
    std::size_t skip = at;
    for (const SocketData* piece : {&packet.buffer, &packet.body}) {
      if (skip >= piece->length()) {
        skip -= piece->length();
        continue;
      }
      pieces[count].iov_base = const_cast<std::uint8_t*>(piece->bytes() + skip);
      pieces[count].iov_len = piece->length() - skip;
      offered += pieces[count].iov_len;
      ++count;
      skip = 0;
    }
    const std::size_t fileAt = std::max(at, memoryLength) - memoryLength;
    ssize_t result;
    if (copyFile && at + offered < total) {
      const std::size_t length = std::min(packet.fileLength - fileAt, kCopyPiece);
      if (fileBuffer_.size() < length) fileBuffer_.resize(kCopyPiece);
      ssize_t got = ::pread(packet.file->fd(), fileBuffer_.data(), length,
                            static_cast<off_t>(packet.fileOffset + fileAt));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        *error = errnoErrorWithReason("Error in pread() function");
        return;
      }
      if (got == 0 && count == 0) {
        // What was in memory is out: the peer sees it, then the close.
        *error = otherError("The file ended before the bytes to write from it were sent");
        return;
      }
      if (got > 0) {
        pieces[count].iov_base = fileBuffer_.data();
        pieces[count].iov_len = static_cast<std::size_t>(got);
        offered += pieces[count].iov_len;
        ++count;
      }
    }
    if (count > 0) {
      msghdr message{};
      message.msg_iov = pieces;
      message.msg_iovlen = static_cast<std::size_t>(count);
      // MSG_NOSIGNAL: a peer that has gone gives EPIPE here instead of killing the process.
      // MSG_MORE: bytes from the file follow at once, so the head does not leave alone.
      const bool fileFollows = at + offered < total;
      result = ::sendmsg(socketFD, &message, MSG_NOSIGNAL | (fileFollows ? MSG_MORE : 0));
    } else {
      off_t from = static_cast<off_t>(packet.fileOffset + fileAt);
      offered = total - at;
      result = ::sendfile(socketFD, packet.file->fd(), &from, offered);
      if (result == 0) {
        *error = otherError("The file ended before the bytes to write from it were sent");
        return;
      }
    }
    if (result < 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) {
        *waiting = true;
        writeSourceDrained();
      } else {
        *error =
            errnoErrorWithReason(at < memoryLength || copyFile ? "Error in write() function"
                                                               : "Error in sendfile() function");
      }
      return;
    }
    *bytesWritten += static_cast<std::size_t>(result);
    if (static_cast<std::size_t>(result) < offered) {
      writeSourceDrained();  // the send buffer took what it had room for
      return;
    }
  }
}

// Under TLS each piece goes through the engine in turn; the file's bytes are read first into a
// buffer the socket keeps. A chunk the engine took while answering would-block is retried from
// the same position next pass, which reads the same file bytes again.
void DispatchSocket::writePacketSecurely(DispatchWritePacket& packet, std::size_t* bytesWritten,
                                         bool* waiting, std::optional<Error>* error) {
  constexpr std::size_t kFileChunk = 64 * 1024;
  const std::size_t headLength = packet.buffer.length();
  const std::size_t memoryLength = packet.memoryLength();
  const std::size_t total = packet.length();
  while (!*waiting && !*error && packet.bytesDone + *bytesWritten < total) {
    const std::size_t at = packet.bytesDone + *bytesWritten;
    const std::uint8_t* piece;
    std::size_t length;
    if (at < headLength) {
      piece = packet.buffer.bytes() + at;
      length = headLength - at;
    } else if (at < memoryLength) {
      piece = packet.body.bytes() + (at - headLength);
      length = memoryLength - at;
    } else {
      length = std::min(total - at, kFileChunk);
      if (fileBuffer_.size() < length) fileBuffer_.resize(kFileChunk);
      ssize_t got = ::pread(packet.file->fd(), fileBuffer_.data(), length,
                            static_cast<off_t>(packet.fileOffset + (at - memoryLength)));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        *error = errnoErrorWithReason("Error in pread() function");
        return;
      }
      if (got == 0) {
        *error = otherError("The file ended before the bytes to write from it were sent");
        return;
      }
      piece = fileBuffer_.data();
      length = static_cast<std::size_t>(got);
    }
    std::size_t written = 0;
    writeSecurely(piece, length, &written, waiting, error);
    *bytesWritten += written;
    if (written < length) return;
  }
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
  notifyDelegateOf(DispatchSocketDelegate::kDidWriteData, DispatchSocketCallPool::Kind::WriteData,
                   currentWrite->tag);
  endCurrentWrite();
}

void DispatchSocket::endCurrentWrite() {
  disarmTimeoutTimer(writeTimer);
  currentWrite.reset();
}

// --- Write time-outs ---------------------------------------------------------------------------

void DispatchSocket::setupWriteTimerWithTimeout(double timeout) {
  if (timeout >= 0.0) armTimeoutTimer(writeTimer, timeout, &DispatchSocket::doWriteTimeout);
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
