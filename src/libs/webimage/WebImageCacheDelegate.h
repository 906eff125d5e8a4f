#pragma once
// What a disk-cache query tells the object that asked (memory hits at once on the asking thread,
// everything else on the main thread).

#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"

class WebImageCache;

class WebImageCacheDelegate {
 public:
  virtual ~WebImageCacheDelegate() = default;
  virtual void imageCacheDidFindImage(WebImageCache&, const std::shared_ptr<platform::Image>&,
                                      const std::string& /*key*/,
                                      const platform::Value& /*userInfo*/) {}
  virtual void imageCacheDidNotFindImageForKey(WebImageCache&, const std::string& /*key*/,
                                               const platform::Value& /*userInfo*/) {}
};
