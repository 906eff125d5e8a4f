// RunLoopSocket: the read and write queues, time-outs, the TLS marker and closing.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/foundation/Assert.h"
#include "sockets/runloop/RunLoopSocket.h"

using platform::Bytes;
using platform::Error;

namespace {
// Bytes per stream write.
constexpr std::size_t kWriteChunk = 4096;
// Growth of the read-ahead buffer while `unreadData` drains the stream.
constexpr std::size_t kUnreadChunk = 256;
}  // namespace

// --- Queueing ---

void RunLoopSocket::queueRead(std::shared_ptr<RunLoopReadPacket> packet) {
  theReadQueue.push_back(ReadItem{std::move(packet), nullptr});
  scheduleDequeueRead();
}

void RunLoopSocket::readDataWithTimeout(double timeout, long tag) {
  readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                        std::size_t offset, long tag) {
  readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void RunLoopSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                        std::size_t offset, std::size_t maxLength, long tag) {
  if (offset > (buffer ? buffer->size() : 0)) return;
  if (theFlags & kForbidReadsWrites) return;
  queueRead(std::make_shared<RunLoopReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                                std::nullopt, tag));
}

void RunLoopSocket::readDataToLength(std::size_t length, double timeout, long tag) {
  readDataToLength(length, timeout, nullptr, 0, tag);
}

void RunLoopSocket::readDataToLength(std::size_t length, double timeout,
                                     std::shared_ptr<Bytes> buffer, std::size_t offset, long tag) {
  if (length == 0) return;
  if (offset > (buffer ? buffer->size() : 0)) return;
  if (theFlags & kForbidReadsWrites) return;
  queueRead(std::make_shared<RunLoopReadPacket>(std::move(buffer), offset, 0, timeout, length,
                                                std::nullopt, tag));
}

