#include "httpserver/webdav/PUTResponse.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "httpserver/core/HTTPLogging.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

bool hasHeader(const PUTResponse::Headers& headers, const char* name) {
  for (const auto& entry : headers)
    if (strcasecmp(entry.first.c_str(), name) == 0) return true;
  return false;
}

// Writes `bytes` to a temporary sibling of `path` and renames it into place.
bool writeAtomically(const std::string& path, const platform::Bytes& bytes) {
  std::string temporary = path + ".upload-XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool written = true;
  std::size_t done = 0;
  while (written && done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      written = errno == EINTR;
      continue;
    }
    done += static_cast<std::size_t>(n);
  }
  written = ::fchmod(fd, 0644) == 0 && written;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
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
    stored = ::chmod(file->c_str(), 0644) == 0 && ::rename(file->c_str(), path.c_str()) == 0;
  } else if (const platform::Bytes* bytes = std::get_if<platform::Bytes>(&body)) {
    stored = writeAtomically(path, *bytes);
  }
  if (!stored) return failedUpload(path);
  return std::shared_ptr<PUTResponse>(new PUTResponse(existed ? 200 : 201));
}
