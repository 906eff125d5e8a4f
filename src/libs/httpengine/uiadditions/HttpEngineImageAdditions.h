#pragma once
// HttpEngineImageAdditions: pictures fetched through a request engine. Each form makes a GET of
// `url` through the engine (cached even over HTTPS when the engine's cache is on), enqueues it
// and returns it; its completion hands the decoded picture (null when the bytes do not decode),
// the URL asked for and whether the bytes came from the cache to `completion`, and its failure
// goes to `errorHandler`. Null, and nothing asked, for an absent URL or one that forms no
// request. The forms with a size decode off the main thread (the size is not used). Either
// callback may be empty.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "httpengine/HttpEngine.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Image.h"

class HttpEngineImageAdditions {
 public:
  using ImageBlock = std::function<void(const std::shared_ptr<platform::Image>& image,
                                        const std::string& url, bool isInCache)>;

  HttpEngineImageAdditions() = delete;

  static HttpOperation::Ptr imageAtURL(HttpEngine& engine, const std::optional<std::string>& url,
                                       ImageBlock completion,
                                       HttpOperation::ResponseErrorBlock errorHandler);
  static HttpOperation::Ptr imageAtURL(HttpEngine& engine, const std::optional<std::string>& url,
                                       platform::Size size, ImageBlock completion,
                                       HttpOperation::ResponseErrorBlock errorHandler);
  static HttpOperation::Ptr imageAtURL(HttpEngine& engine, const std::optional<std::string>& url,
                                       ImageBlock completion);
  static HttpOperation::Ptr imageAtURL(HttpEngine& engine, const std::optional<std::string>& url,
                                       platform::Size size, ImageBlock completion);

 private:
  static HttpOperation::Ptr fetchImage(HttpEngine& engine, const std::optional<std::string>& url,
                                       std::optional<platform::Size> decompressedSize,
                                       ImageBlock completion,
                                       HttpOperation::ResponseErrorBlock errorHandler);
};
