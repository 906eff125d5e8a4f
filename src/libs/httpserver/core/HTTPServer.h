#pragma once
// HTTPServer: owns the listening socket, the live connections and the service announcement.
// Each accepted socket becomes a connection (made by `connectionClass`) that gets its settings
// through an HTTPConfig: this server, the document root and the one "HTTPConnection" queue all
// connections and their sockets share. The server keeps each connection until the connection
// announces its death (kHTTPConnectionDidDieNotification) or the server stops without keeping
// connections.
//
// No interface means every interface and address family; port 0 lets the system choose
// (`listeningPort` tells which). With a `type` set, starting publishes an announcement through
// the platform's NetService, on one process-wide announcement thread; this platform announces
// nothing on the network, so the outcome is only logged.
//
// Threads: any thread may call. Server state lives on the serial queue "HTTPServer": getters,
// `start`, `stop` and `isRunning` wait for it, setters queue their change and return at once.
// The connection list is guarded by its own lock, since connections leave it from their queue;
// so is the list of WebSocket endpoints that connections handed their sockets to.
// Must not be called from its own queue ("HTTPServer") or from a connection's callbacks.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "httpserver/core/HTTPConfig.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Value.h"
#include "platform/net/NetService.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchSocketDelegate.h"

class HTTPConnection;
class WebSocket;

class HTTPServer : public DispatchSocketDelegate,
                   public platform::NetServiceDelegate,
                   public std::enable_shared_from_this<HTTPServer> {
 public:
  // Makes a connection for an accepted socket; a subclass's is
  // `HTTPConnection::initWithAsyncSocket<Subclass>`.
  using ConnectionClass = std::function<std::shared_ptr<HTTPConnection>(
      std::shared_ptr<DispatchSocket>, std::shared_ptr<HTTPConfig>)>;

  static std::shared_ptr<HTTPServer> create();
  ~HTTPServer() override;
  HTTPServer(const HTTPServer&) = delete;
  HTTPServer& operator=(const HTTPServer&) = delete;

  std::optional<std::string> documentRoot();
  // The folder is opened once here (see DocumentRoot) and shared by every connection's files.
  void setDocumentRoot(std::optional<std::string> value);
  // The same with a value of any kind: anything but a text (or null) is refused with a warning.
  void setDocumentRoot(const platform::Value& value);
  ConnectionClass connectionClass();
  void setConnectionClass(ConnectionClass value);
  std::optional<std::string> interface();
  void setInterface(std::optional<std::string> value);
  std::uint16_t port();
  void setPort(std::uint16_t value);
  std::string domain();
  void setDomain(std::string value);
  std::string name();
  void setName(std::string value);
  std::optional<std::string> type();
  void setType(std::optional<std::string> value);
  std::optional<platform::Dictionary> TXTRecordDictionary();
  void setTXTRecordDictionary(std::optional<platform::Dictionary> value);

  // The listening socket's local port while running, else 0.
  std::uint16_t listeningPort();
  // The announcement's name, absent without an announcement.
  std::optional<std::string> publishedName();

  // Starts listening and announcing; false with the socket's error when listening fails (the
  // server then stays as it was).
  bool start(platform::Error* errPtr = nullptr);
  // Withdraws the announcement, closes the listening socket and, unless told to keep them, stops
  // and drops every connection.
  void stop() { stop(false); }
  void stop(bool keepExistingConnections);
  bool isRunning();

  std::size_t numberOfHTTPConnections();
  // Keeps a started WebSocket endpoint until it announces its death (kWebSocketDidDie...) or
  // the server stops.
  void addWebSocket(std::shared_ptr<WebSocket> ws) EXCLUDES(webSocketsLock);
  std::size_t numberOfWebSocketConnections() EXCLUDES(webSocketsLock);
  // Responses its connections have written out whole since the server was made (error answers
  // included); a connection counts each one as its last byte is written. Any thread.
  std::uint64_t requestsServed() const { return requestsServed_.load(); }
  void countRequestServed() { requestsServed_.fetch_add(1); }

  // A new configuration for a connection: this server, the document root, the connection queue.
  std::shared_ptr<HTTPConfig> config();

  // Unpublishes and publishes the announcement again, asynchronously.
  void republishBonjour();

  // Socket delegate (server queue). Accepted sockets run on the connection queue too, so a
  // request's steps (a read, the connection's answer, its write, the next read) follow each other
  // on one queue instead of waking a thread for each hand-over between two.
  std::shared_ptr<platform::dispatch::Queue> newSocketQueueForConnectionFromAddress(
      const platform::Bytes& address, const std::shared_ptr<DispatchSocket>& sock) override;
  void socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>& sock,
                                const std::shared_ptr<DispatchSocket>& newSocket) override;
  // Announcement delegate (announcement thread).
  void netServiceDidPublish(platform::NetService& ns) override;
  void netServiceDidNotPublish(platform::NetService& ns,
                               const platform::Dictionary& errorDict) override;

  // The announcement thread: made once per process, never ended. `performBonjourBlock` runs the
  // block there and waits for it.
  static void startBonjourThreadIfNeeded();
  static void performBonjourBlock(const std::function<void()>& block);

 private:
  HTTPServer();
  void setUp();

  void connectionDidDie(const platform::Notification& notification) EXCLUDES(connectionsLock);
  void webSocketDidDie(const platform::Notification& notification) EXCLUDES(webSocketsLock);
  static void executeBonjourBlock(const std::function<void()>& block);
  static std::shared_ptr<platform::Thread>& bonjourThread();

  // Server queue only: these and the accept callback fail an assertion ("Invalid queue")
  // elsewhere. `stopNow` and `unpublishBonjour` also run from the destructor, where nothing else
  // can reach the server, and so do not check.
  void assertOnServerQueue() const;
  void publishBonjour();
  void unpublishBonjour();
  std::shared_ptr<HTTPConfig> makeConfig() const;
  // The document root opened once for every connection; opened again only when the root
  // changed or its folder could not be opened the last time (it may exist by now).
  std::shared_ptr<const DocumentRoot> openedRoot() const;
  void stopNow(bool keepExistingConnections) EXCLUDES(connectionsLock, webSocketsLock);

  // Set at creation.
  std::shared_ptr<platform::dispatch::Queue> serverQueue;
  std::shared_ptr<platform::dispatch::Queue> connectionQueue;
  std::shared_ptr<DispatchSocket> asyncSocket;
  platform::ObserverToken connectionDidDieObserver_;
  platform::ObserverToken webSocketDidDieObserver_;

  // Owned by serverQueue.
  std::optional<std::string> _documentRoot;
  mutable std::shared_ptr<const DocumentRoot> root_;  // a cache of `_documentRoot` opened
  ConnectionClass _connectionClass;
  std::optional<std::string> _interface;
  std::uint16_t _port = 0;
  std::shared_ptr<platform::NetService> netService;
  std::string _domain = "local.";
  std::optional<std::string> _type;
  std::string _name;
  std::optional<platform::Dictionary> txtRecordDictionary;
  bool _isRunning = false;
  std::atomic<std::uint64_t> requestsServed_{0};

  // Guarded by connectionsLock.
  platform::Mutex connectionsLock;
  std::vector<std::shared_ptr<HTTPConnection>> connections GUARDED_BY(connectionsLock);

  // Guarded by webSocketsLock. No code holds both locks.
  platform::Mutex webSocketsLock;
  std::vector<std::shared_ptr<WebSocket>> webSockets GUARDED_BY(webSocketsLock);
};
