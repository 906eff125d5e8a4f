#include "net/AcceptedStudyTime.h"

#include <numeric>

#include "dao/ModelDao.h"
#include "model/GlobalModel.h"

namespace {

void addMinutes(model::Number& figure, std::int64_t minutes) {
  figure = figure.value_or(0) + minutes;
}

}  // namespace

void AcceptedStudyTime::add(const std::string& year, const std::string& cwId,
                            std::int64_t minutes) {
  if (minutes <= 0) return;
  entries_.push_back(Entry{year, platform::leadingInteger(cwId), minutes});
}

std::int64_t AcceptedStudyTime::totalMinutes() const {
  return std::accumulate(entries_.begin(), entries_.end(), std::int64_t{0},
                         [](std::int64_t sum, const Entry& e) { return sum + e.minutes; });
}

void AcceptedStudyTime::creditTo(const platform::Value& userId) const {
  if (entries_.empty()) return;
  ModelDao store;
  for (const auto& entry : entries_) {
    store.addListenedMinutes(userId, platform::Value(entry.year), platform::Value(entry.cwId),
                             entry.minutes);
    creditInMemory(entry);
  }
}

void AcceptedStudyTime::creditInMemory(const Entry& entry) const {
  const auto& courses = GlobalModel::sharedModel()->courses();
  if (!courses) return;
  const std::int64_t year = platform::leadingInteger(entry.year);
  for (const auto& course : *courses) {
    if (!course || course->year() != year || !course->reClasses()) continue;
    for (const auto& rc : *course->reClasses()) {
      if (!rc || !rc->cws()) continue;
      for (const auto& cw : *rc->cws()) {
        if (!cw || cw->cwId() != entry.cwId) continue;
        model::Number lecture = cw->listenedMins();
        addMinutes(lecture, entry.minutes);
        cw->setListenedMins(lecture);
        model::Number whole = rc->listenedMins();
        addMinutes(whole, entry.minutes);
        rc->setListenedMins(whole);
      }
    }
  }
}
