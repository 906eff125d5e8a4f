#include "model/ListenLog.h"

#include "platform/foundation/Json.h"

using platform::Json;

std::shared_ptr<ListenLog> ListenLog::jsonToObject(std::string_view text) {
  return fromJson(Json::parse(text).value_or(nlohmann::json()));
}

std::shared_ptr<ListenLog> ListenLog::fromJson(const nlohmann::json& object) {
  auto log = std::make_shared<ListenLog>();
  log->setYear(Json::intValue(object, "year"));
  model::List<CourseWareLog> entries;
  if (const nlohmann::json* cws = Json::arrayValue(object, "cws")) {
    for (const auto& entry : *cws) entries.push_back(CourseWareLog::fromJson(entry));
  }
  log->setCwsLog(std::move(entries));
  return log;
}
