#include "httpserver/core/HTTPConnection.h"

#include <openssl/crypto.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "httpserver/core/ChunkedBodyReader.h"
#include "httpserver/core/DocumentRoot.h"
#include "httpserver/core/HTData.h"
#include "httpserver/core/HTNumber.h"
#include "httpserver/core/HTTPAuthenticationRequest.h"
#include "httpserver/core/HTTPFileResponse.h"
#include "httpserver/core/HTTPLogging.h"
#include "httpserver/core/HTTPServer.h"
#include "httpserver/core/HTTPServerNotifications.h"
#include "httpserver/core/HTTPStatusResponse.h"
#include "httpserver/core/RangeHeader.h"
#include "httpserver/core/RequestPath.h"
#include "httpserver/core/WebSocket.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Utf8.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

// Socket tags.
constexpr long HTTP_REQUEST_HEADER = 10;
constexpr long HTTP_REQUEST_BODY = 11;
constexpr long HTTP_REQUEST_CHUNK_SIZE = 12;
constexpr long HTTP_REQUEST_CHUNK_DATA = 13;
constexpr long HTTP_REQUEST_CHUNK_TRAILER = 14;
constexpr long HTTP_REQUEST_CHUNK_FOOTER = 15;
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
// A body read that makes no progress for this long ends the connection.
constexpr double TIMEOUT_READ_BODY = 30;

constexpr std::size_t MAX_HEADER_LINE_LENGTH = 8190;
constexpr std::uint32_t MAX_HEADER_LINES = 100;
// The longest head those two limits let through (the lines and the blank one); a read reaching
// it has broken one of them already.
constexpr std::size_t MAX_HEAD_LENGTH = (MAX_HEADER_LINES + 1) * MAX_HEADER_LINE_LENGTH;
// Body piece size, and the most body bytes queued on the socket at once.
constexpr std::size_t READ_CHUNKSIZE = 128 * 1024;
// Pieces of a request body of known length.
constexpr std::size_t POST_CHUNKSIZE = 32 * 1024;
constexpr std::uint64_t kChunkedBodySize = UINT64_MAX;
constexpr std::uint64_t kDefaultMaxRequestBodySize = 1ull << 30;
// A nonce is accepted for a first use this long after it was issued.
constexpr double kNonceLifetime = 300;

bool equalsIgnoringCase(const std::optional<std::string>& value, const char* expected) {
  return value && strcasecmp(value->c_str(), expected) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat attributes {};
  return ::stat(path.c_str(), &attributes) == 0 && S_ISDIR(attributes.st_mode);
}

// The end of a request head: the socket splits what it reads there, so bytes after it (a body,
// the next request) stay with the socket for the reads that want them.
const SocketData& headEnd() {
  // Never destroyed: connections on pool threads may still start reads while the process exits.
  static const SocketData* const end = new SocketData("\r\n\r\n");
  return *end;
}

