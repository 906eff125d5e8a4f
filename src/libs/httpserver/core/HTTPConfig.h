#pragma once
// HTTPConfig: what a new connection needs from its server: the server itself, the folder it
// serves and the queue every connection of that server runs on. Immutable once made.

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"

class HTTPServer;

class HTTPConfig {
 public:
  // Keeps both as given; no queue.
  HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot);
  // Keeps the document root in its standard form ("." and ".." resolved, repeated and trailing
  // separators removed); the server makes every connection's configuration so.
  HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot,
             std::shared_ptr<platform::dispatch::Queue> queue);

  // Not owning: the server outlives its connections.
  std::shared_ptr<HTTPServer> server() const { return _server.lock(); }
  const std::optional<std::string>& documentRoot() const { return _documentRoot; }
  const std::shared_ptr<platform::dispatch::Queue>& queue() const { return _queue; }

 private:
  const std::weak_ptr<HTTPServer> _server;
  const std::optional<std::string> _documentRoot;
  const std::shared_ptr<platform::dispatch::Queue> _queue;
};
