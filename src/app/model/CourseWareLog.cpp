#include "model/CourseWareLog.h"

#include "platform/foundation/Json.h"

using platform::Json;

std::shared_ptr<CourseWareLog> CourseWareLog::jsonToObject(std::string_view text) {
  return fromJson(Json::parse(text).value_or(nlohmann::json()));
}

std::shared_ptr<CourseWareLog> CourseWareLog::fromJson(const nlohmann::json& object) {
  auto log = std::make_shared<CourseWareLog>();
  log->setId(Json::intValue(object, "Id"));
  log->setCreateTime(Json::stringValue(object, "createdTime"));
  log->setLastUpdateTime(Json::stringValue(object, "lastUpdateTime"));
  log->setListenedMins(Json::intValue(object, "listenedMinutes"));
  log->setType(Json::intValue(object, "type"));
  return log;
}
