#pragma once
// AnalyticsTracker: what the application sees of a tracker. `set` keeps a parameter for every
// later hit of the tracker; `send` queues one hit whose parameters apply to it alone. Keys are
// the field names of AnalyticsFields.h. Any thread.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class AnalyticsTracker {
 public:
  virtual ~AnalyticsTracker() = default;

  // An absent value keeps the key with no text.
  virtual void set(const std::string& key, const std::optional<std::string>& value) = 0;
  // The parameter's text; absent when it has none.
  virtual std::optional<std::string> get(const std::string& key) = 0;
  virtual void send(const platform::Dictionary& parameters) = 0;
  virtual std::string name() const = 0;
};
