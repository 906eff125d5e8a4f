#include "dao/DBService.h"

#include <utility>
#include <vector>

#include "model/GlobalModel.h"
#include "platform/foundation/Json.h"
#include "sqlite/SQLTransaction.h"

using platform::Json;
using platform::Value;

namespace {

// Regions nest three levels deep (province, city, district). Storing follows "children" one call
// per level, so an answer nested deeper than this is refused as undecodable rather than walked:
// a hostile one nested thousands deep would overflow the stack.
constexpr int kMaxAreaDepth = 32;

// The children stored under one decoded region: those of a region that is not a leaf.
const nlohmann::json* childrenToStore(const nlohmann::json& entry) {
  if (Json::boolValue(entry, "isLeaf").value_or(false)) return nullptr;
  return Json::arrayValue(entry, "children");
}

// Whether the regions of `list` that would be stored nest at most kMaxAreaDepth levels deep.
// Walks with a list of its own, not the call stack.
bool nestsWithinBound(const nlohmann::json& list) {
  std::vector<std::pair<const nlohmann::json*, int>> pending{{&list, 1}};
  while (!pending.empty()) {
    auto [regions, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxAreaDepth) return false;
    for (const auto& entry : *regions) {
      if (const nlohmann::json* children = childrenToStore(entry)) {
        pending.emplace_back(children, depth + 1);
      }
    }
  }
  return true;
}

}  // namespace

DBService::DBService()
    : _areaDao(std::make_shared<AreaDao>()),
      _cwDao(std::make_shared<CourseWareDao>()),
      _classDao(std::make_shared<ReClassDao>()),
      _modelDaol(std::make_shared<ModelDao>()) {}

void DBService::refreshArea(const std::optional<nlohmann::json>& answer) {
  if (!answer) return;
  const nlohmann::json* areas = Json::arrayValue(*answer, "areas");
  // An answer nested past the bound is refused as one that did not decode.
  if (!areas || areas->empty() || !nestsWithinBound(*areas)) return;
  const auto& db = _areaDao->db();
  if (!db) return;
  // One transaction for the whole answer: thousands of regions would otherwise wait for a
  // commit (a sync to disk) each. Should the commit fail, the old tree stays.
  SQLTransaction transaction(*db);
  if (!transaction.begun()) return;
  // Without the delete the new rows would double the old ones.
  if (!_areaDao->delteAll()) return;
  insertAreas(*areas, std::string("0"));
  transaction.commit();
}

void DBService::addArea(const nlohmann::json* list, const model::Text& parentCode) {
  if (!list || !list->is_array() || !nestsWithinBound(*list)) return;
  insertAreas(*list, parentCode);
}

void DBService::insertAreas(const nlohmann::json& list, const model::Text& parentCode) {
  for (const auto& entry : list) {
    Area area;
    area.setName(Json::stringValue(entry, "areaName"));
    area.setCode(Json::stringValue(entry, "areaCode"));
    area.setDescription(Json::stringValue(entry, "description"));
    area.setLoginType(Json::intValue(entry, "loginType"));
    area.setIsLeaf(Json::boolValue(entry, "isLeaf").value_or(false));
    area.setParent(parentCode);
    _areaDao->insert(area);
    if (const nlohmann::json* children = childrenToStore(entry))
      insertAreas(*children, area.code());
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
