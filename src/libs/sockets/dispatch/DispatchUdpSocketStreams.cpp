// DispatchUdpSocket: stream pairs over the descriptors, the process-wide listener thread whose
// run loop serves their events, and raw access from the socket queue.
//
// After a stream is made on the socket queue, every call on it goes through the listener thread
// (`onListenerThread`), where its events are delivered too. The socket queue waits for the
// listener thread; the listener thread never waits for a socket queue, so this cannot deadlock.
#include <mutex>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Thread.h"
#include "platform/net/SocketStream.h"
#include "sockets/dispatch/DispatchUdpSocket.h"

using platform::Error;
using platform::SocketStream;

namespace {

// Error and end events (the platform's event numbers 8 and 16).
constexpr unsigned kStreamEvents =
    platform::kStreamEventErrorOccurred | platform::kStreamEventEndEncountered;

// The listener thread's run loop, the thread started on first use and never destroyed.
std::shared_ptr<platform::RunLoop> listenerRunLoop() {
  static std::once_flag once;
  static std::shared_ptr<platform::Thread>* thread = nullptr;
  std::call_once(once, [] {
    thread = new std::shared_ptr<platform::Thread>(
        platform::Thread::startWithRunLoop("DispatchUdpSocket-CFStream"));
  });
  return (*thread)->runLoop();
}

void onListenerThread(const std::function<void()>& work) {
  listenerRunLoop()->performAndWait(work);
}

}  // namespace

void DispatchUdpSocket::startListenerThreadIfNeeded() { listenerRunLoop(); }

void DispatchUdpSocket::addStreamListener(DispatchUdpSocket* asyncUdpSocket) {
  auto loop = platform::RunLoop::current();
  platform::assertThat(loop == listenerRunLoop(), "Invoked on wrong thread");
  for (auto* stream : {&asyncUdpSocket->readStream4, &asyncUdpSocket->writeStream4,
                       &asyncUdpSocket->readStream6, &asyncUdpSocket->writeStream6}) {
    if (*stream) (*stream)->scheduleInRunLoop(loop, platform::kDefaultRunLoopMode);
  }
}

void DispatchUdpSocket::removeStreamListener(DispatchUdpSocket* asyncUdpSocket) {
  auto loop = platform::RunLoop::current();
  platform::assertThat(loop == listenerRunLoop(), "Invoked on wrong thread");
  for (auto* stream : {&asyncUdpSocket->readStream4, &asyncUdpSocket->writeStream4,
                       &asyncUdpSocket->readStream6, &asyncUdpSocket->writeStream6}) {
    if (*stream) (*stream)->unscheduleFromRunLoop(loop, platform::kDefaultRunLoopMode);
  }
}

bool DispatchUdpSocket::createReadAndWriteStreams(Error* errPtr) {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  if (readStream4 || writeStream4 || readStream6 || writeStream6) return true;
  if (socket4FD == -1 && socket6FD == -1) {
    if (errPtr) *errPtr = otherError("Cannot create streams without a file descriptor");
    return false;
  }
  std::optional<Error> error;
  if (socket4FD != -1) {
    std::tie(readStream4, writeStream4) = SocketStream::createPairWithSocket(socket4FD);
    if (!readStream4 || !writeStream4) {
      error = otherError("Error in CFStreamCreatePairWithSocket() [IPv4]");
    }
  }
  if (!error && socket6FD != -1) {
    std::tie(readStream6, writeStream6) = SocketStream::createPairWithSocket(socket6FD);
    if (!readStream6 || !writeStream6) {
      error = otherError("Error in CFStreamCreatePairWithSocket() [IPv6]");
    }
  }
  if (error) {
    // Nothing is scheduled yet, so the streams can go from here.
    for (auto* stream : {&readStream4, &writeStream4, &readStream6, &writeStream6}) {
      if (*stream) (*stream)->close();
      stream->reset();
    }
    if (errPtr) *errPtr = *error;
    return false;
  }
  // Closing a stream must never close the socket's descriptor.
  for (auto* stream : {&readStream4, &writeStream4, &readStream6, &writeStream6}) {
    if (*stream) (*stream)->setProperty(platform::kStreamPropertyShouldCloseNativeSocket, false);
  }
  return true;
}

