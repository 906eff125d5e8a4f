#pragma once
// TAGObject: one of the plain objects the tag manager's conversions understand, beside its value
// nodes: a string, a platform number (a platform::Value of kind Bool, Integer or Double), a
// TAGTypedNumber, a TAGBoolean, a list, a map, a value node (TAGPValue), an object of another
// kind that no conversion supports, or none.
//
// A TAGObject is a small handle to an immutable, shared object: copying it shares the object,
// and `isSameObject` tells whether two handles hold the very same one. The conversions hand back
// shared failure sentinels (TAGTypes' defaults) and their callers recognise them that way,
// while `isEqual` compares contents.
//
// Maps are ordered by `Less`, a total order that keeps apart what `isEqual` keeps apart, so map
// enumeration is deterministic. Any thread may read a TAGObject.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/Value.h"
#include "tagmanager/values/TAGBoolean.h"
#include "tagmanager/values/TAGPValue.h"
#include "tagmanager/values/TAGTypedNumber.h"

using TAGString = std::shared_ptr<const std::string>;

class TAGObject {
 public:
  enum class Kind { None, String, Number, TypedNumber, Boolean, List, Map, Value, Other };
  struct Less {
    bool operator()(const TAGObject& a, const TAGObject& b) const { return compare(a, b) < 0; }
  };
  using List = std::vector<TAGObject>;
  using Map = std::map<TAGObject, TAGObject, Less>;

  // None.
  TAGObject() = default;
  TAGObject(TAGString string);
  TAGObject(std::shared_ptr<const TAGTypedNumber> number);
  TAGObject(std::shared_ptr<const TAGBoolean> boolean);
  TAGObject(TAGPValue::Ref value);

  static TAGObject string(std::string text);
  // A platform number; `number` must be of kind Bool, Integer or Double.
  static TAGObject number(platform::Value number);
  static TAGObject list(List items);
  static TAGObject map(Map entries);
  // An object of a kind the conversions do not support, known by its class name.
  static TAGObject other(std::string className, std::string description);
  // A platform value as the tag manager sees it: texts, numbers, arrays and dictionaries
  // convert, null, bytes, dates and shared objects become objects of other kinds.
  static TAGObject fromPlatformValue(const platform::Value& value);

  Kind kind() const { return static_cast<Kind>(object_.index()); }
  bool isNone() const { return kind() == Kind::None; }

  // The held object of that kind, or null.
  TAGString stringObject() const;
  const platform::Value* number() const;
  std::shared_ptr<const TAGTypedNumber> typedNumber() const;
  std::shared_ptr<const TAGBoolean> boolean() const;
  const List* list() const;
  const Map* map() const;
  TAGPValue::Ref value() const;

  // Whether both hold the very same object (two nones are the same).
  bool isSameObject(const TAGObject& other) const;
  // Equal contents: strings by text, platform numbers and typed numbers by exact numeric value
  // (each kind among its own), booleans by value, lists and maps element by element, value
  // nodes field by field; other objects only when they are the same object.
  bool isEqual(const TAGObject& other) const { return compare(*this, other) == 0; }
  // A total order consistent with isEqual (NaN orders after every number).
  static int compare(const TAGObject& a, const TAGObject& b);

  // "nil" for none, else the name of the object's class.
  std::string className() const;
  // The object's own text: the string itself, a number's digits, "true"/"false", lists as
  // "[a, b]" and maps as "{k=v}", a value node's text form.
  std::string description() const;

 private:
  struct Other {
    std::string className;
    std::string description;
  };

  std::variant<std::monostate, TAGString, std::shared_ptr<const platform::Value>,
               std::shared_ptr<const TAGTypedNumber>, std::shared_ptr<const TAGBoolean>,
               std::shared_ptr<const List>, std::shared_ptr<const Map>, TAGPValue::Ref,
               std::shared_ptr<const Other>>
      object_;
};
