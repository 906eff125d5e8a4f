#include "model/CourseWare.h"

#include "platform/foundation/Json.h"

using platform::Json;

std::shared_ptr<CourseWare> CourseWare::jsonToObject(const nlohmann::json& object) {
  auto cw = std::make_shared<CourseWare>();
  cw->setCwId(Json::intValue(object, "cwId"));
  cw->setListenedMins(Json::intValue(object, "listenedMinutes"));
  cw->setTotalMins(Json::intValue(object, "totalMinutes"));
  cw->setName(Json::stringValue(object, "cwName"));
  cw->setUrl(Json::stringValue(object, "cwUrl"));
  cw->setVideoUrl(Json::stringValue(object, "cwVideoUrl"));
  return cw;
}
