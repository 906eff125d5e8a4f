#pragma once
// ViewUtil: the height of a wrapped text, for table rows whose height follows their text.
// Measures through the installed TextMeasurer (pango's font metrics unless another is
// installed). Safe from any thread.

#include <memory>
#include <optional>
#include <string>

#include "widgets/TextMeasurer.h"

class ViewUtil {
 public:
  // Height of `text` in the system font of `fontSize`, wrapped at word boundaries to `width`,
  // with no height limit. An absent text is 0 high.
  static float heightForString(const std::optional<std::string>& text, float fontSize, float width);

  // Installs the measurer to use; null puts the default back.
  static void setTextMeasurer(std::shared_ptr<TextMeasurer> measurer);
};
