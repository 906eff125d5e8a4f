#include "httpengine/uiadditions/HttpEngineImageAdditions.h"

#include "httpengine/uiadditions/HttpOperationImageAdditions.h"

HttpOperation::Ptr HttpEngineImageAdditions::imageAtURL(
    HttpEngine& engine, const std::optional<std::string>& url, ImageBlock completion,
    HttpOperation::ResponseErrorBlock errorHandler) {
  return fetchImage(engine, url, std::nullopt, std::move(completion), std::move(errorHandler));
}

HttpOperation::Ptr HttpEngineImageAdditions::imageAtURL(
    HttpEngine& engine, const std::optional<std::string>& url, platform::Size size,
    ImageBlock completion, HttpOperation::ResponseErrorBlock errorHandler) {
  return fetchImage(engine, url, size, std::move(completion), std::move(errorHandler));
}

HttpOperation::Ptr HttpEngineImageAdditions::imageAtURL(HttpEngine& engine,
                                                        const std::optional<std::string>& url,
                                                        ImageBlock completion) {
  return fetchImage(engine, url, std::nullopt, std::move(completion), nullptr);
}

HttpOperation::Ptr HttpEngineImageAdditions::imageAtURL(HttpEngine& engine,
                                                        const std::optional<std::string>& url,
                                                        platform::Size size,
                                                        ImageBlock completion) {
  return fetchImage(engine, url, size, std::move(completion), nullptr);
}

HttpOperation::Ptr HttpEngineImageAdditions::fetchImage(
    HttpEngine& engine, const std::optional<std::string>& url,
    std::optional<platform::Size> decompressedSize, ImageBlock completion,
    HttpOperation::ResponseErrorBlock errorHandler) {
  if (!url) return nullptr;
  auto operation = engine.operationWithURLString(*url);
  if (!operation) return nullptr;
  operation->setShouldCacheResponseEvenIfProtocolIsHTTPS(true);
  operation->addCompletionHandler(
      [completion, decompressedSize, url = *url](const HttpOperation::Ptr& done) {
        if (!completion) return;
        bool cached = done->isCachedResponse();
        if (!decompressedSize) {
          completion(HttpOperationImageAdditions::responseImage(*done), url, cached);
          return;
        }
        HttpOperationImageAdditions::decompressedResponseImageOfSize(
            *done, *decompressedSize,
            [completion, url, cached](const std::shared_ptr<platform::Image>& image) {
              completion(image, url, cached);
            });
      },
      [errorHandler](const HttpOperation::Ptr& failed, const platform::Error& error) {
        if (errorHandler) errorHandler(failed, error);
      });
  engine.enqueueOperation(operation);
  return operation;
}
