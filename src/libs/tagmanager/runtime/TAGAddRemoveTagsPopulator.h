#pragma once
// TAGAddRemoveTagsPopulator: a passed rule adds its add-tags and removes its remove-tags.

#include "tagmanager/runtime/TAGAddRemoveSetPopulator.h"

class TAGAddRemoveTagsPopulator : public TAGAddRemoveSetPopulator {
 public:
  void rulePassed(const TAGRuleRef& rule, TAGFunctionCallSet& add,
                  TAGFunctionCallSet& remove) const override {
    add.insert(rule->addTags().begin(), rule->addTags().end());
    remove.insert(rule->removeTags().begin(), rule->removeTags().end());
  }
};
