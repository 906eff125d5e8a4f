#include "tagmanager/container/TAGResourceUtil.h"

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/runtime/TAGExpandedFunctionCallBuilder.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/runtime/TAGExpandedRuleBuilder.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

std::string describe(const std::set<std::uint32_t>& indices) {
  std::string text = "{(";
  for (auto it = indices.begin(); it != indices.end(); ++it) {
    text += (it == indices.begin() ? "" : ", ") + std::to_string(*it);
  }
  return text + ")}";
}

std::string text(std::int32_t n) { return std::to_string(n); }

template <class IndexList>
TAGExpandedRule::Calls callsAt(const IndexList& indices, const TAGExpandedRule::Calls& calls,
                               const char* listName) {
  TAGExpandedRule::Calls selected;
  for (std::int32_t i : indices) {
    selected.push_back(TAGResourceUtil::objectWithNSArrayBoundsCheck(
        calls, static_cast<std::uint32_t>(i), listName));
  }
  return selected;
}

}  // namespace

std::string TAGResourceUtil::summaryOfResource(const tagpb::TAGPResource& resource) {
  std::string text = std::to_string(resource.ByteSizeLong()) + " bytes, ";
  if (!resource.has_version()) return text + "no version";
  const std::string& version = resource.version();
  if (version.size() <= kMaxLoggedVersionBytes) return text + "version \"" + version + "\"";
  return text + "version \"" + version.substr(0, kMaxLoggedVersionBytes) + "...\" (" +
         std::to_string(version.size()) + " bytes)";
}

void TAGResourceUtil::logAndThrow(const std::string& message) {
  TAGLog::error(message);
  throw platform::Exception(kTAGInvalidResourceException, "Resource is invalid");
}

void TAGResourceUtil::checkIndex(std::size_t count, std::uint32_t index, const char* listName) {
  if (index >= count) {
    logAndThrow("Index out of bounds detected: " + text(static_cast<std::int32_t>(index)) + " in " +
                listName);
  }
}

TAGPValue::Builder TAGResourceUtil::valueBuilderBasedOnValue(const TAGPValue& value) {
  TAGPValue::Builder builder;
  builder.setType(value.type()).setEscapingArray(value.escapingArray());
  if (value.hasContainsReferences()) builder.setContainsReferences(value.containsReferences());
  return builder;
}

const TAGPServingValue* TAGResourceUtil::servingValue(const TAGPValue& value) {
  return value.servingValue().get();
}

TAGPValue::Ref TAGResourceUtil::expandIthValue(std::uint32_t index,
                                               const tagpb::TAGPResource& resource,
                                               std::vector<TAGPValue::Ref>& expandedValues,
                                               std::set<std::uint32_t>& pendingExpansions) {
  if (pendingExpansions.count(index)) {
    logAndThrow("Value cycle detected.  Current value reference: " +
                text(static_cast<std::int32_t>(index)) +
                ".  Previous value references: " + describe(pendingExpansions) + ".");
  }
  const tagpb::TAGPValue& message =
      objectWithTAGPBArrayBoundsCheck(resource.value(), index, "value");
  if (expandedValues[index]) return expandedValues[index];
  if (pendingExpansions.size() >= kMaxValueDepth) {
    logAndThrow("Value nesting deeper than " + std::to_string(kMaxValueDepth) +
                " references at value reference: " + text(static_cast<std::int32_t>(index)) + ".");
  }

  TAGPValue::Ref serving = TAGPValue::fromMessage(message);
  pendingExpansions.insert(index);
  auto expand = [&](std::int32_t i) {
    return expandIthValue(static_cast<std::uint32_t>(i), resource, expandedValues,
                          pendingExpansions);
  };
  const TAGPServingValue* ext = servingValue(*serving);
  auto requireExt = [&] {
    if (!ext) logAndThrow("Expected a ServingValue and didn't get one");
  };

  TAGPValue::Ref result;
  switch (serving->type()) {
    case TAGPValue_Type::String:
    case TAGPValue_Type::FunctionId:
    case TAGPValue_Type::Integer:
    case TAGPValue_Type::Boolean:
      result = serving;
      break;
    case TAGPValue_Type::List: {
      requireExt();
      TAGPValue::Builder builder = valueBuilderBasedOnValue(*serving);
      for (std::int32_t i : ext->listItemArray) builder.addListItem(expand(i));
      result = builder.build();
      break;
    }
    case TAGPValue_Type::Map: {
      requireExt();
      if (ext->mapKeyArray.size() != ext->mapValueArray.size()) {
        logAndThrow("Uneven map keys (" + std::to_string(ext->mapKeyArray.size()) +
                    ") and map values (" + std::to_string(ext->mapValueArray.size()) + ")");
      }
      TAGPValue::Builder builder = valueBuilderBasedOnValue(*serving);
      for (std::int32_t i : ext->mapKeyArray) builder.addMapKey(expand(i));
      for (std::int32_t i : ext->mapValueArray) builder.addMapValue(expand(i));
      result = builder.build();
      break;
    }
    case TAGPValue_Type::MacroReference: {
      requireExt();
      if (!ext->macroNameReference) logAndThrow("Missing macro name reference");
      TAGString name = TAGTypes::valueToString(expand(*ext->macroNameReference));
      result = valueBuilderBasedOnValue(*serving).setMacroReference(*name).build();
      break;
    }
    case TAGPValue_Type::Template: {
      requireExt();
      TAGPValue::Builder builder = valueBuilderBasedOnValue(*serving);
      for (std::int32_t i : ext->templateTokenArray) builder.addTemplateToken(expand(i));
      result = builder.build();
      break;
    }
    default:
      logAndThrow("Invalid value: " + serving->description());
  }
  // Values are expanded in index order and kept, so a table whose entries each hold the one
  // before never has more than one expansion in progress, yet its last value is as deep as the
  // table is long. Depth is therefore judged on the value built, from its children's depths.
  if (result->depth() > kMaxValueDepth) {
    logAndThrow("Value nesting deeper than " + std::to_string(kMaxValueDepth) +
                " references at value reference: " + text(static_cast<std::int32_t>(index)) + ".");
  }
  if (result->serializedSize() > kMaxValueBytes) {
    logAndThrow("Value reference " + text(static_cast<std::int32_t>(index)) +
                " expands to more than " + std::to_string(kMaxValueBytes) + " bytes.");
  }
  expandedValues[index] = result;
  pendingExpansions.erase(index);
  return result;
}

