#pragma once
// Builds a serving resource (the container's wire form) table by table for tests; each add
// answers the new entry's index.

#include <string>
#include <utility>
#include <vector>

#include "tagmanager/proto/serving.pb.h"

namespace testsupport {

class ResourceMaker {
 public:
  int string(const std::string& text) {
    auto* v = resource.add_value();
    v->set_type(tagpb::TAGPValue::STRING);
    v->set_string(text);
    return resource.value_size() - 1;
  }
  int functionId(const std::string& id) {
    auto* v = resource.add_value();
    v->set_type(tagpb::TAGPValue::FUNCTION_ID);
    v->set_function_id(id);
    return resource.value_size() - 1;
  }
  int composite(tagpb::TAGPValue::Type type, std::vector<int> items, std::vector<int> values = {}) {
    auto* v = resource.add_value();
    v->set_type(type);
    auto* ext = v->MutableExtension(tagpb::TAGPServingValue::ext);
    for (int i : items) {
      if (type == tagpb::TAGPValue::LIST) ext->add_list_item(i);
      if (type == tagpb::TAGPValue::MAP) ext->add_map_key(i);
      if (type == tagpb::TAGPValue::TEMPLATE) ext->add_template_token(i);
    }
    for (int i : values) ext->add_map_value(i);
    return resource.value_size() - 1;
  }
  int macroReference(int nameIndex, std::vector<tagpb::TAGPValue::Escaping> escapings = {}) {
    auto* v = resource.add_value();
    v->set_type(tagpb::TAGPValue::MACRO_REFERENCE);
    v->set_contains_references(true);
    for (auto e : escapings) v->add_escaping(e);
    v->MutableExtension(tagpb::TAGPServingValue::ext)->set_macro_name_reference(nameIndex);
    return resource.value_size() - 1;
  }
  int key(const std::string& name) {
    resource.add_key(name);
    return resource.key_size() - 1;
  }
  int property(int keyIndex, int valueIndex) {
    auto* p = resource.add_property();
    p->set_key(keyIndex);
    p->set_value(valueIndex);
    return resource.property_size() - 1;
  }
  // A call with "function" = `functionIndex` and the given extra properties.
  tagpb::TAGPFunctionCall call(int functionIndex, std::vector<int> properties = {}) {
    tagpb::TAGPFunctionCall c;
    c.set_function(0);
    c.add_property(property(key("function"), functionIndex));
    for (int p : properties) c.add_property(p);
    return c;
  }
  void addMacro(const std::string& name, int valueIndex, const std::string& function = "_c") {
    *resource.add_macro() =
        call(functionId(function),
             {property(key("instance_name"), string(name)), property(key("value"), valueIndex)});
  }

  int boolean(bool value) {
    auto* v = resource.add_value();
    v->set_type(tagpb::TAGPValue::BOOLEAN);
    v->set_boolean(value);
    return resource.value_size() - 1;
  }
  // A map value of string keys.
  int stringMap(const std::vector<std::pair<std::string, int>>& entries) {
    std::vector<int> keys, values;
    for (const auto& [name, value] : entries) {
      keys.push_back(string(name));
      values.push_back(value);
    }
    return composite(tagpb::TAGPValue::MAP, keys, values);
  }
  // A call of `function` with properties by name (name, value index).
  tagpb::TAGPFunctionCall namedCall(const std::string& function,
                                    const std::vector<std::pair<std::string, int>>& properties) {
    std::vector<int> indices;
    for (const auto& [name, value] : properties) indices.push_back(property(key(name), value));
    return call(functionId(function), indices);
  }
  int addTag(const std::string& function,
             const std::vector<std::pair<std::string, int>>& properties) {
    *resource.add_tag() = namedCall(function, properties);
    return resource.tag_size() - 1;
  }
  int addPredicate(const std::string& function, int arg0, int arg1) {
    *resource.add_predicate() = namedCall(function, {{"arg0", arg0}, {"arg1", arg1}});
    return resource.predicate_size() - 1;
  }
  // A rule that adds `tags` when every one of `predicates` holds.
  void addRule(const std::vector<int>& predicates, const std::vector<int>& tags) {
    auto* rule = resource.add_rule();
    for (int p : predicates) rule->add_positive_predicate(p);
    for (int t : tags) rule->add_add_tag(t);
  }

  tagpb::TAGPResource resource;
};

}  // namespace testsupport
