#include "httpserver/core/WebSocket.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "httpserver/core/HTData.h"
#include "httpserver/core/HTTPLogging.h"
#include "httpserver/core/HTTPServerNotifications.h"
#include "httpserver/core/WebSocketFrameReader.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

constexpr long TAG_HTTP_REQUEST_BODY = 100;
constexpr long TAG_HTTP_RESPONSE_HEADERS = 200;
constexpr long TAG_HTTP_RESPONSE_BODY = 201;

constexpr std::size_t kDefaultMaxMessageLength = 16 * 1024 * 1024;

bool containsIgnoringCase(const std::string& text, const char* word) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string needle = word;
  for (char& c : needle) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find(needle) != std::string::npos;
}

}  // namespace

WebSocket::WebSocket(const HTTPMessage& aRequest, std::shared_ptr<DispatchSocket> socket)
    : _websocketQueue(platform::dispatch::Queue::serial("WebSocket")),
      request(aRequest),
      isVersion76(isVersion76Request(aRequest)),
      isRFC6455(isRFC6455Request(aRequest)),
      term(platform::Bytes{WebSocketFrameReader::kTerminator}),
      asyncSocket(std::move(socket)) {}

void WebSocket::takeOverSocket() {
  if (asyncSocket) asyncSocket->setDelegate(weak_from_this(), _websocketQueue);
}

WebSocket::~WebSocket() {
  if (asyncSocket) {
    asyncSocket->setDelegate(DispatchSocket::DelegatePtr(), nullptr);
    asyncSocket->disconnect();
  }
}

bool WebSocket::isWebSocketRequest(const HTTPMessage& request) {
  std::optional<std::string> upgrade = request.headerField("Upgrade");
  std::optional<std::string> connection = request.headerField("Connection");
  if (!upgrade || !connection) return false;
  return strcasecmp(upgrade->c_str(), "WebSocket") == 0 &&
         containsIgnoringCase(*connection, "Upgrade");
}

bool WebSocket::isVersion76Request(const HTTPMessage& request) {
  return request.headerField("Sec-WebSocket-Key1") && request.headerField("Sec-WebSocket-Key2");
}

bool WebSocket::isRFC6455Request(const HTTPMessage& request) {
  return request.headerField("Sec-WebSocket-Key").has_value();
}

std::shared_ptr<WebSocketDelegate> WebSocket::delegate() {
  return _websocketQueue->syncValue([&] { return _delegate.lock(); });
}

void WebSocket::setDelegate(std::weak_ptr<WebSocketDelegate> newDelegate) {
  _websocketQueue->async([self = shared_from_this(), newDelegate = std::move(newDelegate)] {
    self->_delegate = newDelegate;
  });
}

std::size_t WebSocket::maxMessageLength() { return kDefaultMaxMessageLength; }

void WebSocket::assertOnWebSocketQueue() const {
  platform::assertThat(platform::dispatch::Queue::current() == _websocketQueue,
                       "Must be dispatched on websocketQueue");
}

void WebSocket::start() {
  _websocketQueue->async([self = shared_from_this()] {
    if (self->isStarted) return;
    self->isStarted = true;
    if (self->isVersion76) {
      self->readRequestBody();
    } else {
      self->sendResponseHeaders();
      self->didOpen();
    }
  });
}

void WebSocket::stop() {
  _websocketQueue->async([self = shared_from_this()] {
    if (self->asyncSocket) self->asyncSocket->disconnect();
  });
}

// --- Handshake ---------------------------------------------------------------------------------

std::string WebSocket::originResponseHeaderValue() const {
  if (std::optional<std::string> origin = request.headerField("Origin")) return *origin;
  char text[64];
  std::snprintf(text, sizeof text, "http://localhost:%hu",
                asyncSocket ? asyncSocket->localPort() : std::uint16_t{0});
  return text;
}

std::string WebSocket::locationResponseHeaderValue() const {
  std::string scheme = asyncSocket && asyncSocket->isSecure() ? "wss" : "ws";
  std::string path = request.url().value_or("");
  if (std::optional<std::string> host = request.headerField("Host"))
    return scheme + "://" + *host + path;
  char port[16];
  std::snprintf(port, sizeof port, "%hu",
                asyncSocket ? asyncSocket->localPort() : std::uint16_t{0});
  return scheme + "://localhost:" + port + path;
}

