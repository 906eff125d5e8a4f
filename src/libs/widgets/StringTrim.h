#pragma once
// StringTrim: cuts a text to the longest prefix that fits a box when wrapped at the box's width,
// and marks the cut with an ellipsis. Positions are UTF-16 units and cuts fall between composed
// character sequences, so an accent never loses its letter and an emoji is never halved. Any
// thread (text measuring is).

#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

class StringTrim {
 public:
  // The longest prefix of `text` whose height, wrapped by words at `size.width`, is at most
  // `size.height` (found by a binary search over UTF-16 lengths). When that prefix is shorter
  // than the text and longer than the ellipsis, its last units give way to `...` (or `..."`
  // with quotes). A text that fits comes back unchanged.
  static std::string stringByTruncatingToSize(const std::string& text, platform::Size size,
                                              const platform::Font& font, bool addQuotes);
};
