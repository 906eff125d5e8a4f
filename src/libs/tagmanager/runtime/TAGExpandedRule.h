#pragma once
// TAGExpandedRule: one rule of an expanded resource: the predicates that decide whether it
// passes (positive ones must all hold, negative ones must all fail) and the tags and macro
// calls it adds or removes when it does. Rules are shared and known by identity (the runtime
// keys its macro bookkeeping on the rule object). Immutable; any thread may read one.

#include <memory>
#include <string>
#include <vector>

#include "tagmanager/runtime/TAGExpandedFunctionCall.h"

class TAGExpandedRuleBuilder;

class TAGExpandedRule {
 public:
  using Calls = std::vector<std::shared_ptr<TAGExpandedFunctionCall>>;

  static TAGExpandedRuleBuilder builder();

  TAGExpandedRule(Calls positivePredicates, Calls negativePredicates, Calls addTags,
                  Calls removeTags, Calls addMacros, Calls removeMacros);

  const Calls& positivePredicates() const { return _positivePredicates; }
  const Calls& negativePredicates() const { return _negativePredicates; }
  const Calls& addTags() const { return _addTags; }
  const Calls& removeTags() const { return _removeTags; }
  const Calls& addMacros() const { return _addMacros; }
  const Calls& removeMacros() const { return _removeMacros; }

  // "Positive predicates: ...  Negative predicates: ...  Add tags: ...  Remove tags: ...  Add
  // macros: ...  Remove macros: ...".
  std::string description() const;

 private:
  const Calls _positivePredicates;
  const Calls _negativePredicates;
  const Calls _addTags;
  const Calls _removeTags;
  const Calls _addMacros;
  const Calls _removeMacros;
};

using TAGRuleRef = std::shared_ptr<const TAGExpandedRule>;
