#include "httpserver/core/HTTPConnection.h"

#include <strings.h>
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>

#include "httpserver/core/HTNumber.h"
#include "httpserver/core/HTTPFileResponse.h"
#include "httpserver/core/HTTPLogging.h"
#include "httpserver/core/HTTPServer.h"
#include "httpserver/core/HTTPServerNotifications.h"
#include "httpserver/core/RangeHeader.h"
#include "httpserver/core/StandardPath.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Utf8.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

// Socket tags.
constexpr long HTTP_REQUEST_HEADER = 10;
constexpr long HTTP_PARTIAL_RESPONSE_HEADER = 21;
constexpr long HTTP_PARTIAL_RESPONSE_BODY = 22;
constexpr long HTTP_CHUNKED_RESPONSE_HEADER = 30;
constexpr long HTTP_CHUNKED_RESPONSE_BODY = 31;
constexpr long HTTP_CHUNKED_RESPONSE_FOOTER = 32;
constexpr long HTTP_PARTIAL_RANGE_RESPONSE_BODY = 40;
constexpr long HTTP_PARTIAL_RANGES_RESPONSE_BODY = 50;
constexpr long HTTP_RESPONSE = 90;
constexpr long HTTP_FINAL_RESPONSE = 91;

// Timeouts in seconds; negative: none.
constexpr double TIMEOUT_READ_FIRST_HEADER_LINE = 30;
constexpr double TIMEOUT_READ_SUBSEQUENT_HEADER_LINE = 30;
constexpr double TIMEOUT_WRITE_HEAD = 30;
constexpr double TIMEOUT_WRITE_BODY = -1;
constexpr double TIMEOUT_WRITE_ERROR = 30;

constexpr std::size_t MAX_HEADER_LINE_LENGTH = 8190;
constexpr std::uint32_t MAX_HEADER_LINES = 100;
// Body piece size, and the most body bytes queued on the socket at once.
constexpr std::size_t READ_CHUNKSIZE = 128 * 1024;

bool equalsIgnoringCase(const std::optional<std::string>& value, const char* expected) {
  return value && strcasecmp(value->c_str(), expected) == 0;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent escapes removed; absent for a broken escape, a NUL byte (which would end the path the
// system opens before the path we checked ends) or bytes that are not UTF-8 text.
std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int high = hexValue(text[i + 1]);
      int low = hexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return std::nullopt;
    out += c;
  }
  if (!platform::isValidUtf8(out)) return std::nullopt;
  return out;
}

// The path part of a request target, as a path relative to the served folder would be read:
// query and fragment dropped, the scheme and authority of an absolute URL dropped, escapes
// removed. Absent when the target names no path that can be read.
std::optional<std::string> relativePathOfURI(const std::string& uri) {
  std::string_view target = uri;
  target = target.substr(0, target.find('#'));
  target = target.substr(0, target.find('?'));
  std::size_t colon = target.find(':');
  std::size_t slash = target.find('/');
  if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
    if (target.substr(colon + 1, 2) != "//") return std::nullopt;
    std::size_t pathStart = target.find('/', colon + 3);
    target = pathStart == std::string_view::npos ? std::string_view("/") : target.substr(pathStart);
  }
  return percentDecoded(target);
}

bool isDirectory(const std::string& path) {
  struct stat attributes {};
  return ::stat(path.c_str(), &attributes) == 0 && S_ISDIR(attributes.st_mode);
}

bool isRegularFile(const std::string& path) {
  struct stat attributes {};
  return ::stat(path.c_str(), &attributes) == 0 && S_ISREG(attributes.st_mode);
}

std::string contentRangeValue(const HTRange& range, std::uint64_t contentLength) {
  char text[96];
  std::snprintf(text, sizeof text, "bytes %" PRIu64 "-%" PRIu64 "/%" PRIu64, range.location,
                range.end() - 1, contentLength);
  return text;
}

}  // namespace

// --- Life
// ------------------------------------------------------------------------------------------

