#pragma once
// TAGAddRemoveMacrosPopulator: for one macro name, a passed rule adds the calls of that name it
// adds and removes those it removes (its entries in the name's TAGMacroInfo). Holds references
// into the info, which outlives every selection.

#include "tagmanager/runtime/TAGAddRemoveSetPopulator.h"
#include "tagmanager/runtime/TAGMacroInfo.h"

class TAGAddRemoveMacrosPopulator : public TAGAddRemoveSetPopulator {
 public:
  TAGAddRemoveMacrosPopulator(const TAGMacroInfo::CallsByRule& addMacros,
                              const TAGMacroInfo::CallsByRule& removeMacros)
      : addMacros_(addMacros), removeMacros_(removeMacros) {}

  void rulePassed(const TAGRuleRef& rule, TAGFunctionCallSet& add,
                  TAGFunctionCallSet& remove) const override {
    if (auto it = addMacros_.find(rule); it != addMacros_.end()) {
      add.insert(it->second.begin(), it->second.end());
    }
    if (auto it = removeMacros_.find(rule); it != removeMacros_.end()) {
      remove.insert(it->second.begin(), it->second.end());
    }
  }

 private:
  const TAGMacroInfo::CallsByRule& addMacros_;
  const TAGMacroInfo::CallsByRule& removeMacros_;
};
