#include "tagmanager/runtime/TAGExpandedRule.h"

#include "tagmanager/runtime/TAGExpandedRuleBuilder.h"

namespace {

std::string describe(const TAGExpandedRule::Calls& calls) {
  std::string text = "(";
  for (std::size_t i = 0; i < calls.size(); ++i) {
    text += (i ? ", " : "") + calls[i]->description();
  }
  return text + ")";
}

}  // namespace

TAGExpandedRuleBuilder TAGExpandedRule::builder() { return TAGExpandedRuleBuilder(); }

TAGExpandedRule::TAGExpandedRule(Calls positivePredicates, Calls negativePredicates, Calls addTags,
                                 Calls removeTags, Calls addMacros, Calls removeMacros)
    : _positivePredicates(std::move(positivePredicates)),
      _negativePredicates(std::move(negativePredicates)),
      _addTags(std::move(addTags)),
      _removeTags(std::move(removeTags)),
      _addMacros(std::move(addMacros)),
      _removeMacros(std::move(removeMacros)) {}

std::string TAGExpandedRule::description() const {
  return "Positive predicates: " + describe(_positivePredicates) +
         "  Negative predicates: " + describe(_negativePredicates) +
         "  Add tags: " + describe(_addTags) + "  Remove tags: " + describe(_removeTags) +
         "  Add macros: " + describe(_addMacros) + "  Remove macros: " + describe(_removeMacros);
}