HTTPConnection::HTTPConnection(std::shared_ptr<DispatchSocket> newSocket,
                               std::shared_ptr<HTTPConfig> aConfig)
    : connectionQueue(aConfig && aConfig->queue()
                          ? aConfig->queue()
                          : platform::dispatch::Queue::serial("HTTPConnection")),
      config(std::move(aConfig)),
      asyncSocket(std::move(newSocket)),
      request(std::make_unique<HTTPMessage>()) {}

void HTTPConnection::takeOverSocket() {
  if (asyncSocket) asyncSocket->setDelegate(weak_from_this(), connectionQueue);
}

HTTPConnection::~HTTPConnection() {
  if (asyncSocket) {
    asyncSocket->setDelegate(DispatchSocket::DelegatePtr(), nullptr);
    asyncSocket->disconnect();
  }
  if (httpResponse) httpResponse->connectionDidClose();
}

void HTTPConnection::start() {
  connectionQueue->async([self = shared_from_this()] {
    if (self->started) return;
    self->started = true;
    self->startConnection();
  });
}

void HTTPConnection::stop() {
  connectionQueue->async([self = shared_from_this()] {
    if (self->asyncSocket) self->asyncSocket->disconnect();
  });
}

void HTTPConnection::startConnection() {
  // TLS would start here for a secure server; the socket layer offers none yet, and the
  // default server is not secure.
  startReadingRequest();
}

// --- Overridable operations --------------------------------------------------------------------

bool HTTPConnection::supportsMethod(const std::string& method, const std::string&) {
  return method == "GET" || method == "HEAD";
}

bool HTTPConnection::expectsRequestBodyFromMethod(const std::string& method, const std::string&) {
  return method == "POST" || method == "PUT";
}

bool HTTPConnection::isSecureServer() { return false; }

bool HTTPConnection::isPasswordProtected(const std::string&) { return false; }

std::vector<std::string> HTTPConnection::directoryIndexFileNames() {
  return {"index.html", "index.htm"};
}

std::optional<std::string> HTTPConnection::filePathForURI(const std::optional<std::string>& path) {
  return filePathForURI(path, false);
}

std::optional<std::string> HTTPConnection::filePathForURI(const std::optional<std::string>& path,
                                                          bool allowDirectory) {
  const std::optional<std::string>& documentRoot = config ? config->documentRoot() : std::nullopt;
  if (!documentRoot) {
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: No configured document root", HTTP_LOG_FILE,
                  static_cast<void*>(this));
    return std::nullopt;
  }
  if (documentRoot->empty()) {
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: Document root is invalid file path", HTTP_LOG_FILE,
                  static_cast<void*>(this));
    return std::nullopt;
  }
  if (!path) return std::nullopt;
  std::optional<std::string> relativePath = relativePathOfURI(*path);
  if (!relativePath) return std::nullopt;

  std::string fullPath = standardizePath(*documentRoot + "/" + *relativePath);
  if (*relativePath == "/") fullPath += "/";

  // The trailing separator keeps a sibling folder whose name merely begins with the root's
  // name (root ".../7", request for ".../77/x") outside.
  std::string prefix = *documentRoot;
  if (prefix.back() != '/') prefix += '/';
  if (fullPath.compare(0, prefix.size(), prefix) != 0) {
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: Request for file outside document root", HTTP_LOG_FILE,
                  static_cast<void*>(this));
    return std::nullopt;
  }

  if (!allowDirectory && isDirectory(fullPath)) {
    std::string folder = fullPath.back() == '/' ? fullPath : fullPath + "/";
    for (const std::string& name : directoryIndexFileNames()) {
      std::string candidate = folder + name;
      if (isRegularFile(candidate)) return candidate;
    }
    return std::nullopt;
  }
  return fullPath;
}

