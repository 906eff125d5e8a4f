#pragma once
// HTTPConnection: serves one accepted TCP connection for its whole life. It reads a request head
// (at most 8190 bytes a line, 101 lines, 30 s a line; in one socket read where the whole head is
// there, body bytes after it left on the socket), checks it, maps the request URI to a file
// under the document root and answers with a response object or a fixed error reply; then it reads
// the next request on the same connection or closes it. Response heads and bodies are pumped to the
// socket in pieces of at most 128 KiB, with never more than 128 KiB queued (a head goes out in one
// write with the first piece when that is ready; a file's pieces are sent from the file, not read
// into memory), and "Range" requests are answered with 206 (one range) or a "multipart/byteranges"
// 206 (several). An invalid "Range" header is answered with the whole body (200); there is no 416.
//
// Replies: 400 (a head the parser refuses, a bad or misplaced "Content-Length") and 405 (a
// method not supported) close the connection; 404 and 505 keep it under the keep-alive rules
// (HTTP/1.1 stays unless "Connection: close", HTTP/1.0 closes unless "Connection: Keep-Alive").
// Only regular files are served, symbolic links followed while they stay inside the document
// root (see DocumentRoot); a request path with a NUL byte or a broken "%" escape is not found.
//
// Threads: every operation runs on the connection queue, which the server shares among all its
// connections; the socket calls back on it. `start`, `stop`, `responseHasAvailableData` and
// `responseDidAbort` may be called from any thread: they only queue work there. When the
// connection ends it posts kHTTPConnectionDidDieNotification (on that queue) and the server
// lets go of it.
//
// Subclasses change which methods are allowed, whether bodies are read, which response answers
// a URI, whether a password is needed, whether TLS is used, which WebSocket endpoint takes an
// upgrade and the error replies, by overriding the virtual operations below; they are made
// through `initWithAsyncSocket<Subclass>`, which hands them the socket once they are shared.
//
// Request bodies: a method for which `expectsRequestBodyFromMethod` answers true must state a
// "Content-Length" or come in chunked transfer coding; the body is handed to
// `prepareForBodyWithSize`, `processBodyData` (pieces of at most 32 KiB) and `finishBody`
// before the reply. A body longer than `maxRequestBodySize` is answered 413 and the connection
// closed; a body read that makes no progress for 30 s closes the connection.
//
// Authentication: for paths `isPasswordProtected` names, Digest (nonces accepted for a first use
// within 300 s of issue, each connection keeping the nonce it adopted with a rising count) or
// Basic, against `passwordForUser`; a failure is answered 401 with a fresh challenge, and the
// connection stays.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/core/ChunkedBodyReader.h"
#include "httpserver/core/DocumentRoot.h"
#include "httpserver/core/HTRange.h"
#include "httpserver/core/HTTPConfig.h"
#include "httpserver/core/HTTPMessage.h"
#include "httpserver/core/HTTPResponse.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/SharedObject.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchSocketDelegate.h"

class WebSocket;

