#pragma once
// TAGRegex ("_re"): true when arg1 is empty, or the regular expression arg1 (ICU's dialect)
// finds a match anywhere in arg0; case-insensitive when "ignore_case" converts to true. A
// pattern that does not compile, and a search that runs into the matching limits, are false
// and not logged.

#include <string>

#include "tagmanager/predicates/TAGStringPredicate.h"

class TAGRegex : public TAGStringPredicate {
 public:
  static const char* functionId() { return "_re"; }
  static const char* ignoreCaseKey() { return "ignore_case"; }
  TAGRegex() : TAGStringPredicate(functionId()) {}

  bool evaluateWithArg0(const std::string& arg0, const std::string& arg1,
                        const TAGPropertyMap& parameters) override;
};
