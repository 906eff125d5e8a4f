#include "platform/foundation/Locale.h"

#include <cstdlib>

namespace platform {

namespace {

// "zh_CN.UTF-8@euro" without encoding and modifier; empty for "C" and "POSIX".
std::string identifierOf(std::string text) {
  text = text.substr(0, text.find_first_of(".@"));
  if (text == "C" || text == "POSIX") return {};
  return text;
}

std::string languageOf(const std::string& identifier) {
  return identifier.substr(0, identifier.find_first_of("_-"));
}

const char* nonEmptyVariable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

}  // namespace

std::string Locale::currentIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = nonEmptyVariable(name)) return identifierOf(value);
  }
  return {};
}

std::vector<std::string> Locale::preferredLanguages() {
  std::vector<std::string> languages;
  auto add = [&](const std::string& identifier) {
    std::string language = languageOf(identifierOf(identifier));
    if (language.empty()) return;
    for (const auto& known : languages) {
      if (known == language) return;
    }
    languages.push_back(language);
  };
  if (const char* list = nonEmptyVariable("LANGUAGE")) {
    std::string text = list;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find(':', start);
      if (end == std::string::npos) end = text.size();
      add(text.substr(start, end - start));
      start = end + 1;
    }
  }
  add(currentIdentifier());
  return languages;
}

std::optional<std::string> Locale::countryCode(const std::string& identifier) {
  std::string bare = identifierOf(identifier);
  std::size_t separator = bare.find_first_of("_-");
  if (separator == std::string::npos || separator + 1 >= bare.size()) return std::nullopt;
  return bare.substr(separator + 1);
}

}  // namespace platform
