#pragma once
// What the image manager tells a requester, on the main thread (a picture already in memory at
// once, on the asking thread). Each outcome comes in three forms (the picture or error alone,
// with the URL, with the URL and the request's user information); a requester overrides those
// it wants. A failure whose error is absent means bytes that do not decode.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"

class WebImageManager;

class WebImageManagerDelegate {
 public:
  using Image = std::shared_ptr<platform::Image>;
  using UserInfo = std::optional<platform::Dictionary>;

  virtual ~WebImageManagerDelegate() = default;
  virtual void webImageManagerDidFinishWithImage(WebImageManager&, const Image&) {}
  virtual void webImageManagerDidFinishWithImageForURL(WebImageManager&, const Image&,
                                                       const std::string& /*url*/) {}
  virtual void webImageManagerDidFinishWithImageForURLUserInfo(WebImageManager&, const Image&,
                                                               const std::string& /*url*/,
                                                               const UserInfo&) {}
  virtual void webImageManagerDidFailWithError(WebImageManager&,
                                               const std::optional<platform::Error>&) {}
  virtual void webImageManagerDidFailWithErrorForURL(WebImageManager&,
                                                     const std::optional<platform::Error>&,
                                                     const std::string& /*url*/) {}
  virtual void webImageManagerDidFailWithErrorForURLUserInfo(WebImageManager&,
                                                             const std::optional<platform::Error>&,
                                                             const std::string& /*url*/,
                                                             const UserInfo&) {}
  virtual void webImageManagerDidProgressWithPartialImage(WebImageManager&, const Image&) {}
  virtual void webImageManagerDidProgressWithPartialImageForURL(WebImageManager&, const Image&,
                                                                const std::string& /*url*/) {}
  virtual void webImageManagerDidProgressWithPartialImageForURLUserInfo(WebImageManager&,
                                                                        const Image&,
                                                                        const std::string& /*url*/,
                                                                        const UserInfo&) {}
};
