#pragma once
// TAGAddRemoveSetPopulator: what a passed rule contributes when the runtime selects calls: the
// calls it adds and those it removes. One rule loop serves tags and macro calls alike.

#include "tagmanager/runtime/TAGExpandedFunctionCall.h"
#include "tagmanager/runtime/TAGExpandedRule.h"

class TAGAddRemoveSetPopulator {
 public:
  virtual ~TAGAddRemoveSetPopulator() = default;
  virtual void rulePassed(const TAGRuleRef& rule, TAGFunctionCallSet& add,
                          TAGFunctionCallSet& remove) const = 0;
};