// Whether a file that failed to open may open later (descriptors, memory, permissions), as
// against a path that names no file to serve.
bool isUnavailable(int openError) {
  switch (openError) {
    case 0:  // not a regular file
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case EXDEV:  // it would lie outside the document root
      return false;
    default:
      return true;
  }
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

void HTTPConnection::assertOnConnectionQueue() const {
  platform::assertThat(platform::dispatch::Queue::current() == connectionQueue,
                       "Must be dispatched on connectionQueue");
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
  assertOnConnectionQueue();
  if (isSecureServer() && asyncSocket) {
    platform::Array certificates = sslIdentityAndCertificates();
    if (!certificates.empty()) {
      // Queued before the first read, so the handshake comes first.
      platform::Dictionary settings;
      settings[platform::kStreamSSLIsServer] = platform::Value(true);
      settings[platform::kStreamSSLCertificates] = platform::Value(std::move(certificates));
      settings[platform::kStreamSSLLevel] =
          platform::Value(platform::kStreamSocketSecurityLevelNegotiatedSSL);
      asyncSocket->startTLS(settings);
    }
  }
  startReadingRequest();
}

// --- Overridable operations --------------------------------------------------------------------

bool HTTPConnection::supportsMethod(const std::string& method, const std::string&) {
  return method == "GET" || method == "HEAD";
}

bool HTTPConnection::expectsRequestBodyFromMethod(const std::string& method, const std::string&) {
  return method == "POST" || method == "PUT";
}

std::uint64_t HTTPConnection::maxRequestBodySize() { return kDefaultMaxRequestBodySize; }

bool HTTPConnection::isSecureServer() { return false; }

platform::Array HTTPConnection::sslIdentityAndCertificates() { return {}; }

bool HTTPConnection::isPasswordProtected(const std::string&) { return false; }

bool HTTPConnection::useDigestAccessAuthentication() { return true; }

std::string HTTPConnection::realm() { return "defaultRealm@host.com"; }

std::optional<std::string> HTTPConnection::passwordForUser(const std::string&) {
  return std::nullopt;
}

std::shared_ptr<WebSocket> HTTPConnection::webSocketForURI(const std::string&) { return nullptr; }

void HTTPConnection::prepareForBodyWithSize(std::uint64_t) {}

void HTTPConnection::processBodyData(const SocketData&) {}

void HTTPConnection::finishBody() {}

std::vector<std::string> HTTPConnection::directoryIndexFileNames() {
  return {"index.html", "index.htm"};
}

std::optional<std::string> HTTPConnection::filePathForURI(const std::optional<std::string>& path) {
  return filePathForURI(path, false);
}

std::optional<std::string> HTTPConnection::fullPathForURI(const std::optional<std::string>& path) {
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
  std::optional<std::string> resolved = pathUnderRoot(*documentRoot, *relativePath);
  if (!resolved) {
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: Request for file outside document root", HTTP_LOG_FILE,
                  static_cast<void*>(this));
    return std::nullopt;
  }
  return resolved;
}

std::optional<std::string> HTTPConnection::filePathForURI(const std::optional<std::string>& path,
                                                          bool allowDirectory) {
  std::optional<std::string> resolved = fullPathForURI(path);
  if (!resolved) return std::nullopt;
  const std::string& fullPath = *resolved;

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
  std::optional<std::string> fullPath = fullPathForURI(path);
  if (!fullPath || !config->root()) return nullptr;
  const DocumentRoot& root = *config->root();
  // The root's own path ends where the request's part begins (with or without a separator).
  std::string relativePath = fullPath->substr(std::min(root.path().size(), fullPath->size()));
  relativePath.erase(0, relativePath.find_first_not_of('/'));

  // The file is opened (regular files only) before anything is answered, so a file that is there
  // but cannot be opened now, at the descriptor limit say, is a 503 and not a "200 OK" whose
  // body never comes. Folder or file is told by the descriptor opened, not by another look-up
  // of the path.
  int openError = 0;
  std::optional<DocumentRoot::Item> item = root.openItem(relativePath, &openError);
  std::string filePath = *fullPath;
  if (item && S_ISDIR(item->attributes.st_mode)) {
    ::close(item->fd);
    item.reset();
    if (std::optional<IndexPage> page = openIndexPage(root, relativePath, &openError)) {
      item = page->item;
      filePath = (fullPath->back() == '/' ? *fullPath : *fullPath + "/") + page->name;
    }
  }
  if (!item) {
    if (isUnavailable(openError)) return std::make_shared<HTTPStatusResponse>(503);
    return nullptr;
  }
  if (!S_ISREG(item->attributes.st_mode)) {
    // Only regular files are served: a pipe or device could block the shared queue.
    ::close(item->fd);
    return nullptr;
  }
  auto file = SocketFile::adopt(item->fd, static_cast<std::uint64_t>(item->attributes.st_size));
  return HTTPFileResponse::initWithFile(std::move(file), std::move(filePath), weak_from_this());
}

std::optional<HTTPConnection::IndexPage> HTTPConnection::openIndexPage(const DocumentRoot& root,
                                                                       const std::string& folder,
                                                                       int* openError) {
  const std::string prefix = folder.empty() ? "" : folder + "/";
  for (const std::string& name : directoryIndexFileNames()) {
    std::optional<DocumentRoot::Item> item = root.openItem(prefix + name, openError);
    if (item && S_ISREG(item->attributes.st_mode)) return IndexPage{*item, name};
    if (item) ::close(item->fd);
    // A page that is there but cannot be opened now is the same 503 as any such file.
    if (!item && isUnavailable(*openError)) return std::nullopt;
  }
  *openError = 0;
  return std::nullopt;
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
  if (!headBuffer_) headBuffer_ = std::make_shared<platform::Bytes>();
  headBuffer_->clear();
  headBytesShown_ = 0;
  headBytesFed_ = 0;
  headRefused_ = false;
  lastHeadLineAt_.reset();
  // One read for the whole head where the bytes are there: the socket reads what has come and
  // splits it at the head's end. The limits still hold line by line (`feedHeadLines`).
  asyncSocket->readDataToData(headEnd(), TIMEOUT_READ_FIRST_HEADER_LINE, headBuffer_, 0,
                              MAX_HEAD_LENGTH, HTTP_REQUEST_HEADER);
}

