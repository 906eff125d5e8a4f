#pragma once
// AnalyticsUtil: short descriptions of exceptions and errors for the SDK's log lines and
// errors.

#include <optional>
#include <string>

#include "analytics/AnalyticsException.h"
#include "platform/foundation/Error.h"

class AnalyticsUtil {
 public:
  AnalyticsUtil() = delete;

  // The exception's description of at most 150 characters; absent for none.
  static std::optional<std::string> descriptionFromException(
      const std::optional<AnalyticsException>& exception);
  // "<domain> <code>: <description>"; absent for none.
  static std::optional<std::string> descriptionFromError(
      const std::optional<platform::Error>& error);
};
