#include "model/ReClass.h"

#include "platform/foundation/Json.h"

using platform::Json;

std::shared_ptr<ReClass> ReClass::jsonToObject(const nlohmann::json& object,
                                               const model::Text& year) {
  auto rc = std::make_shared<ReClass>();
  rc->setCwNum(Json::intValue(object, "cwNum"));
  rc->setTotalMins(Json::intValue(object, "cwTotalMinutes"));
  rc->setListenedMins(Json::intValue(object, "listenedMinutes"));
  rc->setReClassId(Json::intValue(object, "reclassId"));
  rc->setReClassName(Json::stringValue(object, "reclassName"));
  rc->setType(Json::stringValue(object, "type"));
  rc->setTypeName(Json::stringValue(object, "typeName"));
  rc->setTeacherName(Json::stringValue(object, "teacherName"));
  rc->setPicUrl(Json::stringValue(object, "picUrl"));
  rc->setYear(year);
  const nlohmann::json* cws = Json::arrayValue(object, "cws");
  if (cws && !cws->empty()) {
    model::List<CourseWare> lectures;
    for (const auto& entry : *cws) lectures.push_back(CourseWare::jsonToObject(entry));
    rc->setCws(std::move(lectures));
  }
  return rc;
}
