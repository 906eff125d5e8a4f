#pragma once
// Error: the value every failure is reported with: a domain text, an integer code and a
// user-info dictionary. Handed back where a caller expects an error object; "no error" is an
// empty std::optional<Error> or a null pointer.

#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

// Well-known user-info keys and domains, as the platform spells them.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kLocalizedRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kURLErrorKey = "NSErrorFailingURLKey";
inline constexpr const char* kURLErrorStringKey = "NSErrorFailingURLStringKey";
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

class Error {
 public:
  Error() = default;
  Error(std::string domain, std::int64_t code, Dictionary userInfo = {})
      : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

  // An error of `domain` and `code` whose description is `description`.
  static Error withDescription(std::string domain, std::int64_t code, std::string description);
  // A POSIX-domain error for `errnoValue`, described by the system's text for it.
  static Error posix(int errnoValue, std::string failureReason = {});

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  const Dictionary& userInfo() const { return userInfo_; }
  Dictionary& userInfo() { return userInfo_; }

  // The user-info description, or the platform's generic sentence naming domain and code.
  std::string localizedDescription() const;

  bool operator==(const Error& other) const {
    return domain_ == other.domain_ && code_ == other.code_ && userInfo_ == other.userInfo_;
  }

 private:
  std::string domain_;
  std::int64_t code_ = 0;
  Dictionary userInfo_;
};

}  // namespace platform
