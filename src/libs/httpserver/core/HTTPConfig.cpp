#include "httpserver/core/HTTPConfig.h"

#include "httpserver/core/StandardPath.h"

HTTPConfig::HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot)
    : server_(std::move(server)), documentRoot_(std::move(documentRoot)) {}

HTTPConfig::HTTPConfig(std::weak_ptr<HTTPServer> server, std::optional<std::string> documentRoot,
                       std::shared_ptr<platform::dispatch::Queue> queue)
    : server_(std::move(server)),
      documentRoot_(documentRoot ? std::optional<std::string>(standardizePath(*documentRoot))
                                 : std::nullopt),
      queue_(std::move(queue)) {}
