#pragma once
// TAGExpandedRuleBuilder: collects a rule's six lists of calls, one call at a time, and hands
// them to the rule it builds.

#include <memory>

#include "tagmanager/runtime/TAGExpandedRule.h"

class TAGExpandedRuleBuilder {
 public:
  using Call = std::shared_ptr<TAGExpandedFunctionCall>;

  TAGExpandedRuleBuilder& addPositivePredicate(Call call) { return add(positivePredicates_, call); }
  TAGExpandedRuleBuilder& addNegativePredicate(Call call) { return add(negativePredicates_, call); }
  TAGExpandedRuleBuilder& addAddTag(Call call) { return add(addTags_, call); }
  TAGExpandedRuleBuilder& addRemoveTag(Call call) { return add(removeTags_, call); }
  TAGExpandedRuleBuilder& addAddMacro(Call call) { return add(addMacros_, call); }
  TAGExpandedRuleBuilder& addRemoveMacro(Call call) { return add(removeMacros_, call); }

  std::shared_ptr<const TAGExpandedRule> build() {
    return std::make_shared<const TAGExpandedRule>(
        std::move(positivePredicates_), std::move(negativePredicates_), std::move(addTags_),
        std::move(removeTags_), std::move(addMacros_), std::move(removeMacros_));
  }

 private:
  TAGExpandedRuleBuilder& add(TAGExpandedRule::Calls& list, Call& call) {
    list.push_back(std::move(call));
    return *this;
  }

  TAGExpandedRule::Calls positivePredicates_;
  TAGExpandedRule::Calls negativePredicates_;
  TAGExpandedRule::Calls addTags_;
  TAGExpandedRule::Calls removeTags_;
  TAGExpandedRule::Calls addMacros_;
  TAGExpandedRule::Calls removeMacros_;
};
