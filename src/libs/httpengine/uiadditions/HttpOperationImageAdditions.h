#pragma once
// HttpOperationImageAdditions: the picture a finished operation's response holds (PNG, JPEG or
// GIF), decoded by the UI layer's image support.

#include <functional>
#include <memory>

#include "httpengine/HttpOperation.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Image.h"

class HttpOperationImageAdditions {
 public:
  using ImageBlock = std::function<void(const std::shared_ptr<platform::Image>&)>;

  HttpOperationImageAdditions() = delete;

  // Null when there are no bytes or they do not decode.
  static std::shared_ptr<platform::Image> responseImage(const HttpOperation& operation);
  // Decodes the response on the high-priority global queue and hands the picture (null as for
  // `responseImage`) to `handler` on the main queue. The size is not used.
  static void decompressedResponseImageOfSize(const HttpOperation& operation, platform::Size size,
                                              ImageBlock handler);
};
