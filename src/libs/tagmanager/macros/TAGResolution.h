#pragma once
// TAGResolution ("_rs"): the main screen's size in pixels, "<width>x<height>": each side is its
// points times the scale, rounded up in single precision, as the platform's screen reports it.
// Stateless; any thread.

#include <cstdint>
#include <set>
#include <string>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGResolution : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_rs"; }
  TAGResolution() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override;

  // "<width>x<height>" in pixels of a screen of these metrics.
  static std::string resolution(const TAGPlatformFacts::ScreenMetrics& screen);
};
