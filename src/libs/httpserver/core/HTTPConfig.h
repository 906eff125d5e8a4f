#pragma once
// HTTPConfig: what a new connection needs from its server: the server itself, the folder it
// serves (its path, and the folder opened once, see DocumentRoot) and the queue every connection
// of that server runs on. Immutable once made.

#include <memory>
#include <optional>
#include <string>

#include "httpserver/core/DocumentRoot.h"
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
  // Shares a folder already opened (the server opens its root once for all its connections);
  // the document root is that folder's path.
  HTTPConfig(std::weak_ptr<HTTPServer> server, std::shared_ptr<const DocumentRoot> root,
             std::shared_ptr<platform::dispatch::Queue> queue);

  // Not owning: the server outlives its connections.
  std::shared_ptr<HTTPServer> server() const { return _server.lock(); }
  const std::optional<std::string>& documentRoot() const { return _documentRoot; }
  const std::shared_ptr<platform::dispatch::Queue>& queue() const { return _queue; }
  // The document root opened; null exactly when there is no document root.
  const std::shared_ptr<const DocumentRoot>& root() const { return root_; }

 private:
  const std::weak_ptr<HTTPServer> _server;
  const std::optional<std::string> _documentRoot;
  const std::shared_ptr<platform::dispatch::Queue> _queue;
  const std::shared_ptr<const DocumentRoot> root_;
};
