#pragma once
// Course: one year of a user's courses, holding the course classes of that year in the
// server's order. `jsonToObject` builds the list from the decoded "courses" value of the course
// answer; the course store builds the same tree from its tables.

#include <memory>
#include <nlohmann/json.hpp>

#include "model/ModelTypes.h"
#include "model/ReClass.h"

class Course {
 public:
  // One course per element of the decoded "courses" array; null or a value that is not an
  // array gives an empty list. Every course gets a class list (empty without "reclasses").
  static model::List<Course> jsonToObject(const nlohmann::json* courses);

  const model::Number& year() const { return _year; }
  void setYear(model::Number v) { _year = v; }
  const model::OptionalList<ReClass>& reClasses() const { return _reClasses; }
  model::OptionalList<ReClass>& reClasses() { return _reClasses; }
  void setReClasses(model::OptionalList<ReClass> v) { _reClasses = std::move(v); }

 private:
  model::Number _year;
  model::OptionalList<ReClass> _reClasses;
};
