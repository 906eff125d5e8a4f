#include "model/Course.h"

#include "platform/foundation/Json.h"

using platform::Json;

model::List<Course> Course::jsonToObject(const nlohmann::json* courses) {
  model::List<Course> result;
  if (!courses || !courses->is_array()) return result;
  for (const auto& entry : *courses) {
    auto course = std::make_shared<Course>();
    course->setYear(Json::intValue(entry, "year"));
    // Every class carries its course's year, whatever the class object itself says.
    model::Text yearText = Json::stringValue(entry, "year");
    model::List<ReClass> classes;
    if (const nlohmann::json* list = Json::arrayValue(entry, "reclasses")) {
      for (const auto& item : *list) classes.push_back(ReClass::jsonToObject(item, yearText));
    }
    course->setReClasses(std::move(classes));
    result.push_back(std::move(course));
  }
  return result;
}
