#include "httpserver/core/HTTPFileResponse.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPLogging.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

std::string resolvingSymlinks(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

}  // namespace

std::shared_ptr<HTTPFileResponse> HTTPFileResponse::initWithFilePath(
    const std::optional<std::string>& filePath, std::weak_ptr<HTTPConnection> connection,
    int* openError) {
  if (openError) *openError = 0;
  if (!filePath) {
    HTTP_LOG_WARN(kLogLevel, "%s: Init failed - Nil filePath", HTTP_LOG_FILE);
    return nullptr;
  }
  // Regular files only (see SocketFile): a pipe or device could block the shared queue.
  std::shared_ptr<const SocketFile> file = SocketFile::openRegular(*filePath, openError);
  if (!file) {
    HTTP_LOG_WARN(kLogLevel, "%s: Init failed - Unable to get file attributes. filePath: %s",
                  HTTP_LOG_FILE, filePath->c_str());
    return nullptr;
  }
  return std::shared_ptr<HTTPFileResponse>(
      new HTTPFileResponse(*filePath, std::move(connection), std::move(file)));
}

std::shared_ptr<HTTPFileResponse> HTTPFileResponse::initWithFile(
    std::shared_ptr<const SocketFile> file, std::string filePath,
    std::weak_ptr<HTTPConnection> connection) {
  return std::shared_ptr<HTTPFileResponse>(
      new HTTPFileResponse(std::move(filePath), std::move(connection), std::move(file)));
}

HTTPFileResponse::HTTPFileResponse(std::string filePath, std::weak_ptr<HTTPConnection> connection,
                                   std::shared_ptr<const SocketFile> file)
    : connection(std::move(connection)),
      givenPath_(std::move(filePath)),
      fileLength(file->sizeWhenOpened()),
      file_(std::move(file)) {}

const std::string& HTTPFileResponse::filePath() const {
  if (!_filePath) _filePath = resolvingSymlinks(givenPath_);
  return *_filePath;
}

HTTPFileResponse::~HTTPFileResponse() = default;

void HTTPFileResponse::abort() {
  if (auto owner = connection.lock()) owner->responseDidAbort(this);
  aborted = true;
}

bool HTTPFileResponse::openFile() {
  // Regular files only (see SocketFile): a pipe or device could block the shared queue.
  file_ = SocketFile::openRegular(givenPath_);
  if (!file_) {
    HTTP_LOG_ERROR(kLogLevel, "%s[%p]: Unable to open file. filePath: %s", HTTP_LOG_FILE,
                   static_cast<void*>(this), givenPath_.c_str());
    abort();
    return false;
  }
  return true;
}

bool HTTPFileResponse::openFileIfNeeded() {
  if (aborted) return false;
  if (!file_) return openFile();
  return true;
}

// Reads go by offset (pread), so setting one needs no system call.
void HTTPFileResponse::setOffset(std::uint64_t offset) {
  if (!openFileIfNeeded()) return;
  fileOffset = offset;
}

std::size_t HTTPFileResponse::lengthLeft(std::size_t length) const {
  std::uint64_t left = fileOffset < fileLength ? fileLength - fileOffset : 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(length, left));
}

std::optional<HTTPResponse::FilePiece> HTTPFileResponse::filePieceOfLength(std::size_t length) {
  if (!openFileIfNeeded()) return std::nullopt;
  std::size_t n = lengthLeft(length);
  if (n == 0) return std::nullopt;
  FilePiece piece{file_, fileOffset, n};
  fileOffset += n;
  return piece;
}

std::optional<platform::Bytes> HTTPFileResponse::readDataOfLength(std::size_t length) {
  if (!openFileIfNeeded()) return std::nullopt;
  std::size_t n = lengthLeft(length);

  platform::Bytes data;
  try {
    data.resize(n);
  } catch (const std::bad_alloc&) {
    HTTP_LOG_ERROR(kLogLevel, "%s[%p]: Unable to allocate buffer", HTTP_LOG_FILE,
                   static_cast<void*>(this));
    abort();
    return std::nullopt;
  }
  ssize_t got = ::pread(file_->fd(), data.data(), n, static_cast<off_t>(fileOffset));
  if (got < 0) {
    int error = errno;
    HTTP_LOG_ERROR(kLogLevel, "%s: Error(%i) reading file(%s)", HTTP_LOG_FILE, error,
                   givenPath_.c_str());
    abort();
    return std::nullopt;
  }
  if (got == 0) {
    HTTP_LOG_ERROR(kLogLevel, "%s: Read EOF on file(%s)", HTTP_LOG_FILE, givenPath_.c_str());
    abort();
    return std::nullopt;
  }
  fileOffset += static_cast<std::uint64_t>(got);
  data.resize(static_cast<std::size_t>(got));
  return data;
}
