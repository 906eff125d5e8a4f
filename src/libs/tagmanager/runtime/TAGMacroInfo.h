#pragma once
// TAGMacroInfo: what the runtime knows of one macro name: the rules that add or remove calls of
// that name, per rule the calls it adds and those it removes when it passes, and the default
// call used when no rule selects one. Filled while the runtime is made, read-only afterwards.

#include <map>
#include <memory>
#include <set>

#include "tagmanager/runtime/TAGExpandedRule.h"

class TAGMacroInfo {
 public:
  using CallsByRule = std::map<TAGRuleRef, TAGFunctionCallSet>;

  std::set<TAGRuleRef>& rules() { return _rules; }
  const std::set<TAGRuleRef>& rules() const { return _rules; }
  const CallsByRule& addMacros() const { return _addMacros; }
  const CallsByRule& removeMacros() const { return _removeMacros; }
  // Null when there is none.
  const std::shared_ptr<TAGExpandedFunctionCall>& defaultFunctionCall() const {
    return _defaultFunctionCall;
  }
  void setDefaultFunctionCall(std::shared_ptr<TAGExpandedFunctionCall> call) {
    _defaultFunctionCall = std::move(call);
  }

  void addAddMacro(std::shared_ptr<TAGExpandedFunctionCall> call, const TAGRuleRef& rule) {
    _addMacros[rule].insert(std::move(call));
  }
  void addRemoveMacro(std::shared_ptr<TAGExpandedFunctionCall> call, const TAGRuleRef& rule) {
    _removeMacros[rule].insert(std::move(call));
  }

 private:
  std::set<TAGRuleRef> _rules;
  CallsByRule _addMacros;
  CallsByRule _removeMacros;
  std::shared_ptr<TAGExpandedFunctionCall> _defaultFunctionCall;
};
