#include "widgets/FontAlert.h"

#include "platform/ui/TextMeasurer.h"

platform::Font FontAlert::boldSystemFontThatFitsSize(platform::Size size, int maxFontSize,
                                                     int minSize, const std::string& text) {
  for (int s = maxFontSize; s > minSize; --s) {
    platform::Font font = platform::Font::boldSystemFont(s);
    double height = platform::TextMeasurer::sizeOfText(text, font, {size.width, 0},
                                                       platform::LineBreakMode::WordWrap)
                        .height;
    if (height <= size.height) return font;
  }
  return platform::Font::boldSystemFont(minSize);
}
