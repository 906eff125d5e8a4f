#include "platform/ui/StatusBar.h"

#include <cstdio>
#include <ctime>

#include "platform/ui/Font.h"
#include "platform/ui/GraphicsContext.h"

namespace platform {

namespace {

constexpr double kMargin = 6;
constexpr double kBatteryWidth = 22;
constexpr double kBatteryHeight = 10;

// Three bars of rising height, as signal strength.
void drawSignal(GraphicsContext& context, const Rect& band, const Color& color) {
  context.setFillColor(color);
  for (int i = 0; i < 5; ++i) {
    double height = 3 + 1.5 * i;
    context.fillRect({band.minX() + kMargin + 4 * i, band.midY() + 5 - height, 3, height});
  }
}

void drawBattery(GraphicsContext& context, const Rect& band, const Color& color) {
  const double x = band.maxX() - kMargin - kBatteryWidth - 2;
  const double y = band.midY() - kBatteryHeight / 2;
  context.setStrokeColor(color);
  context.setLineWidth(1);
  context.strokeRect({x + 0.5, y + 0.5, kBatteryWidth - 1, kBatteryHeight - 1});
  context.setFillColor(color);
  context.fillRect({x + kBatteryWidth, y + 3, 2, kBatteryHeight - 6});
  context.fillRect({x + 2, y + 2, kBatteryWidth - 4, kBatteryHeight - 4});
}

}  // namespace

std::string StatusBar::timeText(Date now) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d", local.tm_hour, local.tm_min);
  return text;
}

void StatusBar::draw(GraphicsContext& context, const Rect& band, int style, Date now) {
  context.save();
  context.clipToRect(band);
  Color text = Color::whiteColor();
  if (style == kStyleDefault) {
    context.drawLinearGradient({band.minX(), band.minY()}, {band.minX(), band.maxY()},
                               Color::rgb255(236, 236, 236), Color::rgb255(198, 198, 198));
    text = Color::rgb255(40, 40, 40);
  } else {
    context.setFillColor(Color::blackColor());
    context.fillRect(band);
  }
  drawSignal(context, band, text);
  const Font font = Font::boldSystemFont(12);
  const double textTop = band.minY() + 3;
  context.drawText(kCarrier, {band.minX() + kMargin + 24, textTop, 80, band.height()}, font, text);
  context.drawText(timeText(now), {band.minX(), textTop, band.width(), band.height()}, font, text,
                   TextAlignment::Center);
  context.drawText("100%", {band.maxX() - kMargin - kBatteryWidth - 46, textTop, 40, band.height()},
                   font, text, TextAlignment::Right);
  drawBattery(context, band, text);
  context.restore();
}

}  // namespace platform
