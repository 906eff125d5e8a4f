#pragma once
// WebImageDecoder: force-decodes pictures off the main thread, one at a time and in the order
// asked (so a partial picture is never delivered after the whole one), and hands each to its
// delegate on the main thread with the caller's user information. A picture that does not
// decode is handed on as it was. The delegate is held until it has heard.
//
// `sharedImageDecoder` is made on first use from any thread, once.

#include <memory>

#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"
#include "webimage/WebImageDecoderDelegate.h"

class WebImageDecoder {
 public:
  static std::shared_ptr<WebImageDecoder> sharedImageDecoder();

  // Any thread.
  void decodeImage(std::shared_ptr<platform::Image> image,
                   std::shared_ptr<WebImageDecoderDelegate> delegate, platform::Value userInfo);

 private:
  WebImageDecoder();

  // Set at construction, read-only after.
  std::shared_ptr<platform::OperationQueue> imageDecodingQueue_;
};