std::shared_ptr<HTTPResponse> HTTPConnection::httpResponseForMethod(
    const std::string&, const std::optional<std::string>& path) {
  std::optional<std::string> filePath = filePathForURI(path, false);
  // Regular files only: opening a pipe or a device could block the queue every connection
  // shares.
  if (!filePath || !isRegularFile(*filePath)) return nullptr;
  return HTTPFileResponse::initWithFilePath(filePath, weak_from_this());
}

std::optional<std::string> HTTPConnection::requestURI() const {
  if (!request) return std::nullopt;
  return request->url();
}

std::string HTTPConnection::dateAsString(platform::Date date) {
  return platform::formatDate(date, "EEE, dd MMM y HH:mm:ss 'GMT'", platform::TimeZone::utc());
}

// --- Reading a request -------------------------------------------------------------------------

void HTTPConnection::startReadingRequest() {
  if (!asyncSocket) return;
  asyncSocket->readDataToData(DispatchSocket::CRLFData(), TIMEOUT_READ_FIRST_HEADER_LINE,
                              MAX_HEADER_LINE_LENGTH, HTTP_REQUEST_HEADER);
}

void HTTPConnection::socketDidReadData(const std::shared_ptr<DispatchSocket>&,
                                       const SocketData& data, long tag) {
  if (tag != HTTP_REQUEST_HEADER || !request || !asyncSocket) return;

  if (!request->appendData(data.view())) {
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: Malformed request", HTTP_LOG_FILE, static_cast<void*>(this));
    handleInvalidRequest(data);
    return;
  }
  if (!request->isHeaderComplete()) {
    if (++numHeaderLines > MAX_HEADER_LINES) {
      asyncSocket->disconnect();
      return;
    }
    asyncSocket->readDataToData(DispatchSocket::CRLFData(), TIMEOUT_READ_SUBSEQUENT_HEADER_LINE,
                                MAX_HEADER_LINE_LENGTH, HTTP_REQUEST_HEADER);
    return;
  }

  std::string method = request->method();
  std::string uri = requestURI().value_or("");
  std::optional<std::string> transferEncoding = request->headerField("Transfer-Encoding");
  std::optional<std::string> contentLength = request->headerField("Content-Length");
  std::uint64_t requestContentLength = 0;
  bool expectsBody = expectsRequestBodyFromMethod(method, uri);
  if (expectsBody) {
    if (!equalsIgnoringCase(transferEncoding, "Chunked")) {
      if (!contentLength) {
        HTTP_LOG_WARN(kLogLevel,
                      "%s[%p]: Method expects request body, but had no specified Content-Length",
                      HTTP_LOG_FILE, static_cast<void*>(this));
        handleInvalidRequest(SocketData());
        return;
      }
      if (!HTNumber::parseString(std::string_view(*contentLength), &requestContentLength)) {
        HTTP_LOG_WARN(kLogLevel,
                      "%s[%p]: Unable to parse Content-Length header into a valid number",
                      HTTP_LOG_FILE, static_cast<void*>(this));
        handleInvalidRequest(SocketData());
        return;
      }
    }
  } else if (contentLength) {
    if (!HTNumber::parseString(std::string_view(*contentLength), &requestContentLength)) {
      HTTP_LOG_WARN(kLogLevel, "%s[%p]: Unable to parse Content-Length header into a valid number",
                    HTTP_LOG_FILE, static_cast<void*>(this));
      handleInvalidRequest(SocketData());
      return;
    }
    if (requestContentLength > 0) {
      HTTP_LOG_WARN(kLogLevel,
                    "%s[%p]: Method not expecting request body had non-zero Content-Length",
                    HTTP_LOG_FILE, static_cast<void*>(this));
      handleInvalidRequest(SocketData());
      return;
    }
  }

  if (!supportsMethod(method, uri)) {
    handleUnknownMethod(method);
    return;
  }
  if (expectsBody) {
    // Reading request bodies belongs to the connections that accept them; a connection that
    // supports such a method without reading its body would take the body for the next head,
    // so it refuses the request instead.
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: Request bodies are not read by this connection",
                  HTTP_LOG_FILE, static_cast<void*>(this));
    handleInvalidRequest(SocketData());
    return;
  }
  replyToHTTPRequest();
}