void HTTPConnection::socketDidReadData(const std::shared_ptr<DispatchSocket>&,
                                       const SocketData& data, long tag) {
  assertOnConnectionQueue();
  if (!request || !asyncSocket) return;
  if (tag != HTTP_REQUEST_HEADER) {
    handleBodyData(data, tag);
    return;
  }
  if (headRefused_) return;
  std::string_view head = data.view();
  if (headBytesFed_ < head.size() && !feedHeadLines(head.substr(headBytesFed_))) return;
  if (!request->isHeaderComplete()) {
    // The parser refuses a blank first line, so this is not reached; were it, the head would be
    // read on, in a buffer of its own (the one just read still backs `data`).
    headBuffer_.reset();
    startReadingRequest();
    return;
  }
  requestHeadDidComplete();
}

void HTTPConnection::socketDidReadPartialDataOfLength(const std::shared_ptr<DispatchSocket>&,
                                                      std::size_t partialLength, long tag) {
  assertOnConnectionQueue();
  if (tag != HTTP_REQUEST_HEADER || !request || !asyncSocket || headRefused_) return;
  headBytesShown_ += partialLength;
  // The socket fills the buffer on its own queue (this one, for the server's connections), so
  // the bytes not yet fed are taken there.
  std::string unfed;
  asyncSocket->performBlock([&] {
    std::size_t end = std::min(headBytesShown_, headBuffer_->size());
    if (end > headBytesFed_)
      unfed.assign(headBuffer_->begin() + static_cast<std::ptrdiff_t>(headBytesFed_),
                   headBuffer_->begin() + static_cast<std::ptrdiff_t>(end));
  });
  const std::size_t fedBefore = headBytesFed_;
  feedHeadLines(unfed);
  if (headBytesFed_ != fedBefore) lastHeadLineAt_ = platform::Clock::shared()->monotonicNow();
}

std::optional<double> HTTPConnection::socketShouldTimeoutReadWithTag(
    const std::shared_ptr<DispatchSocket>&, long tag, double, std::size_t) {
  assertOnConnectionQueue();
  // The limit is per line: each line that came gives the next one its full time. Without one
  // since the read began, the read's own time (that of the first line) is up.
  if (tag != HTTP_REQUEST_HEADER || !lastHeadLineAt_) return std::nullopt;
  platform::Duration sinceLastLine = platform::Clock::shared()->monotonicNow() - *lastHeadLineAt_;
  double left = TIMEOUT_READ_SUBSEQUENT_HEADER_LINE - platform::toSeconds(sinceLastLine);
  if (left > 0) return left;
  return std::nullopt;
}

bool HTTPConnection::feedHeadLines(std::string_view bytes) {
  if (request->isHeaderComplete()) return true;
  std::size_t start = 0;
  for (std::size_t end = bytes.find("\r\n"); end != std::string_view::npos;
       end = bytes.find("\r\n", start)) {
    std::string_view line = bytes.substr(start, end + 2 - start);
    start = end + 2;
    if (!acceptHeadLine(line)) return false;
    if (request->isHeaderComplete()) return true;
  }
  // A line not ended yet that has reached the limit can only end past it.
  if (bytes.size() - start >= MAX_HEADER_LINE_LENGTH) return refuseHead();
  return true;
}

bool HTTPConnection::refuseHead() {
  headRefused_ = true;
  asyncSocket->disconnect();
  return false;
}

