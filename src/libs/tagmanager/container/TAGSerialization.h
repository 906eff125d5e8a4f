#pragma once
// TAGSerialization: a default container shipped as a JSON or property-list file instead of a
// binary resource. Such a file is one flat map of constants; every top-level entry becomes one
// constant macro ("_c") named by its key, in an expanded resource with no rules and no tags.
//
// Values keep their kinds: booleans become Boolean values, integers Integer values, numbers with
// a fraction String values of their text, texts String values, and maps Map values. Lists, nulls
// and other kinds (dates, bytes) raise platform::Exception "NotSupportedException" ("Type <kind>
// is not supported"); the loaders catch it and use no default container. A top level that is
// not a map gives a resource without macros.
//
// Stateless; any thread.

#include <memory>
#include <optional>
#include <string_view>

#include "platform/foundation/Value.h"
#include "tagmanager/runtime/TAGExpandedResource.h"
#include "tagmanager/values/TAGObject.h"

class TAGSerialization {
 public:
  TAGSerialization() = delete;

  // Parses a JSON text (any value at the top level); text that does not parse counts as none.
  static std::shared_ptr<const TAGExpandedResource> expandResourceFromData(std::string_view data);
  // The parsed content of a JSON or property-list file; none when nothing was parsed.
  static std::shared_ptr<const TAGExpandedResource> expandedResourceFromDeserializedObject(
      const std::optional<platform::Value>& object);
  static TAGPValue::Ref deserializedObjectToValue(const std::optional<platform::Value>& object);
  // The object as the value conversions take it; raises for kinds a container cannot hold.
  static TAGObject deserializedObjectToNSObject(const std::optional<platform::Value>& object);
};
