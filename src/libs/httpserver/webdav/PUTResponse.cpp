#include "httpserver/webdav/PUTResponse.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

#include "httpserver/core/HTTPLogging.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

bool hasHeader(const PUTResponse::Headers& headers, const char* name) {
  for (const auto& entry : headers)
    if (strcasecmp(entry.first.c_str(), name) == 0) return true;
  return false;
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes what `fill` puts into a temporary sibling of `path` and renames it into place, so a
// reader never sees half a file and a failure leaves the old one.
bool replaceAtomically(const std::string& path, const std::function<bool(int fd)>& fill) {
  std::string temporary = path + ".upload-XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool written = fill(fd);
  written = ::fchmod(fd, 0644) == 0 && written;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

bool writeAtomically(const std::string& path, const platform::Bytes& bytes) {
  return replaceAtomically(path, [&](int fd) { return writeAll(fd, bytes.data(), bytes.size()); });
}

bool copyAll(int from, int to) {
  std::vector<std::uint8_t> buffer(256 * 1024);
  for (;;) {
    ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!writeAll(to, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

// Moves the collected upload `file` to `path`. The upload folder may lie on another file system
// than the share, where no rename can reach: the bytes are then copied beside the target first.
bool moveIntoPlace(const std::string& file, const std::string& path) {
  if (::chmod(file.c_str(), 0644) == 0 && ::rename(file.c_str(), path.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  int source = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  bool stored = replaceAtomically(path, [&](int fd) { return copyAll(source, fd); });
  ::close(source);
  return stored;
}

}  // namespace

std::shared_ptr<PUTResponse> PUTResponse::failedUpload(const std::string& path) {
  HTTP_LOG_ERROR(kLogLevel, "Failed writing upload to \"%s\"", path.c_str());
  return std::shared_ptr<PUTResponse>(new PUTResponse(403));
}

std::shared_ptr<PUTResponse> PUTResponse::initWithFilePath(const std::string& path,
                                                           const Headers& headers,
                                                           const Body& body) {
  namespace fs = std::filesystem;
  if (hasHeader(headers, "Content-Range")) {
    HTTP_LOG_ERROR(kLogLevel, "Content-Range not supported for upload to \"%s\"", path.c_str());
    return std::shared_ptr<PUTResponse>(new PUTResponse(400));
  }
  std::error_code error;
  fs::file_status status = fs::symlink_status(path, error);
  if (fs::is_directory(status) || (!path.empty() && path.back() == '/')) {
    // A folder (the served root included) is never replaced by a file.
    HTTP_LOG_ERROR(kLogLevel, "Failed writing upload to \"%s\"", path.c_str());
    return std::shared_ptr<PUTResponse>(new PUTResponse(405));
  }
  const bool existed = status.type() != fs::file_type::not_found;

  bool stored = false;
  if (const std::string* file = std::get_if<std::string>(&body)) {
    // The upload file lives in a private folder; it becomes readable like any served file.
    stored = moveIntoPlace(*file, path);
  } else if (const platform::Bytes* bytes = std::get_if<platform::Bytes>(&body)) {
    stored = writeAtomically(path, *bytes);
  }
  if (!stored) return failedUpload(path);
  return std::shared_ptr<PUTResponse>(new PUTResponse(existed ? 200 : 201));
}
