#include "httpserver/core/HTTPServer.h"

#include <algorithm>

#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPLogging.h"
#include "httpserver/core/HTTPServerNotifications.h"
#include "httpserver/core/StandardPath.h"
#include "httpserver/core/WebSocket.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"

namespace {

constexpr int kLogLevel = kHTTPServerLogLevel;

std::string describe(const platform::Error& error) {
  return "Error Domain=" + error.domain() + " Code=" + std::to_string(error.code()) + " \"" +
         error.localizedDescription() + "\"";
}

std::string describe(const platform::Dictionary& dictionary) {
  std::string text = "{";
  for (const auto& [key, value] : dictionary) {
    if (text.size() > 1) text += "; ";
    text += key + " = " + value.stringValue();
  }
  return text + "}";
}

}  // namespace

std::shared_ptr<HTTPServer> HTTPServer::create() {
  std::shared_ptr<HTTPServer> server(new HTTPServer());
  server->setUp();
  return server;
}

HTTPServer::HTTPServer()
    : serverQueue(platform::dispatch::Queue::serial("HTTPServer")),
      connectionQueue(platform::dispatch::Queue::serial("HTTPConnection")),
      _connectionClass(&HTTPConnection::initWithAsyncSocket<HTTPConnection>) {}

void HTTPServer::setUp() {
  asyncSocket = DispatchSocket::create(
      std::weak_ptr<DispatchSocketDelegate>(
          std::static_pointer_cast<DispatchSocketDelegate>(shared_from_this())),
      serverQueue);
  connectionDidDieObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kHTTPConnectionDidDieNotification,
      [weak = weak_from_this()](const platform::Notification& notification) {
        if (auto self = weak.lock()) self->connectionDidDie(notification);
      });
  webSocketDidDieObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kWebSocketDidDieNotification,
      [weak = weak_from_this()](const platform::Notification& notification) {
        if (auto self = weak.lock()) self->webSocketDidDie(notification);
      });
}

HTTPServer::~HTTPServer() {
  connectionDidDieObserver_.reset();
  webSocketDidDieObserver_.reset();
  // Whoever lets go last may be running on the server queue: the teardown runs here directly
  // rather than waiting for that queue.
  stopNow(false);
  asyncSocket->setDelegate(DispatchSocket::DelegatePtr(), nullptr);
}

// --- Properties --------------------------------------------------------------------------------

std::optional<std::string> HTTPServer::documentRoot() {
  return serverQueue->syncValue([&] { return _documentRoot; });
}

void HTTPServer::setDocumentRoot(std::optional<std::string> value) {
  serverQueue->async([self = shared_from_this(), value = std::move(value)] {
    self->_documentRoot = value;
    self->openedRoot();
  });
}

void HTTPServer::setDocumentRoot(const platform::Value& value) {
  if (value.isNull()) {
    setDocumentRoot(std::optional<std::string>());
    return;
  }
  const std::string* text = value.asText();
  if (!text) {
    static const char* const kKindNames[] = {"NSNull",       "NSNumber", "NSNumber", "NSNumber",
                                             "NSString",     "NSData",   "NSDate",   "NSArray",
                                             "NSDictionary", "NSObject"};
    HTTP_LOG_WARN(kLogLevel, "%s: %s - Expecting NSString parameter, received %s parameter",
                  HTTP_LOG_FILE, "setDocumentRoot:", kKindNames[static_cast<int>(value.kind())]);
    return;
  }
  setDocumentRoot(std::optional<std::string>(*text));
}

HTTPServer::ConnectionClass HTTPServer::connectionClass() {
  return serverQueue->syncValue([&] { return _connectionClass; });
}

void HTTPServer::setConnectionClass(ConnectionClass value) {
  serverQueue->async(
      [self = shared_from_this(), value = std::move(value)] { self->_connectionClass = value; });
}

std::optional<std::string> HTTPServer::interface() {
  return serverQueue->syncValue([&] { return _interface; });
}

void HTTPServer::setInterface(std::optional<std::string> value) {
  serverQueue->async(
      [self = shared_from_this(), value = std::move(value)] { self->_interface = value; });
}

std::uint16_t HTTPServer::port() {
  return serverQueue->syncValue([&] { return _port; });
}

void HTTPServer::setPort(std::uint16_t value) {
  serverQueue->async([self = shared_from_this(), value] { self->_port = value; });
}

std::string HTTPServer::domain() {
  return serverQueue->syncValue([&] { return _domain; });
}

void HTTPServer::setDomain(std::string value) {
  serverQueue->async(
      [self = shared_from_this(), value = std::move(value)] { self->_domain = value; });
}

std::string HTTPServer::name() {
  return serverQueue->syncValue([&] { return _name; });
}

