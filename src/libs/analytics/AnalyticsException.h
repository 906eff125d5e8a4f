#pragma once
// AnalyticsException: what the SDK knows of an exception it reports: a name (the exception's
// class, or the name a platform::Exception carries), a reason (its message) and the call stack
// where it was thrown, one line per frame in the platform's listing form
// "<index> <image> <address> <symbol> + <offset>".

#include <exception>
#include <optional>
#include <string>
#include <vector>

struct AnalyticsException {
  std::string name;
  std::string reason;
  std::vector<std::string> callStackSymbols;

  // The name and reason of a caught exception (no stack).
  static AnalyticsException fromException(const std::exception& exception);
  // The exception being handled (inside a catch block or a terminate handler), with the given
  // stack; absent when there is none.
  static std::optional<AnalyticsException> current(std::vector<std::string> callStackSymbols);
  // The calling thread's stack in the listing form, innermost frame first, without the frames
  // of this function itself.
  static std::vector<std::string> captureCallStack();
};
