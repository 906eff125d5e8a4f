#pragma once
// StatusBar: the 20-point band the phone's own system draws at the top of the screen, above every
// window: the carrier and the network on the left, the time of day in the middle and the battery
// on the right. The application cannot draw there; a snapshot draws it the way the phone would,
// so a picture shows the band the learner sees. The default style is the platform's light grey
// gradient with dark text, the other styles black with white text.
//
// Main thread only, like drawing.

#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Geometry.h"

namespace platform {

class GraphicsContext;

class StatusBar {
 public:
  static constexpr double kHeight = 20;
  static constexpr int kStyleDefault = 0;
  static constexpr const char* kCarrier = "中国移动";

  StatusBar() = delete;

  // Draws the band into `band` (points of `context`) in `style`, showing the local time of `now`.
  static void draw(GraphicsContext& context, const Rect& band, int style, Date now);
  // "9:41": the hour and minutes of `now` in local time, as the band shows them.
  static std::string timeText(Date now);
};

}  // namespace platform
