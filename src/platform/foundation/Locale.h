#pragma once
// Locale: the user's language and region, as the platform's locale reports them. On Linux they
// come from the environment: LANGUAGE lists the preferred languages, and the first of LC_ALL,
// LC_MESSAGES and LANG that is set names the current locale ("zh_CN.UTF-8"). "C" and "POSIX"
// name no language and no region.

#include <optional>
#include <string>
#include <vector>

namespace platform {

class Locale {
 public:
  // The preferred languages, most wanted first, as language codes ("zh", "en"); empty when the
  // environment names none.
  static std::vector<std::string> preferredLanguages();
  // The current locale's identifier without encoding or modifier ("zh_CN"); empty for none.
  static std::string currentIdentifier();
  // The region of a locale identifier ("CN" of "zh_CN"), absent when it names none.
  static std::optional<std::string> countryCode(const std::string& identifier);
};

}  // namespace platform
