#include "httpserver/core/HTTPConfig.h"

#include "httpserver/core/StandardPath.h"

HTTPConfig::HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot)
    : _server(std::move(server)), _documentRoot(std::move(documentRoot)) {}

HTTPConfig::HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot,
                       std::shared_ptr<platform::dispatch::Queue> queue)
    : _server(std::move(server)),
      _documentRoot(documentRoot ? std::optional<std::string>(standardizePath(*documentRoot))
                                 : std::nullopt),
      _queue(std::move(queue)) {}
