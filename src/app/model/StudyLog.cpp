#include "model/StudyLog.h"

#include "platform/foundation/Json.h"

using platform::Json;

std::shared_ptr<StudyLog> StudyLog::jsonToObject(std::string_view text) {
  return fromJson(Json::parse(text).value_or(nlohmann::json()));
}

std::shared_ptr<StudyLog> StudyLog::fromJson(const nlohmann::json& object) {
  auto log = std::make_shared<StudyLog>();
  log->setUserId(Json::intValue(object, "userId"));
  model::List<ListenLog> years;
  if (const nlohmann::json* logs = Json::arrayValue(object, "logs")) {
    for (const auto& entry : *logs) years.push_back(ListenLog::fromJson(entry));
  }
  log->setLogs(std::move(years));
  return log;
}
