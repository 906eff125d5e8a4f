#pragma once
// TAGExpandedResourceBuilder: collects an expanded resource: rules in order, macro calls grouped
// under the text of their "instance_name" property, the version ("" unless set) and the format
// version (0 unless set).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tagmanager/runtime/TAGExpandedResource.h"

class TAGExpandedResourceBuilder {
 public:
  TAGExpandedResourceBuilder& addRule(TAGRuleRef rule);
  TAGExpandedResourceBuilder& addMacro(std::shared_ptr<TAGExpandedFunctionCall> macro);
  TAGExpandedResourceBuilder& setVersion(std::string version);
  TAGExpandedResourceBuilder& setResourceFormatVersion(std::int32_t resourceFormatVersion);

  std::shared_ptr<const TAGExpandedResource> build();

 private:
  std::vector<TAGRuleRef> rules_;
  TAGExpandedResource::Macros macros_;
  std::string _version;
  std::int32_t _resourceFormatVersion = 0;
};
