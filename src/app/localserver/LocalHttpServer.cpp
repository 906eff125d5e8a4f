#include "localserver/LocalHttpServer.h"

#include <cstdlib>
#include <string>

#include "httpserver/core/HTTPServer.h"
#include "model/GlobalModel.h"
#include "platform/foundation/Paths.h"

namespace {

std::string userDownloadFolder() {
  return platform::Paths::documents() + "/" + std::to_string(GlobalModel::sharedModel()->userId());
}

}  // namespace

LocalHttpServer::LocalHttpServer() : _httpServer(HTTPServer::create()) {
  _httpServer->setType(std::string("_http._tcp."));
  // Loopback only: "localhost" listens on 127.0.0.1 and ::1.
  _httpServer->setInterface(std::string("localhost"));
  _httpServer->setPort(configuredPort());
  _httpServer->setDocumentRoot(std::optional<std::string>(userDownloadFolder()));
}

LocalHttpServer::~LocalHttpServer() = default;

void LocalHttpServer::start() {
  platform::Error error;
  if (_httpServer->start(&error) || _httpServer->isRunning()) return;
  const std::uint16_t configured = _httpServer->port();
  if (configured == 0) return;
  // The configured port is held (another copy of the application, any other program): a port
  // the system picks serves as well, since the player asks which port was bound. The next
  // start tries the configured port first again.
  _httpServer->setPort(0);
  _httpServer->start(&error);
  _httpServer->setPort(configured);
}

std::uint16_t LocalHttpServer::listeningPort() { return _httpServer->listeningPort(); }

bool LocalHttpServer::isRunning() { return _httpServer->isRunning(); }

void LocalHttpServer::setDocumeentRoot() {
  _httpServer->setDocumentRoot(std::optional<std::string>(userDownloadFolder()));
}

void LocalHttpServer::stop() { _httpServer->stop(); }

std::uint64_t LocalHttpServer::requestsServed() const {
  return _httpServer ? _httpServer->requestsServed() : 0;
}

std::uint16_t LocalHttpServer::configuredPort() {
  const char* value = std::getenv("CHENGHENG_MEDIA_PORT");
  if (!value || !*value) return kLocalHttpServerDefaultPort;
  std::string text(value);
  if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return kLocalHttpServerDefaultPort;
  unsigned long port = std::stoul(text);
  return port <= 65535 ? static_cast<std::uint16_t>(port) : kLocalHttpServerDefaultPort;
}
