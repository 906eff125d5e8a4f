#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"

#include "tagmanager/values/TAGTypes.h"

TAGExpandedResourceBuilder& TAGExpandedResourceBuilder::addRule(TAGRuleRef rule) {
  rules_.push_back(std::move(rule));
  return *this;
}

TAGExpandedResourceBuilder& TAGExpandedResourceBuilder::addMacro(
    std::shared_ptr<TAGExpandedFunctionCall> macro) {
  TAGString name =
      TAGTypes::valueToString(macro->propertyForKey(TAGExpandedFunctionCall::instanceNameKey()));
  macros_[*name].push_back(std::move(macro));
  return *this;
}

TAGExpandedResourceBuilder& TAGExpandedResourceBuilder::setVersion(std::string version) {
  _version = std::move(version);
  return *this;
}

TAGExpandedResourceBuilder& TAGExpandedResourceBuilder::setResourceFormatVersion(
    std::int32_t resourceFormatVersion) {
  _resourceFormatVersion = resourceFormatVersion;
  return *this;
}

std::shared_ptr<const TAGExpandedResource> TAGExpandedResourceBuilder::build() {
  return std::make_shared<const TAGExpandedResource>(std::move(rules_), std::move(macros_),
                                                     std::move(_version), _resourceFormatVersion);
}
