#pragma once
// PangoTextMeasurer: the text heights of the drawing layer (pango font metrics, the same that
// labels draw with), behind the TextMeasurer interface. ViewUtil's default.

#include "widgets/TextMeasurer.h"

class PangoTextMeasurer : public TextMeasurer {
 public:
  float heightForText(std::string_view text, float fontSize, float width) const override;
};
