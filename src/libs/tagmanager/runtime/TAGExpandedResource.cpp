#include "tagmanager/runtime/TAGExpandedResource.h"

#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"

TAGExpandedResourceBuilder TAGExpandedResource::builder() { return TAGExpandedResourceBuilder(); }

TAGExpandedResource::TAGExpandedResource(std::vector<TAGRuleRef> rules, Macros macros,
                                         std::string version, std::int32_t resourceFormatVersion)
    : _rules(std::move(rules)),
      _macros(std::move(macros)),
      _version(std::move(version)),
      _resourceFormatVersion(resourceFormatVersion) {}

const TAGExpandedRule::Calls* TAGExpandedResource::macrosByName(const std::string& name) const {
  auto it = _macros.find(name);
  return it == _macros.end() ? nullptr : &it->second;
}

std::string TAGExpandedResource::description() const {
  std::string rules = "(";
  for (std::size_t i = 0; i < _rules.size(); ++i)
    rules += (i ? ", " : "") + _rules[i]->description();
  std::string macros = "{";
  for (const auto& [name, calls] : _macros) {
    macros += name + " = (";
    for (std::size_t i = 0; i < calls.size(); ++i)
      macros += (i ? ", " : "") + calls[i]->description();
    macros += "); ";
  }
  return "Rules: " + rules + ")  Macros: " + macros + "}  Version: " + _version +
         " Format: " + std::to_string(_resourceFormatVersion);
}