void HTTPServer::setName(std::string value) {
  serverQueue->async(
      [self = shared_from_this(), value = std::move(value)] { self->_name = value; });
}

std::optional<std::string> HTTPServer::type() {
  return serverQueue->syncValue([&] { return _type; });
}

void HTTPServer::setType(std::optional<std::string> value) {
  serverQueue->async(
      [self = shared_from_this(), value = std::move(value)] { self->_type = value; });
}

std::optional<platform::Dictionary> HTTPServer::TXTRecordDictionary() {
  return serverQueue->syncValue([&] { return txtRecordDictionary; });
}

void HTTPServer::setTXTRecordDictionary(std::optional<platform::Dictionary> value) {
  serverQueue->async([self = shared_from_this(), value = std::move(value)] {
    self->txtRecordDictionary = value;
    if (!self->netService) return;
    std::optional<platform::Bytes> data;
    if (value) data = platform::NetService::dataFromTXTRecordDictionary(*value);
    auto service = self->netService;
    performBonjourBlock([&] { service->setTXTRecordData(data); });
  });
}

std::uint16_t HTTPServer::listeningPort() {
  return serverQueue->syncValue(
      [&]() -> std::uint16_t { return _isRunning ? asyncSocket->localPort() : 0; });
}

std::optional<std::string> HTTPServer::publishedName() {
  return serverQueue->syncValue([&]() -> std::optional<std::string> {
    if (!netService) return std::nullopt;
    std::string name;
    auto service = netService;
    performBonjourBlock([&] { name = service->name(); });
    return name;
  });
}

// --- Start and stop ----------------------------------------------------------------------------

bool HTTPServer::start(platform::Error* errPtr) {
  bool success = false;
  serverQueue->sync([&] {
    platform::Error error;
    success = asyncSocket->acceptOnInterface(_interface.value_or(""), _port, &error);
    if (success) {
      HTTP_LOG_INFO(kLogLevel, "%s: Started HTTP server on port %hu", HTTP_LOG_FILE,
                    asyncSocket->localPort());
      _isRunning = true;
      publishBonjour();
    } else {
      HTTP_LOG_ERROR(kLogLevel, "%s: Failed to start HTTP Server: %s", HTTP_LOG_FILE,
                     describe(error).c_str());
      if (errPtr) *errPtr = error;
    }
  });
  return success;
}

void HTTPServer::stop(bool keepExistingConnections) {
  serverQueue->sync([&] { stopNow(keepExistingConnections); });
}

void HTTPServer::stopNow(bool keepExistingConnections) {
  unpublishBonjour();
  asyncSocket->disconnect();
  _isRunning = false;
  if (keepExistingConnections) return;
  std::vector<std::shared_ptr<HTTPConnection>> stopped;
  {
    platform::MutexLock lock(connectionsLock);
    stopped.swap(connections);
  }
  for (const auto& connection : stopped) connection->stop();
  std::vector<std::shared_ptr<WebSocket>> stoppedSockets;
  {
    platform::MutexLock lock(webSocketsLock);
    stoppedSockets.swap(webSockets);
  }
  for (const auto& ws : stoppedSockets) ws->stop();
}

bool HTTPServer::isRunning() {
  return serverQueue->syncValue([&] { return _isRunning; });
}

std::size_t HTTPServer::numberOfHTTPConnections() {
  platform::MutexLock lock(connectionsLock);
  return connections.size();
}

void HTTPServer::addWebSocket(std::shared_ptr<WebSocket> ws) {
  platform::MutexLock lock(webSocketsLock);
  webSockets.push_back(std::move(ws));
}

std::size_t HTTPServer::numberOfWebSocketConnections() {
  platform::MutexLock lock(webSocketsLock);
  return webSockets.size();
}

std::shared_ptr<HTTPConfig> HTTPServer::config() {
  return serverQueue->syncValue([&] { return makeConfig(); });
}

void HTTPServer::assertOnServerQueue() const {
  platform::assertThat(serverQueue == platform::dispatch::Queue::current(), "Invalid queue");
}

std::shared_ptr<HTTPConfig> HTTPServer::makeConfig() const {
  assertOnServerQueue();
  return std::make_shared<HTTPConfig>(std::const_pointer_cast<HTTPServer>(shared_from_this()),
                                      openedRoot(), connectionQueue);
}

std::shared_ptr<const DocumentRoot> HTTPServer::openedRoot() const {
  assertOnServerQueue();
  if (!_documentRoot) {
    root_.reset();
    return nullptr;
  }
  std::string path = standardizePath(*_documentRoot);
  if (!root_ || root_->path() != path || !root_->isOpen()) root_ = DocumentRoot::open(path);
  return root_;
}

