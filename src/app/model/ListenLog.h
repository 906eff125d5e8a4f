#pragma once
// ListenLog: one year of a study-log document, with its lecture entries in order.

#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>

#include "model/CourseWareLog.h"
#include "model/ModelTypes.h"

class ListenLog {
 public:
  // From a JSON text; text that is not a JSON object gives an object with every field absent.
  static std::shared_ptr<ListenLog> jsonToObject(std::string_view text);
  // From an already decoded entry of an enclosing document.
  static std::shared_ptr<ListenLog> fromJson(const nlohmann::json& object);

  const model::Number& year() const { return _year; }
  void setYear(model::Number v) { _year = v; }
  const model::OptionalList<CourseWareLog>& cwsLog() const { return _cwsLog; }
  void setCwsLog(model::OptionalList<CourseWareLog> v) { _cwsLog = std::move(v); }

 private:
  model::Number _year;
  model::OptionalList<CourseWareLog> _cwsLog;
};
