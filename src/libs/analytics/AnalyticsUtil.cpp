#include "analytics/AnalyticsUtil.h"

#include "analytics/AnalyticsExceptionParser.h"

std::optional<std::string> AnalyticsUtil::descriptionFromException(
    const std::optional<AnalyticsException>& exception) {
  if (!exception) return std::nullopt;
  return AnalyticsExceptionParser::exceptionDescription(*exception, 150);
}

std::optional<std::string> AnalyticsUtil::descriptionFromError(
    const std::optional<platform::Error>& error) {
  if (!error) return std::nullopt;
  return error->domain() + " " + std::to_string(error->code()) + ": " +
         error->localizedDescription();
}
