#pragma once
// TAGPlatformFacts: what the tag manager's macros ask of the device and the application: the
// bundle's information values, the device model, the operating system's version, the preferred
// languages, the screen in pixels, the advertising identifier and a random number. The shared
// instance reads the platform layer; tests replace it with `setShared` (a subclass that
// overrides what it fakes). The macros read the shared instance at every evaluation.
//
// Linux has no advertising-identifier manager: `advertisingIdentifierManager` answers none, and
// the macros then take their "not available" road.
//
// Any thread may read; the shared instance is swapped under a lock.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class TAGPlatformFacts {
 public:
  // What the advertising-identifier manager reports.
  struct AdvertisingIdentifierManager {
    std::string advertisingIdentifier;  // its text (8-4-4-4-12), possibly empty
    bool isAdvertisingTrackingEnabled = true;
  };
  // The main screen: its bounds in points and its pixels per point.
  struct ScreenMetrics {
    double width = 0;
    double height = 0;
    double scale = 1;
  };

  TAGPlatformFacts() = default;
  virtual ~TAGPlatformFacts() = default;

  static std::shared_ptr<TAGPlatformFacts> shared();
  // Null puts the platform's own facts back.
  static void setShared(std::shared_ptr<TAGPlatformFacts> facts);

  // A value of the main bundle's information dictionary ("CFBundleName", ...).
  virtual std::optional<platform::Value> infoDictionaryValue(const std::string& key) const;
  virtual std::string deviceModel() const;
  virtual std::string systemVersion() const;
  virtual std::vector<std::string> preferredLanguages() const;
  virtual ScreenMetrics mainScreen() const;
  virtual std::optional<AdvertisingIdentifierManager> advertisingIdentifierManager() const;
  // Uniform in [0, bound).
  virtual std::uint32_t randomUniform(std::uint32_t bound) const;
};
