#pragma once
// FontAlert: the largest bold system font, in whole points from a maximum down to a minimum,
// in which a text wrapped by words fits a box. Any thread (text measuring is).

#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

class FontAlert {
 public:
  // The bold font of the first size from `maxFontSize` down to `minSize` + 1 at which `text`,
  // wrapped at `size.width`, is no taller than `size.height`; the bold font of `minSize` when
  // none is (or when `maxFontSize` <= `minSize`, without measuring).
  static platform::Font boldSystemFontThatFitsSize(platform::Size size, int maxFontSize,
                                                   int minSize, const std::string& text);
};
