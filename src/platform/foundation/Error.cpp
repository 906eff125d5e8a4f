#include "platform/foundation/Error.h"

#include <cstring>

namespace platform {

Error Error::withDescription(std::string domain, std::int64_t code, std::string description) {
  return Error(std::move(domain), code, {{kLocalizedDescriptionKey, std::move(description)}});
}

Error Error::posix(int errnoValue, std::string failureReason) {
  char buffer[256];
  // The GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(errnoValue, buffer, sizeof buffer);
  Dictionary info{{kLocalizedDescriptionKey, std::string(text)}};
  if (!failureReason.empty()) info[kLocalizedFailureReasonKey] = std::move(failureReason);
  return Error(kPOSIXErrorDomain, errnoValue, std::move(info));
}

std::string Error::localizedDescription() const {
  if (auto* v = find(userInfo_, kLocalizedDescriptionKey); v && v->asText()) return *v->asText();
  return "The operation couldn\u2019t be completed. (" + domain_ + " error " +
         std::to_string(code_) + ".)";
}

}  // namespace platform
