#pragma once
// AnalyticsTrackerModel: a tracker's persistent parameters, together with the process-wide
// tables every hit draws on:
// - default parameters, with which every model starts: "&an" (the bundle's name, else its
//   identifier), "&av" (the bundle's short version) and "analyticsVersion" "3.01";
// - forced parameters, which always win: "&v" "1" and "&_v" "mi3.0.1";
// - computed parameters, read from the device or the dispatcher when not stored: "&ul" (the
//   system language), "&cid" (the client id) and "&sr" (the screen resolution).
// Values are texts or null; storing an absent value stores null, which reads as "no text" but
// keeps the key. Entries are never removed.
//
// A model is used under its tracker's lock and then handed, as a copy, to the dispatcher; the
// tables are built once, before first use, and the cache buster is atomic, so any thread may use
// the class.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class AnalyticsTrackerModel {
 public:
  AnalyticsTrackerModel();

  // The stored value of `key` (null included), else its computed value, else absent.
  std::optional<platform::Value> objectForKeyedSubscript(
      const std::optional<std::string>& key) const;
  // An absent key changes nothing.
  void setObject(const platform::Value& value, const std::optional<std::string>& key);
  std::optional<platform::Value> valueForKey(const std::optional<std::string>& key) const {
    return objectForKeyedSubscript(key);
  }
  void setValue(const platform::Value& value, const std::optional<std::string>& key) {
    setObject(value, key);
  }

  // The computed parameters.
  std::optional<std::string> language() const;
  std::optional<std::string> clientId() const;
  std::optional<std::string> screenResolution() const;

  // A process-wide counter, seeded at random on first use, as decimal text; each call answers
  // the current value and moves it on by one (wrapping at 2^64).
  static std::string cacheBuster();

  std::shared_ptr<AnalyticsTrackerModel> copy() const;
  // A copy with every entry of `override` set into it.
  std::shared_ptr<AnalyticsTrackerModel> copyWithOverride(
      const platform::Dictionary& override) const;
  // The final parameters of one hit: every required parameter (stored or computed, null when
  // neither), the stored ones over them, the forced ones over those, and a new "&z".
  platform::Dictionary buildDictionary() const;

  const platform::Dictionary& parameters() const { return _parameters; }

  static const platform::Dictionary& defaultParameters();
  static const platform::Dictionary& forcedParameters();
  // Computed parameter → the name of the operation that computes it.
  static const std::map<std::string, std::string>& methodsForKeys();
  // The computed parameters' keys, then the default parameters' keys.
  static const std::vector<std::string>& requiredParameters();

 private:
  platform::Dictionary _parameters;
};
