#pragma once
// SimpleTextMeasurer: a font-free estimate of wrapped text height, good enough for row heights
// until real font metrics are installed. Its rules, kept simple on purpose:
//   - an ASCII character advances half the font size, any other character (Chinese, full-width)
//     the whole font size;
//   - lines break at "\n", after spaces, and between any two non-ASCII characters; a word wider
//     than the width is broken between its characters; spaces at the end of a line take no room;
//   - every line is 1.2 font sizes high; the height is rounded up to a whole point;
//   - the empty text is 0 high; an empty line between two "\n" still counts as a line.
// A width too small for one character puts one character on each line.

#include "util/TextMeasurer.h"

class SimpleTextMeasurer : public TextMeasurer {
 public:
  float heightForText(std::string_view text, float fontSize, float width) const override;

  // Lines `text` takes at `fontSize` within `width`, by the rules above.
  static int lineCount(std::string_view text, float fontSize, float width);
};