class HTTPConnection : public DispatchSocketDelegate,
                       public std::enable_shared_from_this<HTTPConnection> {
  CH_SHARED_OBJECT(HTTPConnection)

 public:
  // Takes the accepted socket over: the connection becomes its delegate on the connection queue
  // (the configuration's queue, or a new serial queue "HTTPConnection").
  template <class Connection = HTTPConnection>
  static std::shared_ptr<Connection> initWithAsyncSocket(std::shared_ptr<DispatchSocket> newSocket,
                                                         std::shared_ptr<HTTPConfig> aConfig) {
    std::shared_ptr<Connection> connection =
        Connection::create(std::move(newSocket), std::move(aConfig));
    static_cast<HTTPConnection&>(*connection).takeOverSocket();
    return connection;
  }
  ~HTTPConnection() override;

  // Starts reading the first request; only the first call counts.
  void start();
  // Closes the socket; the connection then ends.
  void stop();

  // Called by the current response (any thread): its head or more data can go now.
  void responseHasAvailableData(HTTPResponse* sender);
  // Called by the current response (any thread): end the connection after the queued writes.
  void responseDidAbort(HTTPResponse* sender);

  const std::shared_ptr<platform::dispatch::Queue>& queue() const { return connectionQueue; }

  // Socket delegate (connection queue).
  void socketDidReadData(const std::shared_ptr<DispatchSocket>& sock, const SocketData& data,
                         long tag) override;
  // A head arriving in pieces is checked line by line as the pieces come.
  void socketDidReadPartialDataOfLength(const std::shared_ptr<DispatchSocket>& sock,
                                        std::size_t partialLength, long tag) override;
  // A head's time limit is per line: a read of the head is extended while lines keep coming.
  std::optional<double> socketShouldTimeoutReadWithTag(const std::shared_ptr<DispatchSocket>& sock,
                                                       long tag, double elapsed,
                                                       std::size_t length) override;
  void socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>& sock, long tag) override;
  void socketDidDisconnect(const std::shared_ptr<DispatchSocket>& sock,
                           const std::optional<platform::Error>& err) override;

 protected:
  HTTPConnection(std::shared_ptr<DispatchSocket> newSocket, std::shared_ptr<HTTPConfig> aConfig);

  // --- Overridable operations (connection queue) ---
  // "GET" and "HEAD".
  virtual bool supportsMethod(const std::string& method, const std::string& path);
  // "POST" and "PUT".
  virtual bool expectsRequestBodyFromMethod(const std::string& method, const std::string& path);
  // The most body bytes a request may carry (1 GiB); a longer body is answered 413.
  virtual std::uint64_t maxRequestBodySize();
  virtual bool isSecureServer();
  // The server's TLS identity first, then its certificates, as the socket's TLS setting
  // `platform::kStreamSSLCertificates` takes them; none by default. A secure server with an
  // identity speaks TLS from the first byte of each connection.
  virtual platform::Array sslIdentityAndCertificates();
  virtual bool isPasswordProtected(const std::string& path);
  // true: Digest; false: Basic.
  virtual bool useDigestAccessAuthentication();
  virtual std::string realm();
  // Absent: the user has no password (and so cannot log in).
  virtual std::optional<std::string> passwordForUser(const std::string& username);
  // "index.html", "index.htm".
  virtual std::vector<std::string> directoryIndexFileNames();
  // The file path a request target names under the document root (a folder's first index page
  // unless `allowDirectory`), looked up by path; for subclasses' own responses. The default file
  // response does not ask it: it opens below the root's descriptor itself.
  std::optional<std::string> filePathForURI(const std::optional<std::string>& path);
  virtual std::optional<std::string> filePathForURI(const std::optional<std::string>& path,
                                                    bool allowDirectory);
  // A file response for an existing regular file (a folder's first index page that is one), opened
  // below the document root's descriptor (see DocumentRoot); the method is not looked at.
  virtual std::shared_ptr<HTTPResponse> httpResponseForMethod(
      const std::string& method, const std::optional<std::string>& path);
  // The endpoint that takes a WebSocket upgrade of `path` over; none by default (404).
  virtual std::shared_ptr<WebSocket> webSocketForURI(const std::string& path);
  // The body road: the declared length (all ones for a chunked body), each piece, the end.
  virtual void prepareForBodyWithSize(std::uint64_t contentLength);
  virtual void processBodyData(const SocketData& postDataChunk);
  virtual void finishBody();
  virtual void handleVersionNotSupported(const std::string& version);
  virtual void handleAuthenticationFailed();
  virtual void handleInvalidRequest(const SocketData& data);
  virtual void handleUnknownMethod(const std::string& method);
  virtual void handleResourceNotFound();
  // Add "Date" and "Accept-Ranges" and the current response's own headers; the bytes to write.
  virtual std::string preprocessResponse(HTTPMessage& response);
  virtual std::string preprocessErrorResponse(HTTPMessage& response);
  // An override must run the base operation.
  virtual void finishResponse();
  virtual bool shouldDie();
  virtual void die();

  // The request target as sent; absent without a request.
  std::optional<std::string> requestURI() const;
  static std::string dateAsString(platform::Date date);

  // --- Authentication ---
  bool isAuthenticated();
  void addDigestAuthChallenge(HTTPMessage& response);
  void addBasicAuthChallenge(HTTPMessage& response);
  // A new nonce, accepted for a first use during the next 300 s (clock time).
  static std::string generateNonce();
  static bool hasRecentNonce(const std::string& recentNonce);

  // --- Parameters ---
  // "a=1&b=%41" -> {a: "1", b: "A"}: parts without "=" or with an empty key are skipped, a key
  // whose escapes do not decode is skipped, a value that does not decode is null; "+" stays.
  static platform::Dictionary parseParams(const std::string& query);
  // The request's query parsed so; absent without a complete head or without a query.
  std::optional<platform::Dictionary> parseGetParams() const;

  // The socket callbacks, the request road, the pump and `die` fail an assertion off the
  // connection queue.
  void assertOnConnectionQueue() const;

  // --- The request road ---
  void startConnection();
  void startReadingRequest();
  void replyToHTTPRequest();

  // --- Ranges and the pump ---
  bool parseRangeRequest(const std::string& rangeHeader, std::uint64_t contentLength);
  HTTPMessage newUniRangeResponse(std::uint64_t contentLength);
  HTTPMessage newMultiRangeResponse(std::uint64_t contentLength);
  static std::string chunkedTransferSizeLineForLength(std::size_t length);
  static std::string chunkedTransferFooter();
  void sendResponseHeadersAndBody();
  std::size_t writeQueueSize() const;
  void continueSendingStandardResponseBody();
  void continueSendingSingleRangeResponseBody();
  void continueSendingMultiRangeResponseBody();

  // Set at creation.
  std::shared_ptr<platform::dispatch::Queue> connectionQueue;
  std::shared_ptr<HTTPConfig> config;

  // Owned by the connection queue.
  std::shared_ptr<DispatchSocket> asyncSocket;
  bool started = false;
  std::unique_ptr<HTTPMessage> request;
  std::uint32_t numHeaderLines = 0;
  bool sentResponseHeaders = false;
  std::shared_ptr<HTTPResponse> httpResponse;
  std::optional<std::vector<HTRange>> ranges;  // absent: not a range request
  std::vector<std::string> ranges_headers;
  std::string ranges_boundry;
  std::size_t rangeIndex = 0;
  std::deque<std::size_t> responseDataSizes;
  // Authentication: the nonce this connection adopted and the highest count accepted with it.
  std::optional<std::string> nonce;
  std::int64_t lastNC = 0;
  // Request body: the declared length (all ones: chunked) and what has arrived.
  std::uint64_t requestContentLength = 0;
  std::uint64_t requestContentLengthReceived = 0;
  std::uint64_t requestChunkSize = 0;
  std::uint64_t requestChunkSizeReceived = 0;
  // The body comes in chunked transfer coding (its length reads all ones, as the hooks see it).
  bool requestBodyIsChunked_ = false;
  // The framing of the chunked body being read.
  std::optional<ChunkedBodyReader> chunkedBody_;

 private:
  // The request target as a standardised path under the document root, with the warnings of
  // `filePathForURI`; absent where that has no path.
  std::optional<std::string> fullPathForURI(const std::optional<std::string>& path);
  // The first of `directoryIndexFileNames` in `folder` (relative to the root) that opens as a
  // regular file; absent otherwise, `openError` then non-zero only for a page that is there but
  // cannot be opened now.
  struct IndexPage {
    DocumentRoot::Item item;
    std::string name;
  };
  std::optional<IndexPage> openIndexPage(const DocumentRoot& root, const std::string& folder,
                                         int* openError);
  // Feeds `request` the complete lines of `bytes` (the head's bytes from `headBytesFed_` on)
  // under the limits of a head read line by line; false once the head is refused (the reply or
  // the close is under way).
  bool feedHeadLines(std::string_view bytes);
  bool acceptHeadLine(std::string_view line);
  // A head past its limits: closed without a reply.
  bool refuseHead();
  // The head is complete: check it and read the body or reply.
  void requestHeadDidComplete();
  void readBodyData(long tag, std::uint64_t remaining);
  // The chunked body road: the reader's next read, and what a read gave.
  void readChunkedBody();
  void handleChunkedBodyData(const SocketData& data);
  void handleBodyData(const SocketData& data, long tag);
  // 413 and close: the body is longer than `maxRequestBodySize`.
  void handleRequestBodyTooLarge();
  void upgradeToWebSocket();
  // The Digest check of `isAuthenticated`; `staleNonce` tells whether a correct answer failed
  // only because its nonce is no longer recent.
  bool isDigestAuthenticated(bool* staleNonce);
  bool isBasicAuthenticated();
  void takeOverSocket();
  // A piece of the body: bytes read from the response, or a stretch of its file that the socket
  // sends from directly.
  struct BodyPiece {
    platform::Bytes bytes;
    std::optional<HTTPResponse::FilePiece> file;
    std::size_t size() const { return file ? file->length : bytes.size(); }
  };
  // Takes at most `length` bytes of the response (as a file piece where it offers one) and
  // records their size; absent when the response had nothing.
  std::optional<BodyPiece> readResponsePiece(std::size_t length);
  // Writes `data`, preceded by the response head while that is still held back (one write,
  // gathered, neither copied).
  void writeResponseBytes(platform::Bytes data, double timeout, long tag);
  // The same for a body piece.
  void writeResponsePiece(BodyPiece piece, double timeout, long tag);
  // Writes one piece of a plain (or chunked) body, tagged by what follows it.
  void writeStandardPiece(BodyPiece piece);
  // Reads up to min(bytesLeft, space) of the current range and writes it: the piece that
  // completes a single range ends the response; a multipart reply always has more to come.
  void sendRangePiece(std::uint64_t bytesLeft, std::size_t space);
  // Writes the part header of range `index` (multipart only), positions the response at its
  // start and sends its first piece.
  void startRange(std::size_t index, std::size_t space);
  // The end of a reply: the write tagged 90 or 91 completed.
  void responseDidEnd(long tag);
  void writeErrorResponse(HTTPMessage& response, long tag);
  // An empty reply with "Connection: close", after which the connection closes.
  void writeClosingErrorResponse(int status);

  // The head being read: the bytes the socket collects (it splits them at the head's end, so
  // body bytes stay with it), how many of them partial reads have shown, how many have been fed
  // to `request`, when the last whole line came, and whether the head was refused.
  std::shared_ptr<platform::Bytes> headBuffer_;
  std::size_t headBytesShown_ = 0;
  std::size_t headBytesFed_ = 0;
  std::optional<platform::MonoTime> lastHeadLineAt_;  // absent: none since the read began
  bool headRefused_ = false;
  // A response head waiting to go out with the first body bytes.
  std::string pendingHead_;
  // The response's body is long enough for its file pieces to go copied rather than spliced.
  bool longBody_ = false;
  // Set when the last Digest failure was an expired nonce, so the challenge says "stale".
  bool staleNonce_ = false;
};
