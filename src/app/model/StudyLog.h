#pragma once
// StudyLog: a whole study-log document of one user, one entry per year.

#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>

#include "model/ListenLog.h"
#include "model/ModelTypes.h"

class StudyLog {
 public:
  // From a JSON text; text that is not a JSON object gives an object with every field absent.
  static std::shared_ptr<StudyLog> jsonToObject(std::string_view text);
  static std::shared_ptr<StudyLog> fromJson(const nlohmann::json& object);

  const model::Number& userId() const { return _userId; }
  void setUserId(model::Number v) { _userId = v; }
  const model::OptionalList<ListenLog>& logs() const { return _logs; }
  void setLogs(model::OptionalList<ListenLog> v) { _logs = std::move(v); }

 private:
  model::Number _userId;
  model::OptionalList<ListenLog> _logs;
};
