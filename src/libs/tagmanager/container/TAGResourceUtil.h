#pragma once
// TAGResourceUtil: turns a container resource from its serving form (flat tables that point into
// each other by index) into the expanded resource the runtime evaluates, once per loaded
// resource.
//
// Every value index is expanded once and then shared by all its references, so shared subtrees
// cost nothing extra. Any defect makes the whole resource invalid: an index out of range (rule
// index lists included), a value that refers to itself, a map with uneven keys and values, a
// composite value without its serving form, a macro reference without its name, a value nested
// deeper than kMaxValueDepth references or larger unfolded than kMaxValueBytes. The defect is
// logged at error level and raised as platform::Exception "InvalidResourceException" with the
// reason "Resource is invalid"; nothing built so far is kept.
//
// Stateless; any thread may call.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tagmanager/proto/serving.pb.h"
#include "tagmanager/runtime/TAGExpandedResource.h"
#include "tagmanager/values/TAGPValue.h"

class TAGResourceUtil {
 public:
  TAGResourceUtil() = delete;

  // How many levels deep one expanded value may be (a value without children is one level).
  // Expansion recurses once per level, and so does everything that walks a value, so a crafted
  // resource cannot run the stack out.
  static constexpr std::size_t kMaxValueDepth = 100;
  // How large one value may be with every shared subtree written out in full (its serialised
  // length): everything that walks a value as a tree (conversions, texts, caches) is then
  // bounded, however much the resource shares.
  static constexpr std::size_t kMaxValueBytes = 1 << 20;

  static std::shared_ptr<const TAGExpandedResource> expandResource(
      const tagpb::TAGPResource& resource);

  // The expanded value at `index`; `expandedValues` holds one entry per value of the resource
  // (null until expanded), `pendingExpansions` the indices being expanded further up.
  static TAGPValue::Ref expandIthValue(std::uint32_t index, const tagpb::TAGPResource& resource,
                                       std::vector<TAGPValue::Ref>& expandedValues,
                                       std::set<std::uint32_t>& pendingExpansions);
  // `index` is the call's position in its list; it is not used.
  static std::shared_ptr<TAGExpandedFunctionCall> expandFunctionCall(
      const tagpb::TAGPFunctionCall& call, const tagpb::TAGPResource& resource,
      const std::vector<TAGPValue::Ref>& expandedValues, std::size_t index);
  static TAGRuleRef expandRule(const tagpb::TAGPRule& rule, const TAGExpandedRule::Calls& tags,
                               const TAGExpandedRule::Calls& macros,
                               const TAGExpandedRule::Calls& predicates);

  // A new, empty builder carrying over only the type, the escapings and (when set)
  // containsReferences.
  static TAGPValue::Builder valueBuilderBasedOnValue(const TAGPValue& value);
  // The node's serving extension, or null.
  static const TAGPServingValue* servingValue(const TAGPValue& value);

  // The element at `index` (an int32 index read as unsigned, so a negative one is out of range),
  // or an invalid resource ("Index out of bounds detected: %d in %@").
  template <class Element>
  static const Element& objectWithTAGPBArrayBoundsCheck(
      const google::protobuf::RepeatedPtrField<Element>& list, std::uint32_t index,
      const char* listName) {
    checkIndex(static_cast<std::size_t>(list.size()), index, listName);
    return list.Get(static_cast<int>(index));
  }
  template <class Element>
  static const Element& objectWithNSArrayBoundsCheck(const std::vector<Element>& list,
                                                     std::uint32_t index, const char* listName) {
    checkIndex(list.size(), index, listName);
    return list[index];
  }

  // A resource as log lines name it: its size and version ("3800000 bytes, version \"12\""),
  // never its content: a container may be megabytes, and its text form many times that.
  static std::string summaryOfResource(const tagpb::TAGPResource& resource);
  // The most of a version a summary shows.
  static constexpr std::size_t kMaxLoggedVersionBytes = 64;

  // Logs `message` at error level and raises the invalid-resource exception.
  [[noreturn]] static void logAndThrow(const std::string& message);

 private:
  static void checkIndex(std::size_t count, std::uint32_t index, const char* listName);
};
