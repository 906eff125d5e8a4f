#include "widgets/PangoTextMeasurer.h"

#include <string>

#include "platform/ui/TextMeasurer.h"

float PangoTextMeasurer::heightForText(std::string_view text, float fontSize, float width) const {
  if (text.empty()) return 0;
  return static_cast<float>(
      platform::TextMeasurer::heightForString(std::string(text), fontSize, width));
}
