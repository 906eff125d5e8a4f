#include "dao/DBService.h"

#include "model/GlobalModel.h"
#include "platform/foundation/Json.h"

using platform::Json;
using platform::Value;

DBService::DBService()
    : _areaDao(std::make_shared<AreaDao>()),
      _cwDao(std::make_shared<CourseWareDao>()),
      _classDao(std::make_shared<ReClassDao>()),
      _modelDaol(std::make_shared<ModelDao>()) {}

void DBService::refreshArea(const std::optional<nlohmann::json>& answer) {
  if (!answer) return;
  const nlohmann::json* areas = Json::arrayValue(*answer, "areas");
  if (!areas || areas->empty()) return;
  // Without the delete the new rows would double the old ones.
  if (!_areaDao->delteAll()) return;
  addArea(areas, std::string("0"));
}

void DBService::addArea(const nlohmann::json* list, const model::Text& parentCode) {
  if (!list || !list->is_array()) return;
  for (const auto& entry : *list) {
    Area area;
    area.setName(Json::stringValue(entry, "areaName"));
    area.setCode(Json::stringValue(entry, "areaCode"));
    area.setDescription(Json::stringValue(entry, "description"));
    area.setLoginType(Json::intValue(entry, "loginType"));
    area.setIsLeaf(Json::boolValue(entry, "isLeaf").value_or(false));
    area.setParent(parentCode);
    _areaDao->insert(area);
    if (!area.isLeaf()) addArea(Json::arrayValue(entry, "children"), area.code());
  }
}

model::List<Area> DBService::getAreaFromLocalDB() { return _areaDao->queryAll(); }

void DBService::refreshCourse(const Value& areaCode, const model::List<Course>& data,
                              const Value& userId) {
  _modelDaol->delYearAll(userId);
  _modelDaol->delReClass(userId, areaCode);
  _modelDaol->delCourseWare(userId);
  for (const auto& course : data) {
    if (course) _modelDaol->insertReClass(*course, areaCode);
  }
}

model::List<Course> DBService::getCourseFromLocalDB(const Value& userId, const Value& areaCode) {
  return _modelDaol->getAllCousre(userId, areaCode);
}

model::List<Course> DBService::getLoaclDownloadInfo(const Value& userId, bool isOnline) {
  return _modelDaol->getDownloadInfo(
      userId, SQLArgument::toValue(GlobalModel::sharedModel()->areaCode()), isOnline);
}
