#include "httpserver/core/HTTPAsyncFileResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPLogging.h"
#include "platform/foundation/Assert.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;
constexpr const char* kFile = "HTTPAsyncFileResponse";

}  // namespace

bool HTTPAsyncFileResponse::fileLengthOfPath(const std::optional<std::string>& filePath,
                                             std::uint64_t* length) {
  if (!filePath) {
    HTTP_LOG_WARN(kLogLevel, "%s: Init failed - Nil filePath", kFile);
    return false;
  }
  struct stat attributes {};
  if (::stat(filePath->c_str(), &attributes) != 0) {
    HTTP_LOG_WARN(kLogLevel, "%s: Init failed - Unable to get file attributes. filePath: %s", kFile,
                  filePath->c_str());
    return false;
  }
  *length = static_cast<std::uint64_t>(attributes.st_size);
  return true;
}

std::shared_ptr<HTTPAsyncFileResponse> HTTPAsyncFileResponse::initWithFilePath(
    const std::optional<std::string>& filePath, std::weak_ptr<HTTPConnection> connection) {
  std::uint64_t length = 0;
  if (!fileLengthOfPath(filePath, &length)) return nullptr;
  return create(*filePath, std::move(connection), length);
}

HTTPAsyncFileResponse::HTTPAsyncFileResponse(std::string filePath,
                                             std::weak_ptr<HTTPConnection> connection,
                                             std::uint64_t length)
    : _filePath(std::move(filePath)),
      fileLength(length),
      readQueue(platform::dispatch::Queue::serial("HTTPAsyncFileResponse")),
      connection(std::move(connection)) {}

HTTPAsyncFileResponse::~HTTPAsyncFileResponse() {
  if (readSource) {
    cancelReadSource();
  } else if (fileFD >= 0) {
    ::close(fileFD);
  }
}

std::uint64_t HTTPAsyncFileResponse::contentLength() { return fileLength; }

void HTTPAsyncFileResponse::assertOnReadQueue() const {
  platform::assertThat(platform::dispatch::Queue::current() == readQueue,
                       "Must be dispatched on readQueue");
}

std::uint64_t HTTPAsyncFileResponse::offset() {
  return readQueue->syncValue([&] { return fileOffset; });
}

bool HTTPAsyncFileResponse::isDone() {
  return readQueue->syncValue([&] { return fileOffset == fileLength; });
}