bool HTTPConnection::acceptHeadLine(std::string_view line) {
  headBytesFed_ += line.size();
  if (line.size() > MAX_HEADER_LINE_LENGTH) return refuseHead();
  if (!request->appendData(line)) {
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: Malformed request", HTTP_LOG_FILE, static_cast<void*>(this));
    headRefused_ = true;
    handleInvalidRequest(SocketData(std::string(line)));
    return false;
  }
  if (!request->isHeaderComplete() && ++numHeaderLines > MAX_HEADER_LINES) return refuseHead();
  return true;
}

void HTTPConnection::requestHeadDidComplete() {
  std::string method = request->method();
  std::string uri = requestURI().value_or("");
  std::optional<std::string> transferEncoding = request->headerField("Transfer-Encoding");
  std::optional<std::string> contentLength = request->headerField("Content-Length");
  requestContentLength = 0;
  requestBodyIsChunked_ = false;
  bool expectsBody = expectsRequestBodyFromMethod(method, uri);
  if (expectsBody) {
    if (equalsIgnoringCase(transferEncoding, "Chunked")) {
      requestBodyIsChunked_ = true;
      requestContentLength = kChunkedBodySize;
    } else {
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
    std::uint64_t length = 0;
    if (!HTNumber::parseString(std::string_view(*contentLength), &length)) {
      HTTP_LOG_WARN(kLogLevel, "%s[%p]: Unable to parse Content-Length header into a valid number",
                    HTTP_LOG_FILE, static_cast<void*>(this));
      handleInvalidRequest(SocketData());
      return;
    }
    if (length > 0) {
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
  if (!expectsBody) {
    replyToHTTPRequest();
    return;
  }
  // The flag, not the length, says "chunked": a declared length of all ones is just too long.
  const bool chunked = requestBodyIsChunked_;
  if (!chunked && requestContentLength > maxRequestBodySize()) {
    handleRequestBodyTooLarge();
    return;
  }
  requestContentLengthReceived = 0;
  requestChunkSize = 0;
  requestChunkSizeReceived = 0;
  prepareForBodyWithSize(requestContentLength);
  if (chunked) {
    chunkedBody_.emplace(maxRequestBodySize(), numHeaderLines);
    readChunkedBody();
  } else if (requestContentLength == 0) {
    finishBody();
    replyToHTTPRequest();
  } else {
    readBodyData(HTTP_REQUEST_BODY, requestContentLength);
  }
}

void HTTPConnection::readBodyData(long tag, std::uint64_t remaining) {
  std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, POST_CHUNKSIZE));
  asyncSocket->readDataToLength(length, TIMEOUT_READ_BODY, tag);
}

void HTTPConnection::readChunkedBody() {
  const ChunkedBodyReader::Read read = chunkedBody_->next();
  long tag = HTTP_REQUEST_CHUNK_FOOTER;
  switch (read.stage) {
    case ChunkedBodyReader::Stage::SizeLine:
      tag = HTTP_REQUEST_CHUNK_SIZE;
      break;
    case ChunkedBodyReader::Stage::Data:
      tag = HTTP_REQUEST_CHUNK_DATA;
      break;
    case ChunkedBodyReader::Stage::DataEnd:
      tag = HTTP_REQUEST_CHUNK_TRAILER;
      break;
    case ChunkedBodyReader::Stage::TrailerLine:
      break;
  }
  if (read.line) {
    asyncSocket->readDataToData(DispatchSocket::CRLFData(), TIMEOUT_READ_BODY, read.length, tag);
  } else {
    asyncSocket->readDataToLength(read.length, TIMEOUT_READ_BODY, tag);
  }
}

void HTTPConnection::handleChunkedBodyData(const SocketData& data) {
  if (!chunkedBody_) return;
  const ChunkedBodyReader::Stage stage = chunkedBody_->next().stage;
  const ChunkedBodyReader::Outcome outcome = chunkedBody_->didRead(data.view());
  requestContentLengthReceived = chunkedBody_->received();
  requestChunkSize = chunkedBody_->chunkSize();
  requestChunkSizeReceived = chunkedBody_->chunkReceived();
  numHeaderLines = chunkedBody_->lines();
  switch (outcome) {
    case ChunkedBodyReader::Outcome::Data:
      processBodyData(data);
      [[fallthrough]];
    case ChunkedBodyReader::Outcome::More:
      readChunkedBody();
      return;
    case ChunkedBodyReader::Outcome::End:
      chunkedBody_.reset();
      finishBody();
      replyToHTTPRequest();
      return;
    case ChunkedBodyReader::Outcome::Invalid:
      if (stage == ChunkedBodyReader::Stage::SizeLine) {
        HTTP_LOG_WARN(kLogLevel, "%s[%p]: Method expects chunk size, but received something else",
                      HTTP_LOG_FILE, static_cast<void*>(this));
      } else {
        HTTP_LOG_WARN(kLogLevel, "%s[%p]: Method expects chunk trailer, but is missing",
                      HTTP_LOG_FILE, static_cast<void*>(this));
      }
      handleInvalidRequest(data);
      return;
    case ChunkedBodyReader::Outcome::TooLarge:
      handleRequestBodyTooLarge();
      return;
    case ChunkedBodyReader::Outcome::TooManyLines:
      asyncSocket->disconnect();
      return;
  }
}

void HTTPConnection::handleBodyData(const SocketData& data, long tag) {
  switch (tag) {
    case HTTP_REQUEST_BODY: {
      requestContentLengthReceived += data.length();
      processBodyData(data);
      if (requestContentLengthReceived < requestContentLength) {
        readBodyData(HTTP_REQUEST_BODY, requestContentLength - requestContentLengthReceived);
      } else {
        finishBody();
        replyToHTTPRequest();
      }
      return;
    }
    case HTTP_REQUEST_CHUNK_SIZE:
    case HTTP_REQUEST_CHUNK_DATA:
    case HTTP_REQUEST_CHUNK_TRAILER:
    case HTTP_REQUEST_CHUNK_FOOTER:
      handleChunkedBodyData(data);
      return;
    default:
      return;
  }
}

// --- Replying ----------------------------------------------------------------------------------

void HTTPConnection::replyToHTTPRequest() {
  assertOnConnectionQueue();
  const std::string& version = request->version();
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    handleVersionNotSupported(version);
    return;
  }
  std::optional<std::string> uri = requestURI();
  if (WebSocket::isWebSocketRequest(*request)) {
    upgradeToWebSocket();
    return;
  }
  if (isPasswordProtected(uri.value_or("")) && !isAuthenticated()) {
    handleAuthenticationFailed();
    return;
  }
  httpResponse = httpResponseForMethod(request->method(), uri);
  if (!httpResponse) {
    handleResourceNotFound();
    return;
  }
  sendResponseHeadersAndBody();
}

