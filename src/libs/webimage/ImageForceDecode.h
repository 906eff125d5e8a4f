#pragma once
// ImageForceDecode: a picture drawn once into a bitmap of its own size at the screen's scale
// (opaque when the picture has no alpha), so that showing it later costs no decoding. Any
// thread.

#include <memory>

#include "platform/ui/Image.h"

class ImageForceDecode {
 public:
  // The drawn picture; null for a null or missing picture, or when no bitmap can be made.
  static std::shared_ptr<platform::Image> decodedImageWithImage(
      const std::shared_ptr<platform::Image>& image);
};