std::shared_ptr<TAGExpandedFunctionCall> TAGResourceUtil::expandFunctionCall(
    const tagpb::TAGPFunctionCall& call, const tagpb::TAGPResource& resource,
    const std::vector<TAGPValue::Ref>& expandedValues, std::size_t /*index*/) {
  TAGExpandedFunctionCallBuilder builder;
  for (std::int32_t propertyIndex : call.property()) {
    const tagpb::TAGPProperty& property = objectWithTAGPBArrayBoundsCheck(
        resource.property(), static_cast<std::uint32_t>(propertyIndex), "properties");
    const std::string& key = objectWithTAGPBArrayBoundsCheck(
        resource.key(), static_cast<std::uint32_t>(property.key()), "keys");
    const TAGPValue::Ref& value = objectWithNSArrayBoundsCheck(
        expandedValues, static_cast<std::uint32_t>(property.value()), "values");
    builder.addPropertyWithValue(value, key);
  }
  return builder.build();
}

TAGRuleRef TAGResourceUtil::expandRule(const tagpb::TAGPRule& rule,
                                       const TAGExpandedRule::Calls& tags,
                                       const TAGExpandedRule::Calls& macros,
                                       const TAGExpandedRule::Calls& predicates) {
  TAGExpandedRuleBuilder builder;
  for (auto& call : callsAt(rule.positive_predicate(), predicates, "predicates")) {
    builder.addPositivePredicate(call);
  }
  for (auto& call : callsAt(rule.negative_predicate(), predicates, "predicates")) {
    builder.addNegativePredicate(call);
  }
  for (auto& call : callsAt(rule.add_tag(), tags, "tags")) builder.addAddTag(call);
  for (auto& call : callsAt(rule.remove_tag(), tags, "tags")) builder.addRemoveTag(call);
  for (auto& call : callsAt(rule.add_macro(), macros, "macros")) builder.addAddMacro(call);
  for (auto& call : callsAt(rule.remove_macro(), macros, "macros")) builder.addRemoveMacro(call);
  return builder.build();
}

std::shared_ptr<const TAGExpandedResource> TAGResourceUtil::expandResource(
    const tagpb::TAGPResource& resource) {
  std::vector<TAGPValue::Ref> expandedValues(static_cast<std::size_t>(resource.value_size()));
  for (std::size_t i = 0; i < expandedValues.size(); ++i) {
    std::set<std::uint32_t> pending;
    expandIthValue(static_cast<std::uint32_t>(i), resource, expandedValues, pending);
  }

  auto expandCalls = [&](const google::protobuf::RepeatedPtrField<tagpb::TAGPFunctionCall>& calls) {
    TAGExpandedRule::Calls expanded;
    for (int i = 0; i < calls.size(); ++i) {
      expanded.push_back(
          expandFunctionCall(calls.Get(i), resource, expandedValues, static_cast<std::size_t>(i)));
    }
    return expanded;
  };
  TAGExpandedRule::Calls tags = expandCalls(resource.tag());
  TAGExpandedRule::Calls predicates = expandCalls(resource.predicate());
  TAGExpandedRule::Calls macros = expandCalls(resource.macro());

  TAGExpandedResourceBuilder builder;
  for (const auto& macro : macros) builder.addMacro(macro);
  for (const auto& rule : resource.rule())
    builder.addRule(expandRule(rule, tags, macros, predicates));
  builder.setVersion(resource.version())
      .setResourceFormatVersion(resource.resource_format_version());
  return builder.build();
}