void HTTPAsyncFileResponse::setOffset(std::uint64_t offset) {
  readQueue->sync([&] {
    if (!openFileIfNeeded()) return;
    fileOffset = offset;
    readOffset = offset;
    data.reset();
    readBufferOffset = 0;
    if (::lseek(fileFD, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(-1)) {
      HTTP_LOG_ERROR(kLogLevel, "%s[%p]: lseek failed - errno(%i) filePath(%s)", kFile,
                     static_cast<void*>(this), errno, _filePath.c_str());
      abort();
    }
  });
}

std::optional<platform::Bytes> HTTPAsyncFileResponse::readDataOfLength(std::size_t length) {
  return readQueue->syncValue([&]() -> std::optional<platform::Bytes> {
    if (data && data->empty()) data.reset();  // everything read was held back: read on
    if (data) {
      platform::Bytes result = std::move(*data);
      data.reset();
      fileOffset += result.size();
      return result;
    }
    if (!openFileIfNeeded()) return std::nullopt;
    // One read at a time: a request while one is outstanding only updates its length.
    readRequestLength = length;
    resumeReadSource();
    return std::nullopt;
  });
}

void HTTPAsyncFileResponse::connectionDidClose() {
  readQueue->sync([&] {
    connection.reset();
    if (readSource) cancelReadSource();
  });
}

void HTTPAsyncFileResponse::notifyConnection(bool aborting) {
  assertOnReadQueue();
  std::shared_ptr<HTTPConnection> theConnection = connection.lock();
  if (!theConnection) return;
  if (aborting) {
    theConnection->responseDidAbort(this);
  } else {
    theConnection->responseHasAvailableData(this);
  }
}

void HTTPAsyncFileResponse::abort() {
  assertOnReadQueue();
  notifyConnection(true);
  aborted = true;
}

bool HTTPAsyncFileResponse::openFileIfNeeded() {
  assertOnReadQueue();
  if (aborted) return false;
  if (fileFD >= 0) return true;
  return openFileAndSetupReadSource();
}

bool HTTPAsyncFileResponse::openFileAndSetupReadSource() {
  assertOnReadQueue();
  // Non-blocking, and only a regular file: a pipe or a device would never end the response.
  fileFD = ::open(_filePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat attributes {};
  if (fileFD >= 0 && (::fstat(fileFD, &attributes) != 0 || !S_ISREG(attributes.st_mode))) {
    ::close(fileFD);
    fileFD = -1;
  }
  if (fileFD < 0) {
    HTTP_LOG_ERROR(kLogLevel, "%s: Unable to open file. filePath: %s", kFile, _filePath.c_str());
    return false;
  }
  readSource = platform::dispatch::Source::makeRead(fileFD, readQueue);
  std::weak_ptr<HTTPAsyncFileResponse> weak = weak_from_this();
  std::weak_ptr<platform::dispatch::Source> weakSource = readSource;
  readSource->setEventHandler([weak, weakSource] {
    std::shared_ptr<HTTPAsyncFileResponse> self = weak.lock();
    std::shared_ptr<platform::dispatch::Source> source = weakSource.lock();
    if (self && source) self->readSourceDidFire(source->data());
  });
  int fd = fileFD;
  readSource->setCancelHandler([fd] { ::close(fd); });
  readSourceSuspended = true;
  return true;
}

void HTTPAsyncFileResponse::readSourceDidFire(std::size_t available) {
  assertOnReadQueue();
  if (readSourceSuspended || aborted) return;
  std::uint64_t fileLeft = fileLength - std::min(readOffset, fileLength);
  std::size_t bytesToRead =
      std::min(available, readRequestLength - std::min(readRequestLength, readBufferOffset));
  if (fileLeft < bytesToRead) bytesToRead = static_cast<std::size_t>(fileLeft);
  // A subclass may hold bytes back beyond what was asked for; it still needs the next bytes.
  if (bytesToRead == 0 && readBufferOffset > 0)
    bytesToRead = static_cast<std::size_t>(std::min<std::uint64_t>({available, fileLeft, 4096}));

  if (readBuffer.size() < readBufferOffset + bytesToRead) {
    try {
      readBuffer.resize(readBufferOffset + bytesToRead);
    } catch (const std::bad_alloc&) {
      HTTP_LOG_ERROR(kLogLevel, "%s[%p]: Unable to allocate buffer", kFile,
                     static_cast<void*>(this));
      pauseReadSource();
      abort();
      return;
    }
  }
  ssize_t result = ::read(fileFD, readBuffer.data() + readBufferOffset, bytesToRead);
  if (result < 0) {
    if (errno == EAGAIN || errno == EINTR) return;
    HTTP_LOG_ERROR(kLogLevel, "%s: Error(%i) reading file(%s)", kFile, errno, _filePath.c_str());
    pauseReadSource();
    abort();
    return;
  }
  if (result == 0) {
    HTTP_LOG_ERROR(kLogLevel, "%s: Read EOF on file(%s)", kFile, _filePath.c_str());
    pauseReadSource();
    abort();
    return;
  }
  readOffset += static_cast<std::uint64_t>(result);
  readBufferOffset += static_cast<std::size_t>(result);
  pauseReadSource();
  processReadBuffer();
}

void HTTPAsyncFileResponse::processReadBuffer() {
  assertOnReadQueue();
  data = platform::Bytes(readBuffer.begin(),
                         readBuffer.begin() + static_cast<std::ptrdiff_t>(readBufferOffset));
  readBufferOffset = 0;
  notifyConnection(false);
}

void HTTPAsyncFileResponse::pauseReadSource() {
  assertOnReadQueue();
  if (readSourceSuspended) return;
  readSourceSuspended = true;
  readSource->suspend();
}

void HTTPAsyncFileResponse::resumeReadSource() {
  assertOnReadQueue();
  if (!readSourceSuspended) return;
  readSourceSuspended = false;
  readSource->resume();
}

void HTTPAsyncFileResponse::cancelReadSource() {
  readSource->cancel();
  // A suspended source runs its cancel handler (which closes the file) only once resumed.
  if (readSourceSuspended) {
    readSourceSuspended = false;
    readSource->resume();
  }
  readSource.reset();
  fileFD = -1;
}
