#include "model/Area.h"

#include "platform/foundation/Json.h"

using platform::Json;

Area::Area(model::Text name, model::Text code, model::Text parent, model::Number loginType,
           model::Text description)
    : _name(std::move(name)),
      _code(std::move(code)),
      _parent(std::move(parent)),
      _loginType(loginType),
      _description(std::move(description)) {}

namespace {

// The five keys every region object carries, at either level.
std::shared_ptr<Area> nodeFromJson(const nlohmann::json& entry) {
  auto area = std::make_shared<Area>();
  area->setName(Json::stringValue(entry, "areaName"));
  area->setCode(Json::stringValue(entry, "areaCode"));
  area->setIsLeaf(Json::boolValue(entry, "isLeaf").value_or(false));
  area->setLoginType(Json::intValue(entry, "loginType"));
  area->setDescription(Json::stringValue(entry, "description"));
  return area;
}

}  // namespace

model::List<Area> Area::jsonToObject(std::string_view answerText) {
  model::List<Area> result;
  auto answer = Json::parse(answerText);
  if (!answer) return result;
  const nlohmann::json* areas = Json::arrayValue(*answer, "areas");
  if (!areas) return result;
  for (const auto& entry : *areas) {
    auto area = nodeFromJson(entry);
    if (!area->isLeaf()) {
      model::List<Area> children;
      if (const nlohmann::json* list = Json::arrayValue(entry, "children")) {
        for (const auto& child : *list) children.push_back(nodeFromJson(child));
      }
      area->setChildArray(std::move(children));
    }
    result.push_back(std::move(area));
  }
  return result;
}
