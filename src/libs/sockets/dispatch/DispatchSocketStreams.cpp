// DispatchSocket: the stream pair laid over a connected descriptor, the process-wide thread
// whose run loop serves the streams' events, and the backgrounding calls built on the pair.
//
// A stream is used on one thread at a time: after it is made on the socket queue, every call on
// it goes through the stream thread (`onStreamThread`), where its events are also delivered.
// The socket queue waits for the stream thread there; the stream thread never waits for a
// socket queue (events are handed over asynchronously), so the waits cannot deadlock.
#include <mutex>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Thread.h"
#include "platform/net/SocketStream.h"
#include "platform/security/SslContext.h"
#include "sockets/dispatch/DispatchSocket.h"

using platform::Error;
using platform::SocketStream;
using platform::StreamStatus;

namespace {

// Events the socket listens for (the platform's event numbers).
constexpr unsigned kReadEvents =
    platform::kStreamEventErrorOccurred | platform::kStreamEventEndEncountered;  // 24
constexpr unsigned kReadWriteEvents = kReadEvents | platform::kStreamEventHasBytesAvailable;
constexpr unsigned kWriteWriteEvents = kReadEvents | platform::kStreamEventCanAcceptBytes;

// The stream thread's run loop, the thread started on first use. Never destroyed: the thread
// lives as long as the process.
std::shared_ptr<platform::RunLoop> streamRunLoop() {
  static std::once_flag once;
  static std::shared_ptr<platform::Thread>* thread = nullptr;
  std::call_once(once, [] {
    thread = new std::shared_ptr<platform::Thread>(
        platform::Thread::startWithRunLoop("DispatchSocket-CFStream"));
  });
  return (*thread)->runLoop();
}

void onStreamThread(const std::function<void()>& work) { streamRunLoop()->performAndWait(work); }

std::optional<Error> errorOfStream(const SocketStream& stream) {
  platform::StreamError error = stream.error();
  switch (error.domain) {
    case platform::StreamErrorDomain::POSIX:
      return Error::posix(error.code);
    case platform::StreamErrorDomain::NetDB:
      return DispatchSocket::gaiError(error.code);
    case platform::StreamErrorDomain::SSL:
      return Error("kCFStreamErrorDomainSSL", error.code);
    case platform::StreamErrorDomain::None:
      break;
  }
  return std::nullopt;
}

}  // namespace

void DispatchSocket::startCFStreamThreadIfNeeded() { streamRunLoop(); }

std::shared_ptr<platform::RunLoop> DispatchSocket::cfstreamRunLoop() { return streamRunLoop(); }

void DispatchSocket::scheduleCFStreams(DispatchSocket* asyncSocket) {
  auto loop = platform::RunLoop::current();
  platform::assertThat(loop == cfstreamRunLoop(), "Invoked on wrong thread");
  for (auto* stream : {&asyncSocket->_readStream, &asyncSocket->_writeStream}) {
    if (*stream) (*stream)->scheduleInRunLoop(loop, platform::kDefaultRunLoopMode);
  }
}

void DispatchSocket::unscheduleCFStreams(DispatchSocket* asyncSocket) {
  auto loop = platform::RunLoop::current();
  platform::assertThat(loop == cfstreamRunLoop(), "Invoked on wrong thread");
  for (auto* stream : {&asyncSocket->_readStream, &asyncSocket->_writeStream}) {
    if (*stream) (*stream)->unscheduleFromRunLoop(loop, platform::kDefaultRunLoopMode);
  }
}

bool DispatchSocket::createReadAndWriteStream() {
  assertOnSocketQueue();
  if (_readStream || _writeStream) return true;
  int socketFD = _socket6FD != -1 ? _socket6FD : _socket4FD;
  if (socketFD == -1 || !(flags & flagConnected)) return false;
  auto [read, write] = SocketStream::createPairWithSocket(socketFD);
  if (!read || !write) return false;
  // The descriptor stays the socket's: closing the streams must not close it.
  read->setProperty(platform::kStreamPropertyShouldCloseNativeSocket, false);
  write->setProperty(platform::kStreamPropertyShouldCloseNativeSocket, false);
  _readStream = std::move(read);
  _writeStream = std::move(write);
  return true;
}

bool DispatchSocket::registerForStreamCallbacksIncludingReadWrite(bool includeReadWrite) {
  assertOnSocketQueue();
  platform::assertThat(_readStream && _writeStream, "Read/Write stream is null");
  startCFStreamThreadIfNeeded();
  std::weak_ptr<DispatchSocket> weak = weak_from_this();
  bool registered = false;
  onStreamThread([&] {
    registered = _readStream->setClient(includeReadWrite ? kReadWriteEvents : kReadEvents,
                                        [weak](SocketStream& s, unsigned e) {
                                          if (auto self = weak.lock())
                                            self->readStreamClientCallback(s.shared_from_this(), e);
                                        });
    if (!registered) return;
    registered = _writeStream->setClient(
        includeReadWrite ? kWriteWriteEvents : kReadEvents, [weak](SocketStream& s, unsigned e) {
          if (auto self = weak.lock()) self->writeStreamClientCallback(s.shared_from_this(), e);
        });
  });
  return registered;
}

