#include "tagmanager/macros/TAGResolution.h"

#include <cmath>

#include "tagmanager/values/TAGTypes.h"

namespace {

std::int32_t pixels(double points, double scale) {
  return static_cast<std::int32_t>(
      std::ceil(static_cast<float>(points) * static_cast<float>(scale)));
}

}  // namespace

std::string TAGResolution::resolution(const TAGPlatformFacts::ScreenMetrics& screen) {
  return std::to_string(pixels(screen.width, screen.scale)) + "x" +
         std::to_string(pixels(screen.height, screen.scale));
}

TAGPValue::Ref TAGResolution::evaluate(const TAGPropertyMap&) {
  return TAGTypes::objectToValue(
      TAGObject::string(resolution(TAGPlatformFacts::shared()->mainScreen())));
}
