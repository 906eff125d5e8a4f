#include "httpserver/core/HTTPConfig.h"

#include "httpserver/core/StandardPath.h"

namespace {

std::shared_ptr<const DocumentRoot> openedRoot(const std::optional<std::string>& documentRoot) {
  return documentRoot ? DocumentRoot::open(*documentRoot) : nullptr;
}

}  // namespace

HTTPConfig::HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot)
    : _server(std::move(server)),
      _documentRoot(std::move(documentRoot)),
      root_(openedRoot(_documentRoot)) {}

HTTPConfig::HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot,
                       std::shared_ptr<platform::dispatch::Queue> queue)
    : _server(std::move(server)),
      _documentRoot(documentRoot ? std::optional<std::string>(standardizePath(*documentRoot))
                                 : std::nullopt),
      _queue(std::move(queue)),
      root_(openedRoot(_documentRoot)) {}

HTTPConfig::HTTPConfig(std::weak_ptr<HTTPServer> server, std::shared_ptr<const DocumentRoot> root,
                       std::shared_ptr<platform::dispatch::Queue> queue)
    : _server(std::move(server)),
      _documentRoot(root ? std::optional<std::string>(root->path()) : std::nullopt),
      _queue(std::move(queue)),
      root_(std::move(root)) {}
