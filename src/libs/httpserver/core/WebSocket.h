#pragma once
// WebSocket: the server side of one WebSocket connection. A connection whose upgrade request
// its `webSocketForURI` hook answers hands its socket over to the endpoint; the server keeps the
// endpoint until it posts kWebSocketDidDieNotification. Two wire dialects are spoken: the old
// drafts (75 and 76: text between 0x00 and 0xFF, draft 76 with an MD5 challenge) and RFC 6455
// (length-prefixed frames, masking, the SHA-1 accept key). Only text messages are carried.
//
// An RFC 6455 frame other than text (close, ping, pong, binary, continuation), a reserved bit
// or opcode, a 64-bit length or a message longer than `maxMessageLength` ends the endpoint
// (`didClose`) without a close frame being sent; client frames are unmasked when masked and
// taken as they come otherwise. An empty text frame is delivered as "".
//
// Threads: everything runs on the endpoint's serial queue "WebSocket", which is also the
// socket's delegate queue. `start`, `stop` and `setDelegate` queue their work there, `delegate`
// waits for it (so it must not be called from that queue), `sendMessage` may be called from any
// thread. Subclasses may replace the hooks `didOpen`, `didReceiveMessage` and `didClose`.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "httpserver/core/HTTPMessage.h"
#include "httpserver/core/WebSocketFrameReader.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/SharedObject.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchSocketDelegate.h"

class WebSocket;

// What a WebSocket endpoint tells its owner, on the endpoint's queue. Every call is optional.
class WebSocketDelegate {
 public:
  virtual ~WebSocketDelegate() = default;
  virtual void webSocketDidOpen(const std::shared_ptr<WebSocket>&) {}
  virtual void webSocketDidReceiveMessage(const std::shared_ptr<WebSocket>&, const std::string&) {}
  virtual void webSocketDidClose(const std::shared_ptr<WebSocket>&) {}
};

class WebSocket : public DispatchSocketDelegate, public std::enable_shared_from_this<WebSocket> {
  CH_SHARED_OBJECT(WebSocket)

 public:
  // Null without a request. Takes the socket over: the endpoint becomes its delegate on the
  // endpoint's queue. A subclass is made with `initWithRequest<Subclass>`.
  template <class Endpoint = WebSocket>
  static std::shared_ptr<Endpoint> initWithRequest(const HTTPMessage* aRequest,
                                                   std::shared_ptr<DispatchSocket> socket) {
    if (!aRequest) return nullptr;
    std::shared_ptr<Endpoint> ws = Endpoint::create(*aRequest, std::move(socket));
    static_cast<WebSocket&>(*ws).takeOverSocket();
    return ws;
  }
  ~WebSocket() override;

  // "Upgrade" is "WebSocket" (any case) and "Connection" contains "Upgrade" (any case).
  static bool isWebSocketRequest(const HTTPMessage& request);
  // Both "Sec-WebSocket-Key1" and "Sec-WebSocket-Key2" are present.
  static bool isVersion76Request(const HTTPMessage& request);
  // "Sec-WebSocket-Key" is present.
  static bool isRFC6455Request(const HTTPMessage& request);

  const std::shared_ptr<platform::dispatch::Queue>& websocketQueue() const {
    return _websocketQueue;
  }
  std::shared_ptr<WebSocketDelegate> delegate();
  void setDelegate(std::weak_ptr<WebSocketDelegate> newDelegate);

  // Answers the handshake (draft 76: after reading its 8-byte challenge) and opens; once.
  void start();
  // Closes the socket; the endpoint then ends through `didClose`.
  void stop();
  // One final, unmasked text frame (RFC 6455) or 0x00 text 0xFF (old drafts).
  void sendMessage(const std::string& msg);

  // The longest message read (16 MiB); a longer one ends the endpoint.
  virtual std::size_t maxMessageLength();

  // The RFC 6455 accept value for a "Sec-WebSocket-Key".
  static std::string acceptValueForKey(const std::string& key);
  // The frame `sendMessage` writes for `payload`.
  platform::Bytes frameForMessage(const std::string& payload) const;

  // Socket delegate (endpoint queue).
  void socketDidReadData(const std::shared_ptr<DispatchSocket>& sock, const SocketData& data,
                         long tag) override;
  void socketDidDisconnect(const std::shared_ptr<DispatchSocket>& sock,
                           const std::optional<platform::Error>& err) override;

 protected:
  WebSocket(const HTTPMessage& aRequest, std::shared_ptr<DispatchSocket> socket);

  // Hooks (endpoint queue). The base forwards each to the delegate; `didClose` then posts
  // kWebSocketDidDieNotification, always.
  virtual void didOpen();
  virtual void didReceiveMessage(const std::string& msg);
  virtual void didClose();

  std::string originResponseHeaderValue() const;
  std::string locationResponseHeaderValue() const;
  std::optional<std::string> secWebSocketKeyResponseHeaderValue() const;
  void sendResponseHeaders();
  void readRequestBody();
  // Draft 76: the 4 big-endian bytes of a "Sec-WebSocket-Key1"/"Key2" value.
  static platform::Bytes processKey(const std::string& key);
  void sendResponseBody(const SocketData& d3);

  // Set at creation.
  const std::shared_ptr<platform::dispatch::Queue> _websocketQueue;
  const HTTPMessage request;
  const bool isVersion76;
  const bool isRFC6455;
  const SocketData term;

  // Owned by _websocketQueue.
  std::shared_ptr<DispatchSocket> asyncSocket;
  std::weak_ptr<WebSocketDelegate> _delegate;
  bool isStarted = false;
  // Reads the frames (or old-draft messages) once the endpoint is open.
  std::optional<WebSocketFrameReader> frameReader_;

 private:
  // The hooks, the handshake and the socket callbacks fail an assertion off _websocketQueue.
  void assertOnWebSocketQueue() const;
  void takeOverSocket();
  void queueRead(const WebSocketFrameReader::Read& read);
  bool closed_ = false;
};
