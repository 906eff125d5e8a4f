#pragma once
// What the image decoder tells the object that asked it (on the main thread).

#include <memory>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"

class WebImageDecoder;

class WebImageDecoderDelegate {
 public:
  virtual ~WebImageDecoderDelegate() = default;
  virtual void imageDecoderDidFinishDecodingImage(WebImageDecoder&,
                                                  const std::shared_ptr<platform::Image>&,
                                                  const platform::Value& /*userInfo*/) {}
};