std::string WebSocket::acceptValueForKey(const std::string& key) {
  platform::Bytes digest = HTData::sha1Digest(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11");
  return HTData::base64Encoded(
      std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

std::optional<std::string> WebSocket::secWebSocketKeyResponseHeaderValue() const {
  std::optional<std::string> key = request.headerField("Sec-WebSocket-Key");
  if (!key) return std::nullopt;
  return acceptValueForKey(*key);
}

void WebSocket::sendResponseHeaders() {
  assertOnWebSocketQueue();
  HTTPMessage response(101, std::string("Web Socket Protocol Handshake"), "HTTP/1.1");
  response.setHeaderField("Upgrade", "WebSocket");
  response.setHeaderField("Connection", "Upgrade");
  response.setHeaderField(isVersion76 ? "Sec-WebSocket-Origin" : "WebSocket-Origin",
                          originResponseHeaderValue());
  response.setHeaderField(isVersion76 ? "Sec-WebSocket-Location" : "WebSocket-Location",
                          locationResponseHeaderValue());
  if (std::optional<std::string> accept = secWebSocketKeyResponseHeaderValue())
    response.setHeaderField("Sec-WebSocket-Accept", *accept);
  if (asyncSocket)
    asyncSocket->writeData(SocketData(response.messageData()), -1, TAG_HTTP_RESPONSE_HEADERS);
}

void WebSocket::readRequestBody() {
  assertOnWebSocketQueue();
  if (asyncSocket) asyncSocket->readDataToLength(8, -1, TAG_HTTP_REQUEST_BODY);
}

platform::Bytes WebSocket::processKey(const std::string& key) {
  std::uint64_t number = 0;
  std::uint64_t spaces = 0;
  for (char c : key) {
    if (c >= '0' && c <= '9') {
      number = number * 10 + static_cast<std::uint64_t>(c - '0');  // wraps like the original
    } else if (c == ' ') {
      ++spaces;
    }
  }
  std::uint32_t value = spaces == 0 ? 0 : static_cast<std::uint32_t>(number / spaces);
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

void WebSocket::sendResponseBody(const SocketData& d3) {
  platform::Bytes challenge = processKey(request.headerField("Sec-WebSocket-Key1").value_or(""));
  platform::Bytes d2 = processKey(request.headerField("Sec-WebSocket-Key2").value_or(""));
  challenge.insert(challenge.end(), d2.begin(), d2.end());
  challenge.insert(challenge.end(), d3.bytes(), d3.bytes() + d3.length());
  platform::Bytes answer = HTData::md5Digest(
      std::string_view(reinterpret_cast<const char*>(challenge.data()), challenge.size()));
  if (asyncSocket) asyncSocket->writeData(SocketData(answer), -1, TAG_HTTP_RESPONSE_BODY);
}

// --- Hooks -------------------------------------------------------------------------------------

void WebSocket::didOpen() {
  assertOnWebSocketQueue();
  frameReader_.emplace(isRFC6455, maxMessageLength());
  if (asyncSocket) queueRead(frameReader_->first());
  if (auto theDelegate = _delegate.lock()) theDelegate->webSocketDidOpen(shared_from_this());
}

void WebSocket::queueRead(const WebSocketFrameReader::Read& read) {
  if (read.toTerminator) {
    asyncSocket->readDataToData(term, -1, read.length, read.tag);
  } else {
    asyncSocket->readDataToLength(read.length, -1, read.tag);
  }
}

void WebSocket::didReceiveMessage(const std::string& msg) {
  assertOnWebSocketQueue();
  if (auto theDelegate = _delegate.lock())
    theDelegate->webSocketDidReceiveMessage(shared_from_this(), msg);
}

void WebSocket::didClose() {
  assertOnWebSocketQueue();
  if (closed_) return;
  closed_ = true;
  if (auto theDelegate = _delegate.lock()) theDelegate->webSocketDidClose(shared_from_this());
  platform::NotificationCenter::defaultCenter().post(kWebSocketDidDieNotification,
                                                     platform::Value::object(shared_from_this()));
}

// --- Sending -----------------------------------------------------------------------------------

platform::Bytes WebSocket::frameForMessage(const std::string& payload) const {
  platform::Bytes frame;
  if (!isRFC6455) {
    // Built whole at once: the frame is a marker, the payload and a marker.
    frame.resize(payload.size() + 2);
    frame.front() = 0x00;
    std::copy(payload.begin(), payload.end(), frame.begin() + 1);
    frame.back() = 0xFF;
    return frame;
  }
  const std::uint64_t length = payload.size();
  frame.push_back(0x81);
  if (length <= 125) {
    frame.push_back(static_cast<std::uint8_t>(length));
  } else if (length <= 0xFFFF) {
    frame.push_back(0x7E);
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(static_cast<std::uint8_t>(length));
  } else {
    frame.push_back(0x7F);
    for (int shift = 56; shift >= 0; shift -= 8)
      frame.push_back(static_cast<std::uint8_t>(length >> shift));
  }
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

void WebSocket::sendMessage(const std::string& msg) {
  // The socket takes writes from any thread; the socket pointer itself is set at creation and
  // only cleared by destruction.
  if (asyncSocket) asyncSocket->writeData(SocketData(frameForMessage(msg)), -1, 0);
}

// --- Reading -----------------------------------------------------------------------------------

void WebSocket::socketDidReadData(const std::shared_ptr<DispatchSocket>&, const SocketData& data,
                                  long tag) {
  assertOnWebSocketQueue();
  if (closed_ || !asyncSocket) return;
  if (tag == TAG_HTTP_REQUEST_BODY) {
    sendResponseHeaders();
    sendResponseBody(data);
    didOpen();
    return;
  }
  if (!frameReader_) return;
  WebSocketFrameReader::Step step = frameReader_->didRead(tag, data.view());
  if (step.close) {
    didClose();
    return;
  }
  if (step.message) didReceiveMessage(*step.message);
  // The hook may have stopped the endpoint.
  if (closed_ || !asyncSocket) return;
  for (const WebSocketFrameReader::Read& read : step.reads) queueRead(read);
}

void WebSocket::socketDidDisconnect(const std::shared_ptr<DispatchSocket>&,
                                    const std::optional<platform::Error>&) {
  assertOnWebSocketQueue();
  didClose();
}