void RunLoopSocket::readDataToData(const Bytes& data, double timeout, long tag) {
  readDataToData(data, timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataToData(const Bytes& data, double timeout, std::size_t maxLength,
                                   long tag) {
  readDataToData(data, timeout, nullptr, 0, maxLength, tag);
}

void RunLoopSocket::readDataToData(const Bytes& data, double timeout, std::shared_ptr<Bytes> buffer,
                                   std::size_t offset, long tag) {
  readDataToData(data, timeout, std::move(buffer), offset, 0, tag);
}

void RunLoopSocket::readDataToData(const Bytes& data, double timeout, std::shared_ptr<Bytes> buffer,
                                   std::size_t offset, std::size_t maxLength, long tag) {
  if (data.empty()) return;
  if (offset > (buffer ? buffer->size() : 0)) return;
  if (maxLength > 0 && maxLength < data.size()) return;
  if (theFlags & kForbidReadsWrites) return;
  queueRead(std::make_shared<RunLoopReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                                data, tag));
}

void RunLoopSocket::writeData(const SocketData& data, double timeout, long tag) {
  if (data.empty()) return;
  if (theFlags & kForbidReadsWrites) return;
  theWriteQueue.push_back(WriteItem{std::make_shared<RunLoopWritePacket>(data, timeout, tag), {}});
  scheduleDequeueWrite();
}

void RunLoopSocket::startTLS(const std::optional<platform::Dictionary>& tlsSettings) {
  auto marker =
      std::make_shared<RunLoopSpecialPacket>(tlsSettings.value_or(platform::Dictionary{}));
  theReadQueue.push_back(ReadItem{nullptr, marker});
  theWriteQueue.push_back(WriteItem{nullptr, marker});
  scheduleDequeueRead();
  scheduleDequeueWrite();
}

float RunLoopSocket::progressOfReadReturningTag(long* tag, std::size_t* done,
                                                std::size_t* total) const {
  const auto& packet = theCurrentRead.packet;
  if (tag) *tag = packet ? packet->tag : 0;
  if (done) *done = packet ? packet->bytesDone : 0;
  if (total) *total = packet ? packet->readLength : 0;
  if (!packet) return std::numeric_limits<float>::quiet_NaN();
  if (packet->readLength == 0) return 1.0f;
  return static_cast<float>(packet->bytesDone) / static_cast<float>(packet->readLength);
}

float RunLoopSocket::progressOfWriteReturningTag(long* tag, std::size_t* done,
                                                 std::size_t* total) const {
  const auto& packet = theCurrentWrite.packet;
  if (tag) *tag = packet ? packet->tag : 0;
  if (done) *done = packet ? packet->bytesDone : 0;
  if (total) *total = packet ? packet->buffer.length() : 0;
  if (!packet) return std::numeric_limits<float>::quiet_NaN();
  return static_cast<float>(packet->bytesDone) / static_cast<float>(packet->buffer.length());
}

void RunLoopSocket::scheduleDequeueRead() {
  if (theFlags & kDequeueReadScheduled) return;
  theFlags |= kDequeueReadScheduled;
  performDeferred(&RunLoopSocket::maybeDequeueRead);
}

void RunLoopSocket::scheduleDequeueWrite() {
  if (theFlags & kDequeueWriteScheduled) return;
  theFlags |= kDequeueWriteScheduled;
  performDeferred(&RunLoopSocket::maybeDequeueWrite);
}

// --- Reading ---

void RunLoopSocket::maybeDequeueRead() {
  theFlags &= ~kDequeueReadScheduled;
  if (theCurrentRead || !theReadStream) return;
  if (!theReadQueue.empty()) {
    theCurrentRead = theReadQueue.front();
    theReadQueue.pop_front();
    if (theCurrentRead.tls) {
      theFlags |= kStartingReadTLS;
      maybeStartTLS();
      return;
    }
    if (theCurrentRead.packet->timeout >= 0.0) {
      std::weak_ptr<RunLoopSocket> weak = weak_from_this();
      theReadTimer = platform::Timer::create(platform::seconds(theCurrentRead.packet->timeout),
                                             false, [weak](auto&) {
                                               if (auto s = weak.lock()) s->doReadTimeout();
                                             });
      runLoopAddTimer(theReadTimer);
    }
    doBytesAvailable();
  } else if (theFlags & kDisconnectAfterReads) {
    bool writesPending = !theWriteQueue.empty() || theCurrentWrite;
    if (!(theFlags & kDisconnectAfterWrites) || !writesPending) disconnect();
  }
}

bool RunLoopSocket::hasBytesAvailable() {
  return (theFlags & kSocketHasBytesAvailable) || !partialReadBuffer.empty() ||
         (theReadStream && theReadStream->hasBytesAvailable());
}

ssize_t RunLoopSocket::readIntoBuffer(std::uint8_t* buffer, std::size_t length) {
  if (!partialReadBuffer.empty()) {
    std::size_t n = std::min(length, partialReadBuffer.size());
    std::memcpy(buffer, partialReadBuffer.data(), n);
    partialReadBuffer.erase(partialReadBuffer.begin(), partialReadBuffer.begin() + n);
    return static_cast<ssize_t>(n);
  }
  theFlags &= ~kSocketHasBytesAvailable;
  return theReadStream->read(buffer, length);
}

void RunLoopSocket::doBytesAvailable() {
  if (!theCurrentRead.packet || !theReadStream) return;
  auto packet = theCurrentRead.packet;
  std::size_t totalBytesRead = 0;
  bool done = false;
  bool maxedOut = false;
  bool streamFailed = false;
  bool atEnd = false;
  const bool availableRead = !packet->term && packet->readLength == 0;

  while (!done && !maxedOut && !streamFailed && !atEnd && hasBytesAvailable()) {
    bool fromPreBuffer = false;
    bool readAhead = false;
    bool found = false;
    std::size_t want;
    if (!packet->term) {
      want = packet->readLengthForNonTerm();
    } else if (!partialReadBuffer.empty()) {
      want = packet->readLengthForTermWithPreBuffer(partialReadBuffer, found);
      fromPreBuffer = true;
    } else if (theFlags & kEnablePreBuffering) {
      want = packet->prebufferReadLengthForTerm();
      readAhead = true;
    } else {
      want = packet->readLengthForTerm();
    }
    std::size_t at = packet->startOffset + packet->bytesDone;
    if (packet->buffer->size() < at + want) packet->buffer->resize(at + want);
    ssize_t n = readIntoBuffer(packet->buffer->data() + at, want);
    if (n < 0) {
      streamFailed = true;
      break;
    }
    if (n == 0 && !fromPreBuffer) atEnd = true;
    packet->bytesDone += static_cast<std::size_t>(n);
    totalBytesRead += static_cast<std::size_t>(n);

    if (packet->readLength > 0) {
      done = packet->bytesDone == packet->readLength;
    } else if (packet->term) {
      const Bytes& term = *packet->term;
      if (readAhead) {
        long after = packet->searchForTermAfterPreBuffering(static_cast<std::size_t>(n));
        if (after >= 0) {
          // Bytes past the terminator belong to the next read.
          std::size_t keep = static_cast<std::size_t>(after);
          const std::uint8_t* end =
              packet->buffer->data() + packet->startOffset + packet->bytesDone;
          partialReadBuffer.insert(partialReadBuffer.end(), end - keep, end);
          packet->bytesDone -= keep;
          done = true;
        }
      } else if (fromPreBuffer) {
        done = found;
      } else if (packet->bytesDone >= term.size()) {
        const std::uint8_t* tail =
            packet->buffer->data() + packet->startOffset + packet->bytesDone - term.size();
        done = std::memcmp(tail, term.data(), term.size()) == 0;
      }
      if (!done && packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) {
        maxedOut = true;
      }
    } else if (packet->maxLength > 0 && packet->bytesDone >= packet->maxLength) {
      done = true;
    }
  }

  if ((availableRead && packet->bytesDone > 0) || done) {
    completeCurrentRead();
    if (!streamFailed) scheduleDequeueRead();
  } else if (totalBytesRead > 0) {
    auto delegate = theDelegate;
    if (delegate && delegate->answers(RunLoopSocketDelegate::kDidReadPartialData)) {
      delegate->onSocketDidReadPartialDataOfLength(self(), totalBytesRead, packet->tag);
    }
  }
  if (streamFailed) {
    closeWithError(streamError());
  } else if (maxedOut) {
    closeWithError(errorWithCode(kReadMaxedOutError));
  }
  // The end of the stream is reported by its end event, which closes the socket.
}

void RunLoopSocket::completeCurrentRead() {
  platform::assertThat(theCurrentRead.packet != nullptr,
                       "Trying to complete current read when there is no current read.");
  auto packet = theCurrentRead.packet;
  SocketData result;
  if (packet->bufferOwner) {
    packet->buffer->resize(packet->bytesDone);
    result = SocketData(std::move(*packet->buffer));
  } else {
    std::size_t keep =
        std::max(packet->originalBufferLength, packet->startOffset + packet->bytesDone);
    packet->buffer->resize(keep);
    result = SocketData(std::shared_ptr<const Bytes>(packet->buffer), packet->startOffset,
                        packet->bytesDone);
  }
  auto delegate = theDelegate;
  if (delegate && delegate->answers(RunLoopSocketDelegate::kDidReadData)) {
    delegate->onSocketDidReadData(self(), result, packet->tag);
  }
  // The delegate may have closed the socket or started another read.
  if (theCurrentRead.packet == packet) endCurrentRead();
}

void RunLoopSocket::endCurrentRead() {
  platform::assertThat(static_cast<bool>(theCurrentRead),
                       "Trying to end current read when there is no current read.");
  if (theReadTimer) {
    runLoopRemoveTimer(theReadTimer);
    theReadTimer->invalidate();
  }
  theReadTimer.reset();
  theCurrentRead = {};
}

void RunLoopSocket::doReadTimeout() {
  if (!theCurrentRead.packet) return;
  auto packet = theCurrentRead.packet;
  double extension = 0;
  auto delegate = theDelegate;
  if (delegate && delegate->answers(RunLoopSocketDelegate::kShouldTimeoutRead)) {
    extension = delegate->onSocketShouldTimeoutReadWithTag(self(), packet->tag, packet->timeout,
                                                           packet->bytesDone);
  }
  if (extension > 0.0 && theCurrentRead.packet == packet) {
    packet->timeout += extension;
    if (theReadTimer) {
      runLoopRemoveTimer(theReadTimer);
      theReadTimer->invalidate();
    }
    std::weak_ptr<RunLoopSocket> weak = weak_from_this();
    theReadTimer = platform::Timer::create(platform::seconds(extension), false, [weak](auto&) {
      if (auto s = weak.lock()) s->doReadTimeout();
    });
    runLoopAddTimer(theReadTimer);
    return;
  }
  closeWithError(errorWithCode(kReadTimeoutError));
}

// --- Writing ---

void RunLoopSocket::maybeDequeueWrite() {
  theFlags &= ~kDequeueWriteScheduled;
  if (theCurrentWrite || !theWriteStream) return;
  if (!theWriteQueue.empty()) {
    theCurrentWrite = theWriteQueue.front();
    theWriteQueue.pop_front();
    if (theCurrentWrite.tls) {
      theFlags |= kStartingWriteTLS;
      maybeStartTLS();
      return;
    }
    if (theCurrentWrite.packet->timeout >= 0.0) {
      std::weak_ptr<RunLoopSocket> weak = weak_from_this();
      theWriteTimer = platform::Timer::create(platform::seconds(theCurrentWrite.packet->timeout),
                                              false, [weak](auto&) {
                                                if (auto s = weak.lock()) s->doWriteTimeout();
                                              });
      runLoopAddTimer(theWriteTimer);
    }
    doSendBytes();
  } else if (theFlags & kDisconnectAfterWrites) {
    bool readsPending = !theReadQueue.empty() || theCurrentRead;
    if (!(theFlags & kDisconnectAfterReads) || !readsPending) disconnect();
  }
}

void RunLoopSocket::doSendBytes() {
  if (!theCurrentWrite.packet || !theWriteStream) return;
  auto packet = theCurrentWrite.packet;
  std::size_t total = 0;
  bool finished = packet->bytesDone == packet->buffer.length();
  bool failed = false;
  while (!finished && ((theFlags & kSocketCanAcceptBytes) || theWriteStream->canAcceptBytes())) {
    std::size_t left = packet->buffer.length() - packet->bytesDone;
    std::size_t chunk = std::min(left, kWriteChunk);
    theFlags &= ~kSocketCanAcceptBytes;
    ssize_t n = theWriteStream->write(packet->buffer.bytes() + packet->bytesDone, chunk);
    if (n < 0) {
      failed = true;
      break;
    }
    packet->bytesDone += static_cast<std::size_t>(n);
    total += static_cast<std::size_t>(n);
    finished = packet->bytesDone == packet->buffer.length();
  }
  auto delegate = theDelegate;
  if (finished) {
    if (delegate && delegate->answers(RunLoopSocketDelegate::kDidWriteData)) {
      delegate->onSocketDidWriteDataWithTag(self(), packet->tag);
    }
    if (theCurrentWrite.packet == packet) endCurrentWrite();
    scheduleDequeueWrite();
  } else if (failed) {
    closeWithError(streamError());
  } else if (total > 0) {
    if (delegate && delegate->answers(RunLoopSocketDelegate::kDidWritePartialData)) {
      delegate->onSocketDidWritePartialDataOfLength(self(), total, packet->tag);
    }
  }
}

void RunLoopSocket::endCurrentWrite() {
  platform::assertThat(static_cast<bool>(theCurrentWrite),
                       "Trying to complete current write when there is no current write.");
  if (theWriteTimer) {
    runLoopRemoveTimer(theWriteTimer);
    theWriteTimer->invalidate();
  }
  theWriteTimer.reset();
  theCurrentWrite = {};
}

void RunLoopSocket::doWriteTimeout() {
  if (!theCurrentWrite.packet) return;
  auto packet = theCurrentWrite.packet;
  double extension = 0;
  auto delegate = theDelegate;
  if (delegate && delegate->answers(RunLoopSocketDelegate::kShouldTimeoutWrite)) {
    extension = delegate->onSocketShouldTimeoutWriteWithTag(self(), packet->tag, packet->timeout,
                                                            packet->bytesDone);
  }
  if (extension > 0.0 && theCurrentWrite.packet == packet) {
    packet->timeout += extension;
    if (theWriteTimer) {
      runLoopRemoveTimer(theWriteTimer);
      theWriteTimer->invalidate();
    }
    std::weak_ptr<RunLoopSocket> weak = weak_from_this();
    theWriteTimer = platform::Timer::create(platform::seconds(extension), false, [weak](auto&) {
      if (auto s = weak.lock()) s->doWriteTimeout();
    });
    runLoopAddTimer(theWriteTimer);
    return;
  }
  closeWithError(errorWithCode(kWriteTimeoutError));
}

// --- TLS ---

void RunLoopSocket::maybeStartTLS() {
  if (!(theFlags & kStartingReadTLS) || !(theFlags & kStartingWriteTLS)) return;
  const platform::Dictionary& settings = theCurrentRead.tls->tlsSettings;
  // Every read in the clear is done: what was read ahead past it is the peer's first TLS bytes.
  if (!partialReadBuffer.empty()) {
    theReadStream->giveBackForTLS(partialReadBuffer);
    partialReadBuffer.clear();
  }
  bool taken = theReadStream->setProperty(platform::kStreamPropertySSLSettings, settings) &&
               theWriteStream->setProperty(platform::kStreamPropertySSLSettings, settings);
  if (!taken) closeWithError(errorWithCode(kCFSocketError));
}

void RunLoopSocket::doTLSCompletion() {
  if (!(theFlags & kStartingReadTLS) || !(theFlags & kStartingWriteTLS)) return;
  theFlags &= ~(kStartingReadTLS | kStartingWriteTLS);
  auto delegate = theDelegate;
  if (delegate && delegate->answers(RunLoopSocketDelegate::kDidSecure)) {
    delegate->onSocketDidSecure(self());
  }
  if (theCurrentRead.tls) endCurrentRead();
  if (theCurrentWrite.tls) endCurrentWrite();
  scheduleDequeueRead();
  scheduleDequeueWrite();
}

// --- Stream events ---

void RunLoopSocket::doReadStreamEvent(unsigned event) {
  platform::assertThat(theReadStream != nullptr,
                       "Invalid parameter not satisfying: theReadStream != NULL");
  switch (event) {
    case platform::kStreamEventOpenCompleted:
      theFlags |= kDidCompleteOpenForRead;
      doStreamOpen();
      break;
    case platform::kStreamEventHasBytesAvailable:
      if (theFlags & kStartingReadTLS) {
        doTLSCompletion();
      } else {
        theFlags |= kSocketHasBytesAvailable;
        doBytesAvailable();
      }
      break;
    case platform::kStreamEventErrorOccurred:
    case platform::kStreamEventEndEncountered:
      closeWithError(errorFromStream(theReadStream->error()));
      break;
    default:
      break;
  }
}

void RunLoopSocket::doWriteStreamEvent(unsigned event) {
  platform::assertThat(theWriteStream != nullptr,
                       "Invalid parameter not satisfying: theWriteStream != NULL");
  switch (event) {
    case platform::kStreamEventOpenCompleted:
      theFlags |= kDidCompleteOpenForWrite;
      doStreamOpen();
      break;
    case platform::kStreamEventCanAcceptBytes:
      if (theFlags & kStartingWriteTLS) {
        doTLSCompletion();
      } else {
        theFlags |= kSocketCanAcceptBytes;
        doSendBytes();
      }
      break;
    case platform::kStreamEventErrorOccurred:
    case platform::kStreamEventEndEncountered:
      closeWithError(errorFromStream(theWriteStream->error()));
      break;
    default:
      break;
  }
}

// --- Closing ---

void RunLoopSocket::disconnect() { close(); }

void RunLoopSocket::disconnectAfterReading() {
  theFlags |= kForbidReadsWrites | kDisconnectAfterReads;
  maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterWriting() {
  theFlags |= kForbidReadsWrites | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RunLoopSocket::disconnectAfterReadingAndWriting() {
  theFlags |= kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites;
  maybeScheduleDisconnect();
}

void RunLoopSocket::maybeScheduleDisconnect() {
  bool readsPending = !theReadQueue.empty() || theCurrentRead;
  bool writesPending = !theWriteQueue.empty() || theCurrentWrite;
  bool due = false;
  if (theFlags & kDisconnectAfterReads) {
    due = !readsPending && (!(theFlags & kDisconnectAfterWrites) || !writesPending);
  } else if (theFlags & kDisconnectAfterWrites) {
    due = !writesPending;
  }
  if (due) performDeferred(&RunLoopSocket::disconnect);
}

void RunLoopSocket::emptyQueues() {
  if (theCurrentRead) endCurrentRead();
  if (theCurrentWrite) endCurrentWrite();
  theReadQueue.clear();
  theWriteQueue.clear();
  if (theRunLoop) theRunLoop->cancelPerforms(this);
  theFlags &= ~(kDequeueReadScheduled | kDequeueWriteScheduled);
}

std::shared_ptr<Bytes> RunLoopSocket::unreadData() {
  if (!(theFlags & kClosingWithError) || !theReadStream) return nullptr;
  // Whatever the stream still holds goes after what was read ahead.
  while (theReadStream->hasBytesAvailable()) {
    std::size_t at = partialReadBuffer.size();
    partialReadBuffer.resize(at + kUnreadChunk);
    ssize_t n = theReadStream->read(partialReadBuffer.data() + at, kUnreadChunk);
    partialReadBuffer.resize(at + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n <= 0) break;
  }
  return std::make_shared<Bytes>(partialReadBuffer);
}

void RunLoopSocket::closeWithError(const std::optional<Error>& error) {
  theFlags |= kClosingWithError;
  if (theFlags & kDidStartConnect) {
    // An unfinished read's bytes are the first of what no read took.
    if (theCurrentRead.packet && theCurrentRead.packet->bytesDone > 0) {
      auto& packet = *theCurrentRead.packet;
      auto begin = packet.buffer->begin() + static_cast<long>(packet.startOffset);
      partialReadBuffer.insert(partialReadBuffer.begin(), begin,
                               begin + static_cast<long>(packet.bytesDone));
    }
    emptyQueues();
    auto delegate = theDelegate;
    if (delegate && delegate->answers(RunLoopSocketDelegate::kWillDisconnectWithError)) {
      delegate->onSocketWillDisconnectWithError(self(), error);
    }
  }
  close();
}

void RunLoopSocket::close() {
  // Held to the end: a delegate told of the close may drop its last reference.
  auto keep = shared_from_this();
  emptyQueues();
  partialReadBuffer.clear();
  if (theRunLoop) theRunLoop->cancelPerforms(this);
  endConnectTimeout();
  bool streamsOwnDescriptor = false;
  if (theReadStream || theWriteStream) streamsOwnDescriptor = true;
  for (auto* stream : {&theReadStream, &theWriteStream}) {
    if (!*stream) continue;
    for (const auto& mode : theRunLoopModes) (*stream)->unscheduleFromRunLoop(theRunLoop, mode);
    (*stream)->setClient(platform::kStreamEventNone, nullptr);
    (*stream)->close();
    stream->reset();
  }
  // A descriptor no stream took (its streams could not be made) is closed here.
  if (!streamsOwnDescriptor) {
    for (int fd : {theNativeSocket4, theNativeSocket6}) {
      if (fd >= 0) ::close(fd);
    }
  }
  closeListeners();
  theNativeSocket4 = -1;
  theNativeSocket6 = -1;
  theRunLoop.reset();
  bool started = theFlags & kDidStartConnect;
  theFlags &= kEnablePreBuffering;
  if (started) {
    auto delegate = theDelegate;
    if (delegate && delegate->answers(RunLoopSocketDelegate::kDidDisconnect)) {
      delegate->onSocketDidDisconnect(keep);
    }
  }
}
