#pragma once
// TAGRegexGroup ("_reg"): one capture group of the first match of the regular expression "arg1"
// (ICU's dialect) in "arg0": group "group" (1 unless given; 0 is the whole match), matched
// case-insensitively when "ignore_case" is true. No match, a group the pattern does not have or
// that took no part in the match, a negative group and a search cut off by the matching limits
// give the default value; so do a group that is no number and a pattern that does not compile,
// with an error line. Any thread.

#include <set>
#include <string>

#include "tagmanager/runtime/TAGFunctionCallImplementation.h"

class TAGRegexGroup : public TAGFunctionCallImplementation {
 public:
  static const char* functionId() { return "_reg"; }
  static const char* toMatchKey() { return "arg0"; }
  static const char* regexKey() { return "arg1"; }
  static const char* ignoreCaseKey() { return "ignore_case"; }
  static const char* groupKey() { return "group"; }
  TAGRegexGroup()
      : TAGFunctionCallImplementation(functionId(),
                                      std::set<std::string>{toMatchKey(), regexKey()}) {}

  bool isCacheable() const override { return true; }
  TAGPValue::Ref evaluate(const TAGPropertyMap& parameters) override;
};