void HTTPConnection::upgradeToWebSocket() {
  std::shared_ptr<WebSocket> ws = webSocketForURI(requestURI().value_or(""));
  if (!ws) {
    handleResourceNotFound();
    return;
  }
  // Listed before it starts, so an endpoint that ends at once is not kept after its death.
  if (std::shared_ptr<HTTPServer> server = config ? config->server() : nullptr)
    server->addWebSocket(ws);
  ws->start();
  std::shared_ptr<DispatchSocketDelegate> socketDelegate;
  asyncSocket->getDelegate(&socketDelegate, nullptr);
  if (socketDelegate.get() == static_cast<DispatchSocketDelegate*>(this)) {
    HTTP_LOG_WARN(kLogLevel, "%s[%p]: WebSocket forgot to set itself as socket delegate",
                  HTTP_LOG_FILE, static_cast<void*>(this));
    asyncSocket->disconnect();
    return;
  }
  // The endpoint owns the socket now.
  asyncSocket.reset();
  die();
}

// --- Authentication ----------------------------------------------------------------------------

namespace {

// The process's recently issued nonces, owned by the queue "HTTPConnection-Nonce".
struct RecentNonces {
  std::shared_ptr<platform::dispatch::Queue> queue =
      platform::dispatch::Queue::serial("HTTPConnection-Nonce");
  std::vector<std::string> nonces;
};

RecentNonces& recentNonces() {
  static RecentNonces* recent = new RecentNonces();  // never destroyed: queued work may use it
  return *recent;
}

bool constantTimeEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string HTTPConnection::generateNonce() {
  std::string newNonce = platform::makeUuid();
  RecentNonces& recent = recentNonces();
  recent.queue->async([newNonce] { recentNonces().nonces.push_back(newNonce); });
  recent.queue->after(platform::seconds(kNonceLifetime), [newNonce] {
    std::vector<std::string>& nonces = recentNonces().nonces;
    nonces.erase(std::remove(nonces.begin(), nonces.end(), newNonce), nonces.end());
  });
  return newNonce;
}

bool HTTPConnection::hasRecentNonce(const std::string& recentNonce) {
  return recentNonces().queue->syncValue([&] {
    const std::vector<std::string>& nonces = recentNonces().nonces;
    return std::find(nonces.begin(), nonces.end(), recentNonce) != nonces.end();
  });
}

bool HTTPConnection::isAuthenticated() {
  staleNonce_ = false;
  if (useDigestAccessAuthentication()) return isDigestAuthenticated(&staleNonce_);
  return isBasicAuthenticated();
}

bool HTTPConnection::isDigestAuthenticated(bool* staleNonce) {
  HTTPAuthenticationRequest auth(*request);
  if (!auth.isDigest() || !auth.username()) return false;
  std::optional<std::string> password = passwordForUser(*auth.username());
  if (!password) return false;
  // Our challenge asks for qop "auth", so every one of these takes part in the answer.
  if (!auth.realm() || !auth.nonce() || !auth.uri() || !auth.qop() || !auth.nc() ||
      !auth.cnonce() || !auth.response())
    return false;
  if (*auth.uri() != requestURI()) return false;

  const std::string& nc = *auth.nc();
  char* end = nullptr;
  errno = 0;
  unsigned long long count = std::strtoull(nc.c_str(), &end, 16);
  if (nc.empty() || *end != '\0' || errno != 0 || count > 0xFFFFFFFFull) return false;

  std::string ha1 = platform::md5Hex(*auth.username() + ":" + *auth.realm() + ":" + *password);
  std::string ha2 = platform::md5Hex(request->method() + ":" + *auth.uri());
  std::string expected = platform::md5Hex(ha1 + ":" + *auth.nonce() + ":" + nc + ":" +
                                          *auth.cnonce() + ":" + *auth.qop() + ":" + ha2);
  if (!constantTimeEquals(expected, *auth.response())) return false;

  // The answer is right; the nonce must be ours and the count must rise. Only a right answer
  // changes the connection's nonce, so a wrong guess cannot block its rightful user.
  const bool adoptsNonce = *auth.nonce() != nonce;
  if (adoptsNonce && !hasRecentNonce(*auth.nonce())) {
    *staleNonce = true;
    return false;
  }
  const std::int64_t previousNC = adoptsNonce ? 0 : lastNC;
  if (static_cast<std::int64_t>(count) <= previousNC) return false;
  nonce = *auth.nonce();
  lastNC = static_cast<std::int64_t>(count);
  return true;
}

bool HTTPConnection::isBasicAuthenticated() {
  HTTPAuthenticationRequest auth(*request);
  if (!auth.isBasic() || !auth.base64Credentials()) return false;
  platform::Bytes decoded = HTData::base64Decoded(*auth.base64Credentials());
  std::string credentials(decoded.begin(), decoded.end());
  if (!platform::isValidUtf8(credentials)) return false;
  std::size_t colon = credentials.find(':');
  if (colon == std::string::npos) return false;
  std::optional<std::string> password = passwordForUser(credentials.substr(0, colon));
  return password && constantTimeEquals(*password, credentials.substr(colon + 1));
}

void HTTPConnection::addDigestAuthChallenge(HTTPMessage& response) {
  std::string value =
      "Digest realm=\"" + realm() + "\", qop=\"auth\", nonce=\"" + generateNonce() + "\"";
  if (staleNonce_) value += ", stale=TRUE";
  response.setHeaderField("WWW-Authenticate", value);
}

void HTTPConnection::addBasicAuthChallenge(HTTPMessage& response) {
  response.setHeaderField("WWW-Authenticate", "Basic realm=\"" + realm() + "\"");
}

void HTTPConnection::handleAuthenticationFailed() {
  HTTPMessage response(401, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", "0");
  if (useDigestAccessAuthentication()) {
    addDigestAuthChallenge(response);
  } else {
    addBasicAuthChallenge(response);
  }
  writeErrorResponse(response, HTTP_RESPONSE);
}

// --- Parameters --------------------------------------------------------------------------------

platform::Dictionary HTTPConnection::parseParams(const std::string& query) {
  platform::Dictionary result;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t amp = query.find('&', start);
    if (amp == std::string::npos) amp = query.size();
    std::string_view part = std::string_view(query).substr(start, amp - start);
    start = amp + 1;
    std::size_t equals = part.find('=');
    if (part.empty() || equals == std::string_view::npos || equals == 0) continue;
    std::optional<std::string> key = percentDecoded(part.substr(0, equals));
    if (!key) continue;
    std::optional<std::string> value = percentDecoded(part.substr(equals + 1));
    result[*key] = value ? platform::Value(*value) : platform::Value();
  }
  return result;
}

std::optional<platform::Dictionary> HTTPConnection::parseGetParams() const {
  if (!request || !request->isHeaderComplete()) return std::nullopt;
  std::optional<std::string> uri = request->url();
  if (!uri) return std::nullopt;
  std::size_t question = uri->find('?');
  if (question == std::string::npos) return std::nullopt;
  std::string query = uri->substr(question + 1);
  query = query.substr(0, query.find('#'));
  return parseParams(query);
}

void HTTPConnection::writeErrorResponse(HTTPMessage& response, long tag) {
  std::string data = preprocessErrorResponse(response);
  if (asyncSocket) asyncSocket->writeData(SocketData(data), TIMEOUT_WRITE_ERROR, tag);
}

void HTTPConnection::writeClosingErrorResponse(int status) {
  HTTPMessage response(status, std::nullopt, "HTTP/1.1");
  response.setHeaderField("Content-Length", "0");
  response.setHeaderField("Connection", "close");
  writeErrorResponse(response, HTTP_FINAL_RESPONSE);
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
  writeClosingErrorResponse(400);
}

void HTTPConnection::handleUnknownMethod(const std::string& method) {
  HTTP_LOG_WARN(kLogLevel, "HTTP Server: Error 405 - Method Not Allowed: %s (%s)", method.c_str(),
                requestURI().value_or("(null)").c_str());
  writeClosingErrorResponse(405);
}

void HTTPConnection::handleRequestBodyTooLarge() {
  HTTP_LOG_WARN(kLogLevel, "HTTP Server: Error 413 - Request Entity Too Large (%s)",
                requestURI().value_or("(null)").c_str());
  writeClosingErrorResponse(413);
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

std::optional<HTTPConnection::BodyPiece> HTTPConnection::readResponsePiece(std::size_t length) {
  BodyPiece piece;
  piece.file = httpResponse->filePieceOfLength(length);
  if (!piece.file) {
    std::optional<platform::Bytes> data = httpResponse->readDataOfLength(length);
    if (!data || data->empty()) return std::nullopt;
    piece.bytes = std::move(*data);
  }
  responseDataSizes.push_back(piece.size());
  return piece;
}

void HTTPConnection::writeResponseBytes(platform::Bytes data, double timeout, long tag) {
  writeResponsePiece(BodyPiece{std::move(data), std::nullopt}, timeout, tag);
}

// The head goes out with the first piece of the body, in one write: as two small writes the
// second would wait for the peer to acknowledge the first.
void HTTPConnection::writeResponsePiece(BodyPiece piece, double timeout, long tag) {
  SocketData head;
  if (!pendingHead_.empty()) {
    head = SocketData(pendingHead_);
    pendingHead_.clear();
  }
  if (piece.file) {
    asyncSocket->writeFile(head, std::move(piece.file->file), piece.file->offset,
                           piece.file->length, timeout, tag, longBody_);
  } else {
    asyncSocket->writeData(head, SocketData(std::move(piece.bytes)), timeout, tag);
  }
}

void HTTPConnection::writeStandardPiece(BodyPiece piece) {
  bool done = httpResponse->isDone();
  if (httpResponse->isChunked().value_or(false)) {
    std::string sizeLine = chunkedTransferSizeLineForLength(piece.size());
    writeResponseBytes(platform::Bytes(sizeLine.begin(), sizeLine.end()), TIMEOUT_WRITE_HEAD,
                       HTTP_CHUNKED_RESPONSE_HEADER);
    writeResponsePiece(std::move(piece), TIMEOUT_WRITE_BODY, HTTP_CHUNKED_RESPONSE_BODY);
    if (done) {
      asyncSocket->writeData(SocketData(chunkedTransferFooter()), TIMEOUT_WRITE_HEAD,
                             HTTP_RESPONSE);
    } else {
      asyncSocket->writeData(DispatchSocket::CRLFData(), TIMEOUT_WRITE_HEAD,
                             HTTP_CHUNKED_RESPONSE_FOOTER);
    }
    return;
  }
  writeResponsePiece(std::move(piece), TIMEOUT_WRITE_BODY,
                     done ? HTTP_RESPONSE : HTTP_PARTIAL_RESPONSE_BODY);
}

void HTTPConnection::sendResponseHeadersAndBody() {
  assertOnConnectionQueue();
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
  // Held for the first body write; written alone when the response has no body bytes yet.
  pendingHead_ = std::move(head);
  std::uint64_t bodyLength = contentLength;
  if (isRangeRequest) {
    bodyLength = 0;
    for (const HTRange& range : *ranges) bodyLength += range.length;
  }
  longBody_ = bodyLength >= DispatchSocket::kLongFileStream;
  if (!isRangeRequest) {
    std::optional<BodyPiece> piece = readResponsePiece(READ_CHUNKSIZE);
    if (piece) writeStandardPiece(std::move(*piece));
  } else {
    startRange(0, READ_CHUNKSIZE);
  }
  if (!pendingHead_.empty()) {
    asyncSocket->writeData(SocketData(std::move(pendingHead_)), TIMEOUT_WRITE_HEAD,
                           HTTP_PARTIAL_RESPONSE_HEADER);
    pendingHead_.clear();
  }
}

void HTTPConnection::sendRangePiece(std::uint64_t bytesLeft, std::size_t space) {
  std::size_t bytesToRead = static_cast<std::size_t>(std::min<std::uint64_t>(bytesLeft, space));
  std::optional<BodyPiece> piece = readResponsePiece(bytesToRead);
  if (!piece) return;
  long tag = HTTP_PARTIAL_RANGES_RESPONSE_BODY;
  if (ranges->size() == 1)
    tag = piece->size() == bytesLeft ? HTTP_RESPONSE : HTTP_PARTIAL_RANGE_RESPONSE_BODY;
  writeResponsePiece(std::move(*piece), TIMEOUT_WRITE_BODY, tag);
}

void HTTPConnection::startRange(std::size_t index, std::size_t space) {
  const HTRange range = (*ranges)[index];
  if (ranges->size() > 1) {
    const std::string& partHeader = ranges_headers[index];
    writeResponseBytes(platform::Bytes(partHeader.begin(), partHeader.end()), TIMEOUT_WRITE_HEAD,
                       HTTP_PARTIAL_RESPONSE_HEADER);
  }
  httpResponse->setOffset(range.location);
  sendRangePiece(range.length, space);
}

void HTTPConnection::continueSendingStandardResponseBody() {
  assertOnConnectionQueue();
  if (!httpResponse || !asyncSocket) return;
  std::size_t queued = writeQueueSize();
  if (queued >= READ_CHUNKSIZE) return;
  std::optional<BodyPiece> piece = readResponsePiece(READ_CHUNKSIZE - queued);
  if (piece) writeStandardPiece(std::move(*piece));
}

void HTTPConnection::continueSendingSingleRangeResponseBody() {
  assertOnConnectionQueue();
  if (!httpResponse || !asyncSocket || !ranges || ranges->empty()) return;
  std::size_t queued = writeQueueSize();
  if (queued >= READ_CHUNKSIZE) return;
  const HTRange range = ranges->front();
  std::uint64_t offset = httpResponse->offset();
  std::uint64_t bytesLeft = range.end() > offset ? range.end() - offset : 0;
  if (bytesLeft > 0) sendRangePiece(bytesLeft, READ_CHUNKSIZE - queued);
}

void HTTPConnection::continueSendingMultiRangeResponseBody() {
  assertOnConnectionQueue();
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
  assertOnConnectionQueue();
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
  assertOnConnectionQueue();
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
  assertOnConnectionQueue();
  if (httpResponse) httpResponse->connectionDidClose();
  httpResponse.reset();
  platform::NotificationCenter::defaultCenter().post(kHTTPConnectionDidDieNotification,
                                                     platform::Value::object(shared_from_this()));
}

void HTTPConnection::socketDidDisconnect(const std::shared_ptr<DispatchSocket>&,
                                         const std::optional<platform::Error>&) {
  assertOnConnectionQueue();
  asyncSocket.reset();
  die();
}
