#pragma once
// TAGExpandedResource: a container resource as the runtime evaluates it: its rules in resource
// order, its macro calls grouped by macro name (each name's calls in resource order), and the
// resource's version texts. Immutable once built; any thread may read it.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tagmanager/runtime/TAGExpandedRule.h"

class TAGExpandedResourceBuilder;

class TAGExpandedResource {
 public:
  using Macros = std::map<std::string, TAGExpandedRule::Calls>;

  static TAGExpandedResourceBuilder builder();

  TAGExpandedResource(std::vector<TAGRuleRef> rules, Macros macros, std::string version,
                      std::int32_t resourceFormatVersion);

  const std::vector<TAGRuleRef>& rules() const { return _rules; }
  const Macros& macros() const { return _macros; }
  const Macros& allMacros() const { return _macros; }
  // The calls of one macro name; null when the resource has none of that name.
  const TAGExpandedRule::Calls* macrosByName(const std::string& name) const;
  const std::string& version() const { return _version; }
  std::int32_t resourceFormatVersion() const { return _resourceFormatVersion; }

  // "Rules: ...  Macros: ...  Version: ... Format: ...".
  std::string description() const;

 private:
  const std::vector<TAGRuleRef> _rules;
  const Macros _macros;
  const std::string _version;
  const std::int32_t _resourceFormatVersion;
};
