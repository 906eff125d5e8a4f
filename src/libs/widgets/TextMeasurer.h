#pragma once
// TextMeasurer: measures how high a text stands when wrapped at word boundaries to a width, in
// the system font of a size. PangoTextMeasurer is the default; tests may install their own.

#include <string_view>

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // Height in points of `text` wrapped to `width` at `fontSize`; no height limit.
  virtual float heightForText(std::string_view text, float fontSize, float width) const = 0;
};
