#pragma once
// ReClass: one course class, a course a user takes in a given year, with its lectures. Built
// from the course answer by `jsonToObject` and from stored rows by the course store. The year
// is always the one of the enclosing course, as decimal text.

#include <memory>
#include <nlohmann/json.hpp>

#include "model/CourseWare.h"
#include "model/ModelTypes.h"

class ReClass {
 public:
  // One class object of the course answer and the year of its course. The lecture list is set
  // only when "cws" holds at least one entry; otherwise it stays absent.
  static std::shared_ptr<ReClass> jsonToObject(const nlohmann::json& object,
                                               const model::Text& year);

  const model::Number& reClassId() const { return _reClassId; }
  void setReClassId(model::Number v) { _reClassId = v; }
  const model::Text& reClassName() const { return _reClassName; }
  void setReClassName(model::Text v) { _reClassName = std::move(v); }
  const model::Text& type() const { return _type; }
  void setType(model::Text v) { _type = std::move(v); }
  const model::Text& typeName() const { return _typeName; }
  void setTypeName(model::Text v) { _typeName = std::move(v); }
  const model::Text& teacherName() const { return _teacherName; }
  void setTeacherName(model::Text v) { _teacherName = std::move(v); }
  const model::Number& cwNum() const { return _cwNum; }
  void setCwNum(model::Number v) { _cwNum = v; }
  const model::Number& totalMins() const { return _totalMins; }
  void setTotalMins(model::Number v) { _totalMins = v; }
  const model::Number& listenedMins() const { return _listenedMins; }
  void setListenedMins(model::Number v) { _listenedMins = v; }
  const model::Text& picUrl() const { return _picUrl; }
  void setPicUrl(model::Text v) { _picUrl = std::move(v); }
  const model::Text& year() const { return _year; }
  void setYear(model::Text v) { _year = std::move(v); }
  const model::OptionalList<CourseWare>& cws() const { return _cws; }
  model::OptionalList<CourseWare>& cws() { return _cws; }
  void setCws(model::OptionalList<CourseWare> v) { _cws = std::move(v); }

 private:
  model::Number _reClassId;
  model::Text _reClassName;
  model::Text _type;
  model::Text _typeName;
  model::Text _teacherName;
  model::Number _cwNum;
  model::Number _totalMins;
  model::Number _listenedMins;
  model::Text _picUrl;
  model::Text _year;
  model::OptionalList<CourseWare> _cws;
};