bool DispatchUdpSocket::registerForStreamCallbacks(Error* errPtr) {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  platform::assertThat(readStream4 || writeStream4 || readStream6 || writeStream6,
                       "Read/Write streams are null");
  std::weak_ptr<DispatchUdpSocket> weak = weak_from_this();
  auto client = [weak](bool readSide) {
    return [weak, readSide](SocketStream& stream, unsigned type) {
      if (auto self = weak.lock()) {
        self->streamClientCallback(stream.shared_from_this(), type, readSide);
      }
    };
  };
  std::optional<Error> error;
  onListenerThread([&] {
    if (socket4FD != -1) {
      if (!readStream4 || !writeStream4) {
        error = otherError("Read/Write stream4 is null");
        return;
      }
      if (!readStream4->setClient(kStreamEvents, client(true)) ||
          !writeStream4->setClient(kStreamEvents, client(false))) {
        error = otherError("Error in CFStreamSetClient(), [IPv4]");
        return;
      }
    }
    if (socket6FD != -1) {
      if (!readStream6 || !writeStream6) {
        error = otherError("Read/Write stream6 is null");
        return;
      }
      if (!readStream6->setClient(kStreamEvents, client(true)) ||
          !writeStream6->setClient(kStreamEvents, client(false))) {
        error = otherError("Error in CFStreamSetClient() [IPv6]");
      }
    }
  });
  if (!error) return true;
  onListenerThread([this] {
    for (auto* stream : {&readStream4, &writeStream4, &readStream6, &writeStream6}) {
      if (*stream) (*stream)->setClient(platform::kStreamEventNone, nullptr);
    }
  });
  if (errPtr) *errPtr = *error;
  return false;
}

bool DispatchUdpSocket::addStreamsToRunLoop(Error*) {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  platform::assertThat(readStream4 || writeStream4 || readStream6 || writeStream6,
                       "Read/Write streams are null");
  if (!streamsOnListenerThread_) {
    startListenerThreadIfNeeded();
    onListenerThread([this] { addStreamListener(this); });
    streamsOnListenerThread_ = true;
  }
  return true;
}

bool DispatchUdpSocket::openStreams(Error* errPtr) {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  platform::assertThat(readStream4 || writeStream4 || readStream6 || writeStream6,
                       "Read/Write streams are null");
  std::optional<Error> error;
  onListenerThread([&] {
    if (socket4FD != -1) {
      bool readOpened = readStream4->open();
      bool writeOpened = writeStream4->open();
      if (!readOpened || !writeOpened) {
        error = otherError("Error in CFStreamOpen() [IPv4]");
        return;
      }
    }
    if (socket6FD != -1) {
      bool readOpened = readStream6->open();
      bool writeOpened = writeStream6->open();
      if (!readOpened || !writeOpened) error = otherError("Error in CFStreamOpen() [IPv6]");
    }
  });
  if (error && errPtr) *errPtr = *error;
  return !error;
}

void DispatchUdpSocket::removeStreamsFromRunLoop() {
  platform::assertThat(isOnSocketQueue(), "Must be dispatched on socketQueue");
  if (!streamsOnListenerThread_) return;
  onListenerThread([this] { removeStreamListener(this); });
  streamsOnListenerThread_ = false;
}

void DispatchUdpSocket::closeReadAndWriteStreams() {
  if (!readStream4 && !writeStream4 && !readStream6 && !writeStream6) return;
  removeStreamsFromRunLoop();
  onListenerThread([this] {
    for (auto* stream : {&readStream4, &writeStream4, &readStream6, &writeStream6}) {
      if (!*stream) continue;
      (*stream)->setClient(platform::kStreamEventNone, nullptr);
      (*stream)->close();
    }
  });
  for (auto* stream : {&readStream4, &writeStream4, &readStream6, &writeStream6}) stream->reset();
}

void DispatchUdpSocket::streamClientCallback(const std::shared_ptr<SocketStream>& stream,
                                             unsigned type, bool readSide) {
  if (type != platform::kStreamEventErrorOccurred && type != platform::kStreamEventEndEncountered) {
    return;
  }
  // The stream's error is read here, on the thread that owns the stream.
  platform::StreamError streamError = stream->error();
  Error error = streamError.domain == platform::StreamErrorDomain::POSIX
                    ? Error::posix(streamError.code)
                    : socketClosedError();
  runAsync([this, stream, readSide, error] {
    bool current = readSide ? (stream == readStream4 || stream == readStream6)
                            : (stream == writeStream4 || stream == writeStream6);
    if (current) closeWithError(error);
  });
}

void DispatchUdpSocket::performBlock(const std::function<void()>& block) { runSync(block); }

int DispatchUdpSocket::socketFD() const {
  if (!isOnSocketQueue()) return -1;
  return socket4FD != -1 ? socket4FD : socket6FD;
}

std::shared_ptr<SocketStream> DispatchUdpSocket::readStream() {
  if (!isOnSocketQueue()) return nullptr;
  if (!createReadAndWriteStreams(nullptr)) return nullptr;
  return readStream4 ? readStream4 : readStream6;
}

std::shared_ptr<SocketStream> DispatchUdpSocket::writeStream() {
  if (!isOnSocketQueue()) return nullptr;
  if (!createReadAndWriteStreams(nullptr)) return nullptr;
  return writeStream4 ? writeStream4 : writeStream6;
}

bool DispatchUdpSocket::enableBackgroundingOnSockets() { return false; }