// --- Replying ----------------------------------------------------------------------------------

void HTTPConnection::replyToHTTPRequest() {
  const std::string& version = request->version();
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    handleVersionNotSupported(version);
    return;
  }
  std::optional<std::string> uri = requestURI();
  if (isPasswordProtected(uri.value_or(""))) {
    // Authentication comes with the connections that ask for a password; none does yet, so a
    // protected path is not given away.
    handleResourceNotFound();
    return;
  }
  httpResponse = httpResponseForMethod(request->method(), uri);
  if (!httpResponse) {
    handleResourceNotFound();
    return;
  }
  sendResponseHeadersAndBody();
}

void HTTPConnection::writeErrorResponse(HTTPMessage& response, long tag) {
  std::string data = preprocessErrorResponse(response);
  if (asyncSocket) asyncSocket->writeData(SocketData(data), TIMEOUT_WRITE_ERROR, tag);
}

void HTTPConnection::handleVersionNotSupported(const std::string& version) {
  HTTP_LOG_WARN(kLogLevel, "HTTP Server: Error 505 - Version Not Supported: %s (%s)",
                version.c_str(), requestURI().value_or("(null)").c_str());
  HTTPMessage response(505, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", "0");
  writeErrorResponse(response, HTTP_RESPONSE);
}

void HTTPConnection::handleInvalidRequest(const SocketData&) {
  HTTP_LOG_WARN(kLogLevel, "HTTP Server: Error 400 - Bad Request (%s)",
                requestURI().value_or("(null)").c_str());
  HTTPMessage response(400, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", "0");
  response.setHeaderField("Connection", "close");
  writeErrorResponse(response, HTTP_FINAL_RESPONSE);
}

void HTTPConnection::handleUnknownMethod(const std::string& method) {
  HTTP_LOG_WARN(kLogLevel, "HTTP Server: Error 405 - Method Not Allowed: %s (%s)", method.c_str(),
                requestURI().value_or("(null)").c_str());
  HTTPMessage response(405, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", "0");
  response.setHeaderField("Connection", "close");
  writeErrorResponse(response, HTTP_FINAL_RESPONSE);
}

void HTTPConnection::handleResourceNotFound() {
  HTTPMessage response(404, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", "0");
  writeErrorResponse(response, HTTP_RESPONSE);
}

std::string HTTPConnection::preprocessResponse(HTTPMessage& response) {
  response.setHeaderField("Date", dateAsString(platform::Clock::shared()->now()));
  response.setHeaderField("Accept-Ranges", "bytes");
  if (httpResponse) {
    if (auto headers = httpResponse->httpHeaders())
      for (auto& [name, value] : *headers) response.setHeaderField(name, value);
  }
  return response.messageData();
}

std::string HTTPConnection::preprocessErrorResponse(HTTPMessage& response) {
  return preprocessResponse(response);
}

// --- Ranges ------------------------------------------------------------------------------------

bool HTTPConnection::parseRangeRequest(const std::string& rangeHeader,
                                       std::uint64_t contentLength) {
  ranges = RangeHeader::parse(rangeHeader, contentLength);
  rangeIndex = 0;
  return ranges.has_value();
}

HTTPMessage HTTPConnection::newUniRangeResponse(std::uint64_t contentLength) {
  const HTRange& range = ranges->front();
  HTTPMessage response(206, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", std::to_string(range.length));
  response.setHeaderField("Content-Range", contentRangeValue(range, contentLength));
  return response;
}

HTTPMessage HTTPConnection::newMultiRangeResponse(std::uint64_t contentLength) {
  HTTPMessage response(206, std::nullopt, "HTTP/1.1");
  ranges_boundry = platform::makeUuid();
  ranges_headers.clear();
  std::uint64_t actualContentLength = 0;
  for (const HTRange& range : *ranges) {
    std::string header = "\r\n--" + ranges_boundry + "\r\n" +
                         "Content-Range: " + contentRangeValue(range, contentLength) + "\r\n\r\n";
    actualContentLength += header.size() + range.length;
    ranges_headers.push_back(std::move(header));
  }
  actualContentLength += ("\r\n--" + ranges_boundry + "--\r\n").size();
  response.setHeaderField("Content-Length", std::to_string(actualContentLength));
  response.setHeaderField("Content-Type", "multipart/byteranges; boundary=" + ranges_boundry);
  return response;
}

std::string HTTPConnection::chunkedTransferSizeLineForLength(std::size_t length) {
  char text[32];
  std::snprintf(text, sizeof text, "%zx\r\n", length);
  return text;
}

std::string HTTPConnection::chunkedTransferFooter() { return "\r\n0\r\n\r\n"; }

// --- The response pump -------------------------------------------------------------------------

std::size_t HTTPConnection::writeQueueSize() const {
  std::size_t total = 0;
  for (std::size_t size : responseDataSizes) total += size;
  return total;
}

std::optional<platform::Bytes> HTTPConnection::readResponsePiece(std::size_t length) {
  std::optional<platform::Bytes> data = httpResponse->readDataOfLength(length);
  if (data && !data->empty()) responseDataSizes.push_back(data->size());
  return data;
}

void HTTPConnection::writeStandardPiece(platform::Bytes data) {
  bool done = httpResponse->isDone();
  if (httpResponse->isChunked().value_or(false)) {
    std::size_t length = data.size();
    asyncSocket->writeData(SocketData(chunkedTransferSizeLineForLength(length)), TIMEOUT_WRITE_HEAD,
                           HTTP_CHUNKED_RESPONSE_HEADER);
    asyncSocket->writeData(SocketData(std::move(data)), TIMEOUT_WRITE_BODY,
                           HTTP_CHUNKED_RESPONSE_BODY);
    if (done) {
      asyncSocket->writeData(SocketData(chunkedTransferFooter()), TIMEOUT_WRITE_HEAD,
                             HTTP_RESPONSE);
    } else {
      asyncSocket->writeData(DispatchSocket::CRLFData(), TIMEOUT_WRITE_HEAD,
                             HTTP_CHUNKED_RESPONSE_FOOTER);
    }
    return;
  }
  asyncSocket->writeData(SocketData(std::move(data)), TIMEOUT_WRITE_BODY,
                         done ? HTTP_RESPONSE : HTTP_PARTIAL_RESPONSE_BODY);
}

void HTTPConnection::sendResponseHeadersAndBody() {
  if (!httpResponse || !asyncSocket) return;
  if (httpResponse->delayResponseHeaders().value_or(false)) return;

  const bool isChunked = httpResponse->isChunked().value_or(false);
  const std::uint64_t contentLength = isChunked ? 0 : httpResponse->contentLength();

  bool isRangeRequest = false;
  if (!isChunked) {
    if (std::optional<std::string> rangeHeader = request->headerField("Range"))
      isRangeRequest = parseRangeRequest(*rangeHeader, contentLength);
  }
  if (!isRangeRequest) ranges.reset();

  std::optional<HTTPMessage> response;
  if (isRangeRequest && ranges->size() == 1) {
    response = newUniRangeResponse(contentLength);
  } else if (isRangeRequest) {
    response = newMultiRangeResponse(contentLength);
  } else {
    response.emplace(httpResponse->status().value_or(200), std::nullopt, "HTTP/1.1");
    if (isChunked) {
      response->setHeaderField("Transfer-Encoding", "chunked");
    } else {
      response->setHeaderField("Content-Length", std::to_string(contentLength));
    }
  }

  std::string head = preprocessResponse(*response);
  sentResponseHeaders = true;
  if (request->method() == "HEAD" || (!isChunked && contentLength == 0)) {
    asyncSocket->writeData(SocketData(std::move(head)), TIMEOUT_WRITE_HEAD, HTTP_RESPONSE);
    return;
  }
  asyncSocket->writeData(SocketData(std::move(head)), TIMEOUT_WRITE_HEAD,
                         HTTP_PARTIAL_RESPONSE_HEADER);

  if (!isRangeRequest) {
    std::optional<platform::Bytes> data = readResponsePiece(READ_CHUNKSIZE);
    if (data && !data->empty()) writeStandardPiece(std::move(*data));
  } else {
    startRange(0, READ_CHUNKSIZE);
  }
}

void HTTPConnection::sendRangePiece(std::uint64_t bytesLeft, std::size_t space) {
  std::size_t bytesToRead = static_cast<std::size_t>(std::min<std::uint64_t>(bytesLeft, space));
  std::optional<platform::Bytes> data = readResponsePiece(bytesToRead);
  if (!data || data->empty()) return;
  long tag = HTTP_PARTIAL_RANGES_RESPONSE_BODY;
  if (ranges->size() == 1)
    tag = data->size() == bytesLeft ? HTTP_RESPONSE : HTTP_PARTIAL_RANGE_RESPONSE_BODY;
  asyncSocket->writeData(SocketData(std::move(*data)), TIMEOUT_WRITE_BODY, tag);
}

void HTTPConnection::startRange(std::size_t index, std::size_t space) {
  const HTRange range = (*ranges)[index];
  if (ranges->size() > 1) {
    asyncSocket->writeData(SocketData(ranges_headers[index]), TIMEOUT_WRITE_HEAD,
                           HTTP_PARTIAL_RESPONSE_HEADER);
  }
  httpResponse->setOffset(range.location);
  sendRangePiece(range.length, space);
}

void HTTPConnection::continueSendingStandardResponseBody() {
  if (!httpResponse || !asyncSocket) return;
  std::size_t queued = writeQueueSize();
  if (queued >= READ_CHUNKSIZE) return;
  std::optional<platform::Bytes> data = readResponsePiece(READ_CHUNKSIZE - queued);
  if (data && !data->empty()) writeStandardPiece(std::move(*data));
}

void HTTPConnection::continueSendingSingleRangeResponseBody() {
  if (!httpResponse || !asyncSocket || !ranges || ranges->empty()) return;
  std::size_t queued = writeQueueSize();
  if (queued >= READ_CHUNKSIZE) return;
  const HTRange range = ranges->front();
  std::uint64_t offset = httpResponse->offset();
  std::uint64_t bytesLeft = range.end() > offset ? range.end() - offset : 0;
  if (bytesLeft > 0) sendRangePiece(bytesLeft, READ_CHUNKSIZE - queued);
}

void HTTPConnection::continueSendingMultiRangeResponseBody() {
  if (!httpResponse || !asyncSocket || !ranges || rangeIndex >= ranges->size()) return;
  std::size_t queued = writeQueueSize();
  if (queued >= READ_CHUNKSIZE) return;
  const std::size_t space = READ_CHUNKSIZE - queued;

  const HTRange range = (*ranges)[rangeIndex];
  std::uint64_t offset = httpResponse->offset();
  std::uint64_t bytesLeft = range.end() > offset ? range.end() - offset : 0;
  if (bytesLeft > 0) {
    sendRangePiece(bytesLeft, space);
  } else if (++rangeIndex < ranges->size()) {
    startRange(rangeIndex, space);
  } else {
    asyncSocket->writeData(SocketData("\r\n--" + ranges_boundry + "--\r\n"), TIMEOUT_WRITE_HEAD,
                           HTTP_RESPONSE);
  }
}

void HTTPConnection::responseHasAvailableData(HTTPResponse* sender) {
  connectionQueue->async([self = shared_from_this(), sender] {
    if (sender != self->httpResponse.get()) {
      HTTP_LOG_WARN(kLogLevel, "%s[%p]: %s - Sender is not current httpResponse", HTTP_LOG_FILE,
                    static_cast<void*>(self.get()), "responseHasAvailableData:");
      return;
    }
    if (!self->sentResponseHeaders) {
      self->sendResponseHeadersAndBody();
    } else if (!self->ranges) {
      self->continueSendingStandardResponseBody();
    } else if (self->ranges->size() == 1) {
      self->continueSendingSingleRangeResponseBody();
    } else {
      self->continueSendingMultiRangeResponseBody();
    }
  });
}

void HTTPConnection::responseDidAbort(HTTPResponse* sender) {
  connectionQueue->async([self = shared_from_this(), sender] {
    if (sender != self->httpResponse.get()) {
      HTTP_LOG_WARN(kLogLevel, "%s[%p]: %s - Sender is not current httpResponse", HTTP_LOG_FILE,
                    static_cast<void*>(self.get()), "responseDidAbort:");
      return;
    }
    if (self->asyncSocket) self->asyncSocket->disconnectAfterWriting();
  });
}

// --- Writes completed --------------------------------------------------------------------------

void HTTPConnection::socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>&, long tag) {
  switch (tag) {
    case HTTP_PARTIAL_RESPONSE_BODY:
      if (!responseDataSizes.empty()) responseDataSizes.pop_front();
      continueSendingStandardResponseBody();
      break;
    case HTTP_CHUNKED_RESPONSE_BODY:
      if (!responseDataSizes.empty()) responseDataSizes.pop_front();
      break;
    case HTTP_CHUNKED_RESPONSE_FOOTER:
      continueSendingStandardResponseBody();
      break;
    case HTTP_PARTIAL_RANGE_RESPONSE_BODY:
      if (!responseDataSizes.empty()) responseDataSizes.pop_front();
      continueSendingSingleRangeResponseBody();
      break;
    case HTTP_PARTIAL_RANGES_RESPONSE_BODY:
      if (!responseDataSizes.empty()) responseDataSizes.pop_front();
      continueSendingMultiRangeResponseBody();
      break;
    case HTTP_RESPONSE:
    case HTTP_FINAL_RESPONSE:
      responseDidEnd(tag);
      break;
    default:
      break;
  }
}

void HTTPConnection::responseDidEnd(long tag) {
  if (!responseDataSizes.empty()) responseDataSizes.pop_front();
  if (auto server = config ? config->server() : nullptr) server->countRequestServed();
  if (httpResponse) httpResponse->connectionDidClose();

  if (tag == HTTP_FINAL_RESPONSE) {
    finishResponse();
    if (asyncSocket) asyncSocket->disconnect();
    return;
  }
  const bool doneWithConnection = shouldDie();
  finishResponse();
  if (doneWithConnection) {
    if (asyncSocket) asyncSocket->disconnect();
    return;
  }
  request = std::make_unique<HTTPMessage>();
  numHeaderLines = 0;
  sentResponseHeaders = false;
  startReadingRequest();
}

bool HTTPConnection::shouldDie() {
  if (!request) return false;
  std::optional<std::string> connection = request->headerField("Connection");
  const std::string& version = request->version();
  if (version == "HTTP/1.1") return equalsIgnoringCase(connection, "close");
  if (version == "HTTP/1.0") return !equalsIgnoringCase(connection, "Keep-Alive");
  return false;
}

void HTTPConnection::finishResponse() {
  request.reset();
  httpResponse.reset();
  ranges.reset();
  ranges_headers.clear();
  ranges_boundry.clear();
}

void HTTPConnection::die() {
  if (httpResponse) httpResponse->connectionDidClose();
  httpResponse.reset();
  platform::NotificationCenter::defaultCenter().post(kHTTPConnectionDidDieNotification,
                                                     platform::Value::object(shared_from_this()));
}

void HTTPConnection::socketDidDisconnect(const std::shared_ptr<DispatchSocket>&,
                                         const std::optional<platform::Error>&) {
  asyncSocket.reset();
  die();
}
