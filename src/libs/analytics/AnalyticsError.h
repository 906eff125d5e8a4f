#pragma once
// AnalyticsError: errors of the usage analytics' own domain, with a description, a failed file
// path or an underlying error in their user info. Nothing in the system makes one yet; they are
// kept for the SDK's callers.

#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

inline constexpr const char* kAnalyticsErrorDomain = "com.chengheng.analytics.ErrorDomain";
inline constexpr const char* kAnalyticsFilePathErrorKey = "NSFilePath";

class AnalyticsError {
 public:
  AnalyticsError() = delete;

  static platform::Error errorWithCode(std::int64_t code);
  static platform::Error errorWithCode(std::int64_t code, const std::string& description);
  static platform::Error errorWithCodeWithFormat(std::int64_t code, const char* format, ...)
      __attribute__((format(printf, 2, 3)));
  static platform::Error errorWithCode(std::int64_t code, const std::string& failedFilePath,
                                       const std::string& description);
  static platform::Error errorWithCodeWithFailedFilePathWithFormat(std::int64_t code,
                                                                   const std::string& path,
                                                                   const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static platform::Error errorWithCode(std::int64_t code, const platform::Error& underlyingError,
                                       const std::string& description);
  static platform::Error errorWithCodeWithUnderlyingErrorWithFormat(
      std::int64_t code, const platform::Error& underlyingError, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
};
