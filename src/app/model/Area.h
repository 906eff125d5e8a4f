#pragma once
// Area: one node of the region tree. The region answer of the course server becomes a list of
// top-level areas through `jsonToObject`, at most two levels deep; the area store builds the
// same class from its rows. Codes stay texts everywhere, as the server sends them.

#include <memory>
#include <string_view>

#include "model/ModelTypes.h"

class Area {
 public:
  Area() = default;
  // Sets the five named fields; `isLeaf` stays false and `childArray` absent.
  Area(model::Text name, model::Text code, model::Text parent, model::Number loginType,
       model::Text description);

  // The top-level regions of a region answer (UTF-8 JSON text). Never fails: text that is not
  // JSON, or that has no "areas" array, gives an empty list. A non-leaf node always gets a
  // child list (possibly empty); children never get one; no node gets a parent code.
  static model::List<Area> jsonToObject(std::string_view answerText);

  const model::Text& name() const { return _name; }
  void setName(model::Text v) { _name = std::move(v); }
  const model::Text& code() const { return _code; }
  void setCode(model::Text v) { _code = std::move(v); }
  const model::Text& parent() const { return _parent; }
  void setParent(model::Text v) { _parent = std::move(v); }
  const model::Number& loginType() const { return _loginType; }
  void setLoginType(model::Number v) { _loginType = v; }
  bool isLeaf() const { return _isLeaf; }
  void setIsLeaf(bool v) { _isLeaf = v; }
  const model::Text& description() const { return _description; }
  void setDescription(model::Text v) { _description = std::move(v); }
  const model::OptionalList<Area>& childArray() const { return _childArray; }
  model::OptionalList<Area>& childArray() { return _childArray; }
  void setChildArray(model::OptionalList<Area> v) { _childArray = std::move(v); }

 private:
  model::Text _name;
  model::Text _code;
  model::Text _parent;
  model::Number _loginType;
  bool _isLeaf = false;
  model::Text _description;
  model::OptionalList<Area> _childArray;
};
