#pragma once
// TAGPValue: one node of the tag manager's value tree: container properties, macro results and
// rule inputs. A node has a type (String, List, Map, MacroReference, FunctionId, Integer,
// Template, Boolean) and the fields of the container format, each with its own presence bit, so
// "unset" and "set to the default" stay apart as they do on the wire.
//
// Nodes are immutable and shared: children are held by `Ref`, so one subtree may sit under many
// parents (the resource expansion shares every value among all its references) and the runtime
// can keep, compare and cache results by identity. The shared failure sentinel
// `TAGTypes::defaultValue()` is such a node, recognised by identity. New nodes come from a
// `Builder`.
//
// The wire form is the generated message `tagpb::TAGPValue`; `fromMessage` and `toMessage`
// cross that boundary. A node's hash, serialised size and depth are computed once, when it is
// built, from its children's, so none walks a shared subtree twice. Destroying a node takes its
// tree apart in a loop, so a tree however deep never runs the stack out on release.
//
// Any thread may read a node.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tagmanager/values/TAGPServingValue.h"

namespace tagpb {
class TAGPValue;
}

enum class TAGPValue_Type : std::int32_t {
  String = 1,
  List = 2,
  Map = 3,
  MacroReference = 4,
  FunctionId = 5,
  Integer = 6,
  Template = 7,
  Boolean = 8,
};

enum class TAGPValue_Escaping : std::int32_t {
  EscapeHtml = 1,
  EscapeHtmlRcdata = 2,
  EscapeHtmlAttribute = 3,
  EscapeHtmlAttributeNospace = 4,
  FilterHtmlElementName = 5,
  FilterHtmlAttributes = 6,
  EscapeJsString = 7,
  EscapeJsValue = 8,
  EscapeJsRegex = 9,
  EscapeCssString = 10,
  FilterCssValue = 11,
  EscapeUri = 12,
  NormalizeUri = 13,
  FilterNormalizeUri = 14,
  NoAutoescape = 15,
  ConvertJsValueToExpression = 16,
  Text = 17,
};

class TAGPValue {
 public:
  using Ref = std::shared_ptr<const TAGPValue>;
  class Builder;

  ~TAGPValue();
  TAGPValue(const TAGPValue&) = delete;
  TAGPValue& operator=(const TAGPValue&) = delete;

  // The type reads String when it was never set.
  bool hasType() const { return has(kType); }
  TAGPValue_Type type() const { return _type; }
  bool hasString() const { return has(kString); }
  const std::string& string() const { return _string; }
  const std::vector<Ref>& listItemArray() const { return _listItemArray; }
  const std::vector<Ref>& mapKeyArray() const { return _mapKeyArray; }
  const std::vector<Ref>& mapValueArray() const { return _mapValueArray; }
  bool hasMacroReference() const { return has(kMacroReference); }
  const std::string& macroReference() const { return _macroReference; }
  bool hasFunctionId() const { return has(kFunctionId); }
  const std::string& functionId() const { return _functionId; }
  bool hasInteger() const { return has(kInteger); }
  std::int64_t integer() const { return _integer; }
  bool hasContainsReferences() const { return has(kContainsReferences); }
  bool containsReferences() const { return _containsReferences; }
  // Escaping codes (TAGPValue_Escaping numbers), in the order they apply.
  const std::vector<std::int32_t>& escapingArray() const { return _escapingArray; }
  const std::vector<Ref>& templateTokenArray() const { return _templateTokenArray; }
  bool hasBoolean() const { return has(kBoolean); }
  bool boolean() const { return _boolean; }
  // The serving extension (field 101), or null when the node carries none.
  const std::shared_ptr<const TAGPServingValue>& servingValue() const { return servingValue_; }

  // The tag manager's own hash (unsigned 32-bit arithmetic): 1, then by type the string, the
  // macro reference, the function id, the low half of the integer, the boolean, or 31 * h + each
  // item's hash over list items, template tokens, or map keys then map values; finally
  // 31 * h + containsReferences. Escapings do not enter it. Equal nodes hash alike.
  std::uint32_t hash() const { return hash_; }
  // Field-by-field equality, presence included, as the container format defines it.
  bool isEqual(const TAGPValue& other) const;
  bool operator==(const TAGPValue& other) const { return isEqual(other); }

  // The length of the serialised form (a subtree counts once per reference), saturating at the
  // largest size_t.
  std::size_t serializedSize() const { return serializedSize_; }
  // Levels of nodes from this one down to its deepest leaf: 1 for a node without children,
  // else its deepest child's depth plus one.
  std::size_t depth() const { return depth_; }
  // The serialised form.
  std::string data() const;
  // The text form of the message, for log lines.
  std::string description() const;

  // The node for a wire message, its nested values and extension included.
  static Ref fromMessage(const tagpb::TAGPValue& message);
  void toMessage(tagpb::TAGPValue* message) const;

 private:
  friend class Builder;
  enum Field : std::uint32_t {
    kType = 1u << 0,
    kString = 1u << 1,
    kMacroReference = 1u << 2,
    kFunctionId = 1u << 3,
    kInteger = 1u << 4,
    kContainsReferences = 1u << 5,
    kBoolean = 1u << 6,
  };

  TAGPValue() = default;
  bool has(Field field) const { return (has_ & field) != 0; }
  // Fills in hash_, serializedSize_ and depth_ once every field is set.
  void seal();
  // Moves every child reference out of this node into `out`.
  void releaseChildrenInto(std::vector<Ref>& out);

  std::uint32_t has_ = 0;
  TAGPValue_Type _type = TAGPValue_Type::String;
  std::string _string;
  std::vector<Ref> _listItemArray;
  std::vector<Ref> _mapKeyArray;
  std::vector<Ref> _mapValueArray;
  std::string _macroReference;
  std::string _functionId;
  std::int64_t _integer = 0;
  bool _containsReferences = false;
  std::vector<std::int32_t> _escapingArray;
  std::vector<Ref> _templateTokenArray;
  bool _boolean = false;
  std::shared_ptr<const TAGPServingValue> servingValue_;

  std::uint32_t hash_ = 0;
  std::size_t serializedSize_ = 0;
  std::size_t depth_ = 1;
};

// Makes nodes. Children must not be null. `build` hands the node over and leaves the builder
// empty for the next one.
class TAGPValue::Builder {
 public:
  Builder();

  Builder& setType(TAGPValue_Type type);
  Builder& setString(std::string string);
  Builder& addListItem(Ref item);
  Builder& addMapKey(Ref key);
  Builder& addMapValue(Ref value);
  Builder& setMacroReference(std::string name);
  Builder& setFunctionId(std::string functionId);
  Builder& setInteger(std::int64_t integer);
  Builder& setContainsReferences(bool containsReferences);
  Builder& addEscaping(std::int32_t escaping);
  Builder& setEscapingArray(std::vector<std::int32_t> escapings);
  Builder& addTemplateToken(Ref token);
  Builder& setBoolean(bool boolean);
  Builder& setServingValue(std::shared_ptr<const TAGPServingValue> servingValue);

  Ref build();

 private:
  std::shared_ptr<TAGPValue> value_;
};

// A function call's properties: property key to value.
using TAGPropertyMap = std::map<std::string, TAGPValue::Ref>;
