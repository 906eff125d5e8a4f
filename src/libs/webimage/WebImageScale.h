#pragma once
// WebImageScale: the scale of a picture made from stored or downloaded bytes follows its name:
// 2 when the name marks a double-scale file ("@2x." followed by a three- or four-letter
// extension at the end), else 1. Any thread.

#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"

class WebImageScale {
 public:
  // 2.0 when "@2x." lies within the five characters that begin eight before the end of `name`.
  static double scaleForName(const std::string& name);
  // The picture in `data` at the scale of `name`; null when the bytes do not decode.
  static std::shared_ptr<platform::Image> imageWithData(const platform::Bytes& data,
                                                        const std::string& name);
};
