#pragma once
// AnalyticsExceptionParser: the short description of an exception that exception hits carry:
// its name, then "\nTrace:" and one line per symbol of its call stack (the first two frames,
// the throwing machinery's, are skipped), cut to a maximum length.

#include <optional>
#include <string>

#include "analytics/AnalyticsException.h"

class AnalyticsExceptionParser {
 public:
  AnalyticsExceptionParser() = delete;

  // `maxLength` counts UTF-16 code units, 0 for no limit; a character is never cut in two.
  static std::string exceptionDescription(const AnalyticsException& exception, unsigned maxLength);
  // The symbol of one listing line "<index> <image> <address> <symbol> + <offset>": the symbol
  // alone, or two words for a method name that the listing splits at its blank. Absent for a
  // line of fewer than five words and for the exception-raising machinery's frames.
  static std::optional<std::string> symbolFromStackFrame(const std::string& frame);
};
