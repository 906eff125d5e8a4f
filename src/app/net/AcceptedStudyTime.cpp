#include "net/AcceptedStudyTime.h"

#include <algorithm>
#include <numeric>

#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "model/GlobalModel.h"
#include "sqlite/SQLTransaction.h"

namespace {

void addMinutes(model::Number& figure, std::int64_t minutes) {
  figure = figure.value_or(0) + minutes;
}

}  // namespace

void AcceptedStudyTime::add(const std::string& year, const std::string& cwId,
                            const platform::Value& rowId, std::int64_t minutes) {
  // A row of negative seconds (the player never writes one) credits nothing; the settlement
  // still clears it.
  entries_.push_back(
      Entry{year, platform::leadingInteger(cwId), rowId, std::max<std::int64_t>(minutes, 0)});
}

std::int64_t AcceptedStudyTime::totalMinutes() const {
  return std::accumulate(entries_.begin(), entries_.end(), std::int64_t{0},
                         [](std::int64_t sum, const Entry& e) { return sum + e.minutes; });
}

bool AcceptedStudyTime::settle() const {
  StudyLogDao studyLog;
  if (!studyLog.db()) return false;
  ModelDao tree;
  tree.setDb(studyLog.db());
  {
    SQLTransaction transaction(*studyLog.db());
    if (!writeStored(studyLog, tree, transaction) || !transaction.commit()) return false;
  }
  if (!treeFromServer_) {
    for (const auto& entry : entries_) creditInMemory(entry);
  }
  return true;
}

bool AcceptedStudyTime::writeStored(StudyLogDao& studyLog, ModelDao& tree,
                                    const SQLTransaction& open) const {
  if (!open.begun()) return false;
  for (const auto& entry : entries_) {
    if (!studyLog.deductSent(entry.rowId, platform::Value(entry.minutes * 60))) return false;
    if (entry.minutes > 0 && !treeFromServer_ &&
        !tree.addListenedMinutes(open, userId_, platform::Value(entry.year),
                                 platform::Value(entry.cwId), entry.minutes)) {
      return false;
    }
  }
  return true;
}

void AcceptedStudyTime::creditInMemory(const Entry& entry) const {
  if (entry.minutes <= 0) return;
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
