#pragma once
// TAGLanguage ("_l"): the first of the user's preferred languages, lower-cased; the default
// value when there is none. Not cacheable (the user may change it). Any thread.

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/runtime/TAGFunctionCallImplementation.h"
#include "tagmanager/values/TAGTypes.h"

class TAGLanguage : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_l"; }
  TAGLanguage() : TAGFunctionCallImplementation(functionId(), std::set<std::string>{}) {}

  bool isCacheable() const override { return false; }
  TAGPValue::Ref evaluate(const TAGPropertyMap&) override {
    std::vector<std::string> languages = preferredLanguages();
    if (languages.empty()) return TAGTypes::defaultValue();
    std::string language = languages.front();
    for (char& c : language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return TAGTypes::objectToValue(TAGObject::string(std::move(language)));
  }

  std::vector<std::string> preferredLanguages() const {
    return TAGPlatformFacts::shared()->preferredLanguages();
  }
};
