// The model factories on one answer text: the region answer (`Area`), the course answer's
// "courses" value and its parts (`Course`, `ReClass`, `CourseWare`), and the study-log
// documents (`StudyLog`, `ListenLog`, `CourseWareLog`). Besides not crashing, the trees keep the
// shapes the screens rely on; a broken one aborts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/Area.h"
#include "model/Course.h"
#include "model/StudyLog.h"
#include "platform/foundation/Json.h"

using platform::Json;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// Two levels at most, no parent codes, a child list exactly on the top-level non-leaves.
void checkRegions(const model::List<Area>& areas) {
  for (const auto& area : areas) {
    require(area && !area->parent());
    require(area->childArray().has_value() == !area->isLeaf());
    if (!area->childArray()) continue;
    for (const auto& child : *area->childArray()) {
      require(child && !child->parent() && !child->childArray());
    }
  }
}

// Every course has a class list, every class its course's year, and a lecture list that is
// either absent or not empty.
void checkCourses(const Json::json* decoded, const model::List<Course>& courses) {
  require(courses.size() == (decoded && decoded->is_array() ? decoded->size() : 0));
  for (std::size_t i = 0; i < courses.size(); ++i) {
    require(courses[i]->reClasses().has_value());
    auto year = Json::stringValue((*decoded)[i], "year");
    for (const auto& reClass : *courses[i]->reClasses()) {
      require(reClass->year() == year);
      require(!reClass->cws() || !reClass->cws()->empty());
      if (!reClass->cws()) continue;
      for (const auto& lecture : *reClass->cws()) require(!lecture->reclassId());
    }
  }
}

void checkStudyLog(const StudyLog& log) {
  require(log.logs().has_value());
  for (const auto& year : *log.logs()) {
    require(year->cwsLog().has_value());
    for (const auto& entry : *year->cwsLog()) require(!entry->logId() && !entry->sync());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  checkRegions(Area::jsonToObject(text));
  checkStudyLog(*StudyLog::jsonToObject(text));
  (void)ListenLog::jsonToObject(text);
  (void)CourseWareLog::jsonToObject(text);

  auto parsed = Json::parse(text);
  if (!parsed) return 0;
  const Json::json* courses = Json::member(*parsed, "courses");
  checkCourses(courses, Course::jsonToObject(courses));
  checkCourses(&*parsed, Course::jsonToObject(&*parsed));
  (void)ReClass::jsonToObject(*parsed, Json::stringValue(*parsed, "year"));
  (void)CourseWare::jsonToObject(*parsed);
  return 0;
}
