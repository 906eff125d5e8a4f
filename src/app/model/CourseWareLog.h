#pragma once
// CourseWareLog: one lecture entry of a study-log document (the upload format read back). Nothing
// in the application builds or reads these documents (it builds its uploads elsewhere); the
// classes and factories are kept because the model layer of the design has them, and the
// tests and the models fuzz target exercise them.

#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>

#include "model/ModelTypes.h"

class CourseWareLog {
 public:
  // From a JSON text; text that is not a JSON object gives an object with every field absent.
  static std::shared_ptr<CourseWareLog> jsonToObject(std::string_view text);
  // From an already decoded entry of an enclosing document.
  static std::shared_ptr<CourseWareLog> fromJson(const nlohmann::json& object);

  const model::Number& Id() const { return _Id; }
  void setId(model::Number v) { _Id = v; }
  const model::Text& createTime() const { return _createTime; }
  void setCreateTime(model::Text v) { _createTime = std::move(v); }
  const model::Text& lastUpdateTime() const { return _lastUpdateTime; }
  void setLastUpdateTime(model::Text v) { _lastUpdateTime = std::move(v); }
  const model::Number& listenedMins() const { return _listenedMins; }
  void setListenedMins(model::Number v) { _listenedMins = v; }
  const model::Number& type() const { return _type; }
  void setType(model::Number v) { _type = v; }
  // The documents carry neither `logId` nor `sync`; nothing sets them.
  const model::Number& logId() const { return _logId; }
  void setLogId(model::Number v) { _logId = v; }
  const model::Number& sync() const { return _sync; }
  void setSync(model::Number v) { _sync = v; }

 private:
  model::Number _Id;
  model::Text _createTime;
  model::Text _lastUpdateTime;
  model::Number _listenedMins;
  model::Number _type;
  model::Number _logId;
  model::Number _sync;
};
