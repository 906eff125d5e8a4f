#include "analytics/AnalyticsError.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/foundation/Value.h"

namespace {

std::string formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  return std::string(text.data(), static_cast<std::size_t>(length));
}

}  // namespace

platform::Error AnalyticsError::errorWithCode(std::int64_t code) {
  return platform::Error(kAnalyticsErrorDomain, code);
}

platform::Error AnalyticsError::errorWithCode(std::int64_t code, const std::string& description) {
  return platform::Error(kAnalyticsErrorDomain, code,
                         {{platform::kLocalizedDescriptionKey, description}});
}

platform::Error AnalyticsError::errorWithCodeWithFormat(std::int64_t code, const char* format,
                                                        ...) {
  va_list args;
  va_start(args, format);
  std::string description = formatted(format, args);
  va_end(args);
  return errorWithCode(code, description);
}

platform::Error AnalyticsError::errorWithCode(std::int64_t code, const std::string& failedFilePath,
                                              const std::string& description) {
  return platform::Error(kAnalyticsErrorDomain, code,
                         {{platform::kLocalizedDescriptionKey, description},
                          {kAnalyticsFilePathErrorKey, failedFilePath}});
}

platform::Error AnalyticsError::errorWithCodeWithFailedFilePathWithFormat(std::int64_t code,
                                                                          const std::string& path,
                                                                          const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string description = formatted(format, args);
  va_end(args);
  return errorWithCode(code, path, description);
}

platform::Error AnalyticsError::errorWithCode(std::int64_t code,
                                              const platform::Error& underlyingError,
                                              const std::string& description) {
  auto underlying = std::make_shared<platform::Error>(underlyingError);
  return platform::Error(kAnalyticsErrorDomain, code,
                         {{platform::kLocalizedDescriptionKey, description},
                          {platform::kUnderlyingErrorKey, platform::Value::object(underlying)}});
}

platform::Error AnalyticsError::errorWithCodeWithUnderlyingErrorWithFormat(
    std::int64_t code, const platform::Error& underlyingError, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string description = formatted(format, args);
  va_end(args);
  return errorWithCode(code, underlyingError, description);
}
