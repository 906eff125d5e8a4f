#include "httpserver/webdav/DAVConnection.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "httpserver/core/HTTPAsyncFileResponse.h"
#include "httpserver/core/HTTPFileResponse.h"
#include "httpserver/core/HTTPLogging.h"
#include "httpserver/webdav/DAVResponse.h"
#include "httpserver/webdav/DELETEResponse.h"
#include "httpserver/webdav/PUTResponse.h"
#include "platform/foundation/Paths.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;
// Bodies declared larger than this go to a temporary file.
constexpr std::uint64_t kMaxMemoryBody = 1024 * 1024;
// The most an XML request body may hold: real LOCK and PROPFIND bodies are a few hundred bytes,
// and the whole body is held in memory to be parsed.
constexpr std::uint64_t kMaxXMLBodySize = 1024 * 1024;
// Files larger than this are read off the shared connection queue.
constexpr std::uint64_t kMaxSyncFileLength = 16 * 1024 * 1024;

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

}  // namespace

DAVConnection::DAVConnection(std::shared_ptr<DispatchSocket> newSocket,
                             std::shared_ptr<HTTPConfig> aConfig)
    : HTTPConnection(std::move(newSocket), std::move(aConfig)) {}

DAVConnection::~DAVConnection() { discardBody(); }

std::string DAVConnection::uploadFolder() {
  std::string folder = platform::Paths::temporary() + "/DAVUploads";
  ::mkdir(platform::Paths::temporary().c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
  return folder;
}

bool DAVConnection::supportsMethod(const std::string& method, const std::string&) {
  static const char* const kMethods[] = {"GET",   "HEAD", "PUT",  "DELETE", "OPTIONS", "PROPFIND",
                                         "MKCOL", "MOVE", "COPY", "LOCK",   "UNLOCK"};
  for (const char* supported : kMethods)
    if (method == supported) return true;
  return false;
}

bool DAVConnection::expectsRequestBodyFromMethod(const std::string& method, const std::string&) {
  if (method == "PUT" || method == "LOCK") return true;
  // A chunked body left unread would be taken for the next request's head, and a request
  // pipelined behind it lost; so it is read (within the cap) whatever the method does with it.
  if (announcesChunkedBody()) return true;
  if (method == "PROPFIND" || method == "MKCOL")
    return request && request->headerField("Content-Length").has_value();
  return false;
}

bool DAVConnection::announcesChunkedBody() const {
  if (!request) return false;
  std::optional<std::string> transferEncoding = request->headerField("Transfer-Encoding");
  return transferEncoding && ::strcasecmp(transferEncoding->c_str(), "chunked") == 0;
}

std::uint64_t DAVConnection::maxRequestBodySize() {
  if (request && request->method() != "PUT") return kMaxXMLBodySize;
  return HTTPConnection::maxRequestBodySize();
}

void DAVConnection::prepareForBodyWithSize(std::uint64_t contentLength) {
  discardBody();
  uploadFailed_ = false;
  if (contentLength <= kMaxMemoryBody) {
    platform::Bytes buffer;
    buffer.reserve(static_cast<std::size_t>(contentLength));
    requestContentBody = std::move(buffer);
    return;
  }
  std::string path = uploadFolder() + "/upload-XXXXXX";
  int fd = ::mkstemp(path.data());
  if (fd < 0) {
    uploadFailed_ = true;
    return;
  }
  requestContentBody = path;
  requestContentStream = fd;
}

void DAVConnection::processBodyData(const SocketData& postDataChunk) {
  if (uploadFailed_) return;
  if (requestContentStream >= 0) {
    if (!writeAll(requestContentStream, postDataChunk.bytes(), postDataChunk.length()))
      uploadFailed_ = true;
  } else if (platform::Bytes* buffer = std::get_if<platform::Bytes>(&requestContentBody)) {
    buffer->insert(buffer->end(), postDataChunk.bytes(),
                   postDataChunk.bytes() + postDataChunk.length());
  }
}

void DAVConnection::closeStream() {
  if (requestContentStream < 0) return;
  if (::close(requestContentStream) != 0) uploadFailed_ = true;
  requestContentStream = -1;
}

void DAVConnection::finishBody() { closeStream(); }

void DAVConnection::discardBody() {
  closeStream();
  if (const std::string* path = std::get_if<std::string>(&requestContentBody))
    ::unlink(path->c_str());  // already gone when a PUT moved it into place
  requestContentBody = std::monostate();
}

void DAVConnection::finishResponse() {
  discardBody();
  HTTPConnection::finishResponse();
}

void DAVConnection::die() {
  discardBody();
  HTTPConnection::die();
}

std::shared_ptr<HTTPResponse> DAVConnection::httpResponseForMethod(
    const std::string& method, const std::optional<std::string>& path) {
  if (method == "HEAD" || method == "GET") {
    std::optional<std::string> filePath = filePathForURI(path, false);
    struct stat attributes {};
    if (filePath && ::stat(filePath->c_str(), &attributes) == 0 && S_ISREG(attributes.st_mode)) {
      if (static_cast<std::uint64_t>(attributes.st_size) <= kMaxSyncFileLength)
        return HTTPFileResponse::initWithFilePath(filePath, weak_from_this());
      return HTTPAsyncFileResponse::initWithFilePath(filePath, weak_from_this());
    }
  }

  if (method == "PUT") {
    if (std::optional<std::string> filePath = filePathForURI(path, true)) {
      if (uploadFailed_) return PUTResponse::failedUpload(*filePath);
      PUTResponse::Headers headers = request->allHeaderFields();
      if (const std::string* file = std::get_if<std::string>(&requestContentBody))
        return PUTResponse::initWithFilePathBodyFile(*filePath, headers, *file);
      if (const platform::Bytes* bytes = std::get_if<platform::Bytes>(&requestContentBody))
        return PUTResponse::initWithFilePathBodyData(*filePath, headers, *bytes);
      HTTP_LOG_ERROR(kLogLevel, "Internal error");
    }
  }

  if (method == "DELETE") {
    if (std::optional<std::string> filePath = filePathForURI(path, true))
      return DELETEResponse::initWithFilePath(*filePath, config->documentRoot().value_or(""));
  }

  if (method == "OPTIONS" || method == "PROPFIND" || method == "MKCOL" || method == "MOVE" ||
      method == "COPY" || method == "LOCK" || method == "UNLOCK") {
    std::optional<std::string> filePath = filePathForURI(path, true);
    if (!filePath) return nullptr;
    const std::string rootPath = config->documentRoot().value_or("");
    std::string resourcePath =
        filePath->size() > rootPath.size() ? filePath->substr(rootPath.size() + 1) : "";
    std::optional<platform::Bytes> body;
    if (const std::string* file = std::get_if<std::string>(&requestContentBody)) {
      std::ifstream in(*file, std::ios::binary);
      body = platform::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else if (const platform::Bytes* bytes = std::get_if<platform::Bytes>(&requestContentBody)) {
      body = *bytes;
    } else if (!std::holds_alternative<std::monostate>(requestContentBody)) {
      HTTP_LOG_ERROR(kLogLevel, "Internal error");
      return nullptr;
    }
    return DAVResponse::initWithMethod(method, request->allHeaderFields(), body, resourcePath,
                                       rootPath);
  }
  return nullptr;
}
