#pragma once
// TAGExpandedFunctionCall: one macro, tag or predicate call of an expanded resource: a map from
// property key to value. The function id travels as the property "function", a macro's name as
// "instance_name".
//
// Calls are shared and known by identity: the runtime caches results per call object, and keeps
// a static expansion of a property by writing it back into the call
// (`updateCacheablePropertyWithValue`). That write may come from any thread evaluating the
// container, so the map is guarded and every read hands out a snapshot.

#include <cstddef>
#include <memory>
#include <set>
#include <string>

#include "platform/foundation/Mutex.h"
#include "tagmanager/values/TAGPValue.h"

class TAGExpandedFunctionCallBuilder;

class TAGExpandedFunctionCall {
 public:
  static const char* functionKey() { return "function"; }
  static const char* instanceNameKey() { return "instance_name"; }
  static const char* notDefaultMacroKey() { return "not_default_macro"; }

  static TAGExpandedFunctionCallBuilder builder();

  // Keeps its own copy of the map (the values are shared).
  explicit TAGExpandedFunctionCall(TAGPropertyMap propertiesMap);

  // A new call with the same properties.
  std::shared_ptr<TAGExpandedFunctionCall> copy() const;

  TAGPropertyMap propertiesMap() const EXCLUDES(mutex_);
  TAGPropertyMap properties() const EXCLUDES(mutex_) { return propertiesMap(); }
  // Null when the call has no such property.
  TAGPValue::Ref propertyForKey(const std::string& key) const EXCLUDES(mutex_);
  // Replaces one property in place.
  void updateCacheablePropertyWithValue(TAGPValue::Ref value, const std::string& key)
      EXCLUDES(mutex_);

  // The sum over the properties of the key's length in UTF-16 units and the value's serialised
  // length.
  std::size_t approximateByteSize() const EXCLUDES(mutex_);
  // "Properties: {key = value; ...}".
  std::string description() const EXCLUDES(mutex_);

 private:
  mutable platform::Mutex mutex_;
  TAGPropertyMap _propertiesMap GUARDED_BY(mutex_);
};

// Calls compared by identity: the tags or macro calls rules select.
using TAGFunctionCallSet = std::set<std::shared_ptr<TAGExpandedFunctionCall>>;