bool DispatchSocket::addStreamsToRunLoop() {
  assertOnSocketQueue();
  platform::assertThat(_readStream && _writeStream, "Read/Write stream is null");
  if (!streamsScheduled_) {
    startCFStreamThreadIfNeeded();
    onStreamThread([this] { scheduleCFStreams(this); });
    streamsScheduled_ = true;
  }
  return true;
}

void DispatchSocket::removeStreamsFromRunLoop() {
  assertOnSocketQueue();
  platform::assertThat(_readStream && _writeStream, "Read/Write stream is null");
  if (!streamsScheduled_) return;
  onStreamThread([this] { unscheduleCFStreams(this); });
  streamsScheduled_ = false;
}

bool DispatchSocket::openStreams() {
  assertOnSocketQueue();
  platform::assertThat(_readStream && _writeStream, "Read/Write stream is null");
  startCFStreamThreadIfNeeded();
  bool opened = false;
  onStreamThread([&] {
    if (_readStream->status() != StreamStatus::NotOpen &&
        _writeStream->status() != StreamStatus::NotOpen) {
      opened = true;
      return;
    }
    bool readOpened = _readStream->open();
    bool writeOpened = _writeStream->open();
    opened = readOpened && writeOpened;
  });
  return opened;
}

void DispatchSocket::closeReadAndWriteStreams() {
  if (!_readStream || !_writeStream) return;
  removeStreamsFromRunLoop();
  onStreamThread([this] {
    for (auto* stream : {&_readStream, &_writeStream}) {
      (*stream)->setClient(platform::kStreamEventNone, nullptr);
      (*stream)->close();
    }
  });
  _readStream.reset();
  _writeStream.reset();
}

void DispatchSocket::readStreamClientCallback(const std::shared_ptr<SocketStream>& stream,
                                              unsigned type) {
  if (type == platform::kStreamEventHasBytesAvailable) {
    runAsync([this, stream] {
      if (_readStream != stream) return;
      // A TLS handshake is driven by the socket's own TLS layer, not through the streams.
      if ((flags & flagTLSStartingRead) && (flags & flagTLSStartingWrite)) return;
      doReadData();
    });
    return;
  }
  handOverStreamEnd(stream, type);
}

void DispatchSocket::writeStreamClientCallback(const std::shared_ptr<SocketStream>& stream,
                                               unsigned type) {
  if (type == platform::kStreamEventCanAcceptBytes) {
    runAsync([this, stream] {
      if (_writeStream != stream) return;
      if ((flags & flagTLSStartingRead) && (flags & flagTLSStartingWrite)) return;
      flags |= flagWritable;
      doWriteData();
    });
    return;
  }
  handOverStreamEnd(stream, type);
}

void DispatchSocket::handOverStreamEnd(const std::shared_ptr<SocketStream>& stream, unsigned type) {
  if (type != platform::kStreamEventErrorOccurred && type != platform::kStreamEventEndEncountered) {
    return;
  }
  // The stream's error is read here, on the stream thread that owns it.
  std::optional<Error> error = errorOfStream(*stream);
  if (!error) error = connectionClosedError();
  runAsync([this, stream, error] {
    if (_readStream == stream || _writeStream == stream) closeWithError(error);
  });
}

std::shared_ptr<SocketStream> DispatchSocket::readStream() {
  if (!isOnSocketQueue()) return nullptr;
  if (!_readStream && !createReadAndWriteStream()) return nullptr;
  return _readStream;
}

std::shared_ptr<SocketStream> DispatchSocket::writeStream() {
  if (!isOnSocketQueue()) return nullptr;
  if (!_writeStream && !createReadAndWriteStream()) return nullptr;
  return _writeStream;
}

platform::security::SslContext* DispatchSocket::sslContext() const {
  return isOnSocketQueue() ? _sslContext.get() : nullptr;
}

bool DispatchSocket::enableBackgroundingOnSocketWithCaveat(bool caveat) {
  if (!isOnSocketQueue()) return false;
  if (!createReadAndWriteStream()) return false;
  startCFStreamThreadIfNeeded();
  bool marked = false;
  onStreamThread([&] {
    platform::Value voip(platform::kStreamNetworkServiceTypeVoIP);
    marked = _readStream->setProperty(platform::kStreamPropertyNetworkServiceType, voip) &&
             _writeStream->setProperty(platform::kStreamPropertyNetworkServiceType, voip);
  });
  if (!marked) return false;
  if (caveat) return true;
  return openStreams();
}
