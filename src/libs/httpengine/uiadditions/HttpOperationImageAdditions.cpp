#include "httpengine/uiadditions/HttpOperationImageAdditions.h"

#include "platform/dispatch/Queue.h"
#include "platform/ui/ImageSource.h"

namespace dispatch = platform::dispatch;

std::shared_ptr<platform::Image> HttpOperationImageAdditions::responseImage(
    const HttpOperation& operation) {
  auto data = operation.responseData();
  if (!data) return nullptr;
  return platform::Image::imageWithData(*data);
}

void HttpOperationImageAdditions::decompressedResponseImageOfSize(const HttpOperation& operation,
                                                                  platform::Size,
                                                                  ImageBlock handler) {
  auto data = operation.responseData();
  dispatch::Queue::global(dispatch::Priority::High)
      ->async([data = std::move(data), handler = std::move(handler)] {
        auto image = data ? platform::ImageSource::imageWithData(*data) : nullptr;
        dispatch::Queue::main()->async([image = std::move(image), handler] { handler(image); });
      });
}