// --- Connections -------------------------------------------------------------------------------

std::shared_ptr<platform::dispatch::Queue> HTTPServer::newSocketQueueForConnectionFromAddress(
    const platform::Bytes&, const std::shared_ptr<DispatchSocket>&) {
  return connectionQueue;
}

void HTTPServer::socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>&,
                                          const std::shared_ptr<DispatchSocket>& newSocket) {
  assertOnServerQueue();
  if (!_connectionClass) {
    newSocket->disconnect();
    return;
  }
  std::shared_ptr<HTTPConnection> connection = _connectionClass(newSocket, makeConfig());
  if (!connection) {
    newSocket->disconnect();
    return;
  }
  {
    platform::MutexLock lock(connectionsLock);
    connections.push_back(connection);
  }
  connection->start();
}

void HTTPServer::connectionDidDie(const platform::Notification& notification) {
  const void* dead = notification.object.identity();
  // Released outside the lock: a connection's teardown must not run under it.
  std::shared_ptr<HTTPConnection> removed;
  platform::MutexLock lock(connectionsLock);
  auto found = std::find_if(connections.begin(), connections.end(),
                            [&](const auto& connection) { return connection.get() == dead; });
  if (found == connections.end()) return;
  removed = std::move(*found);
  connections.erase(found);
}

void HTTPServer::webSocketDidDie(const platform::Notification& notification) {
  const void* dead = notification.object.identity();
  std::shared_ptr<WebSocket> removed;
  platform::MutexLock lock(webSocketsLock);
  auto found = std::find_if(webSockets.begin(), webSockets.end(),
                            [&](const auto& ws) { return ws.get() == dead; });
  if (found == webSockets.end()) return;
  removed = std::move(*found);
  webSockets.erase(found);
}

// --- Announcement ------------------------------------------------------------------------------

void HTTPServer::publishBonjour() {
  assertOnServerQueue();
  if (!_type) return;
  netService = platform::NetService::create(_domain, *_type, _name, asyncSocket->localPort());
  netService->setDelegate(std::weak_ptr<platform::NetServiceDelegate>(
      std::static_pointer_cast<platform::NetServiceDelegate>(shared_from_this())));
  std::optional<platform::Bytes> txtRecordData;
  if (txtRecordDictionary)
    txtRecordData = platform::NetService::dataFromTXTRecordDictionary(*txtRecordDictionary);
  startBonjourThreadIfNeeded();
  auto service = netService;
  performBonjourBlock([&] {
    service->removeFromRunLoop();
    service->scheduleInRunLoop(platform::RunLoop::current());
    service->publish();
    if (txtRecordData) service->setTXTRecordData(txtRecordData);
  });
}

void HTTPServer::unpublishBonjour() {
  if (!netService) return;
  auto service = std::move(netService);
  netService.reset();
  performBonjourBlock([&] { service->stop(); });
}

void HTTPServer::republishBonjour() {
  serverQueue->async([self = shared_from_this()] {
    self->unpublishBonjour();
    self->publishBonjour();
  });
}

void HTTPServer::netServiceDidPublish(platform::NetService& ns) {
  HTTP_LOG_INFO(kLogLevel, "Bonjour Service Published: domain(%s) type(%s) name(%s)",
                ns.domain().c_str(), ns.type().c_str(), ns.name().c_str());
}

void HTTPServer::netServiceDidNotPublish(platform::NetService& ns,
                                         const platform::Dictionary& errorDict) {
  HTTP_LOG_WARN(kLogLevel, "Failed to Publish Service: domain(%s) type(%s) name(%s) - %s",
                ns.domain().c_str(), ns.type().c_str(), ns.name().c_str(),
                describe(errorDict).c_str());
}

std::shared_ptr<platform::Thread>& HTTPServer::bonjourThread() {
  // Never destroyed: the thread runs for the rest of the process.
  static auto* thread = new std::shared_ptr<platform::Thread>();
  return *thread;
}

void HTTPServer::startBonjourThreadIfNeeded() {
  static platform::dispatch::OnceFlag once;
  platform::dispatch::once(
      once, [] { bonjourThread() = platform::Thread::startWithRunLoop("HTTPServer Bonjour"); });
}

void HTTPServer::executeBonjourBlock(const std::function<void()>& block) {
  platform::assertThat(bonjourThread()->runLoop()->isCurrent(), "Executed on incorrect thread");
  block();
}

void HTTPServer::performBonjourBlock(const std::function<void()>& block) {
  startBonjourThreadIfNeeded();
  auto runLoop = bonjourThread()->runLoop();
  if (runLoop->isCurrent()) {
    executeBonjourBlock(block);
    return;
  }
  runLoop->performAndWait([&] { executeBonjourBlock(block); });
}
