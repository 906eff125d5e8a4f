#include "studytime/StudyBatch.h"

#include <algorithm>
#include <numeric>

#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "model/GlobalModel.h"
#include "sqlite/SQLTransaction.h"
#include "studytime/LectureInTree.h"
#include "studytime/StudyMinutes.h"

namespace {

std::string textOf(const platform::Dictionary& row, const char* key) {
  const platform::Value* value = platform::find(row, key);
  return value && value->asText() ? *value->asText() : std::string();
}

// The lecture's minutes in `tree` (0 when the tree does not hold it).
std::int64_t minutesIn(const model::List<Course>& tree, std::int64_t year, std::int64_t cwId) {
  std::int64_t minutes = 0;
  for (const auto& place : LectureInTree::findAll(tree, year, cwId))
    minutes = std::max(minutes, place.lecture->listenedMins().value_or(0));
  return minutes;
}

bool markRows(StudyLogDao& studyLog, const platform::Value& userId,
              const model::List<Course>& tree) {
  if (!studyLog.mergeUnmarked(userId)) return false;
  for (const auto& [year, rows] : studyLog.getByUserId(userId)) {
    const std::int64_t yearNumber = platform::leadingInteger(year);
    for (const auto& row : rows) {
      const std::int64_t cwId = platform::leadingInteger(textOf(row, "cwid"));
      if (!studyLog.mark(userId, platform::Value(year), platform::Value(cwId),
                         platform::Value(minutesIn(tree, yearNumber, cwId)))) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

std::optional<StudyBatch> StudyBatch::mark(const platform::Value& userId,
                                           const model::List<Course>& tree) {
  StudyLogDao studyLog;
  if (!studyLog.db()) return std::nullopt;
  {
    SQLTransaction transaction(*studyLog.db());
    if (!transaction.begun() || !markRows(studyLog, userId, tree) || !transaction.commit())
      return std::nullopt;
  }
  return marked(userId);
}

StudyBatch StudyBatch::marked(const platform::Value& userId) {
  StudyBatch batch(userId);
  for (auto& row : StudyLogDao().getMarkedByUserId(userId)) {
    Entry entry;
    entry.year = platform::leadingInteger(textOf(row, "year"));
    entry.cwId = platform::leadingInteger(textOf(row, "cwid"));
    entry.seconds = platform::leadingInteger(textOf(row, "listenedPos"));
    // A row of negative seconds (the player never writes one) credits nothing.
    entry.minutes = std::max(0, StudyMinutes::forSeconds(textOf(row, "listenedPos")));
    entry.serverMinutesBefore = platform::leadingInteger(textOf(row, "sync"));
    entry.row = std::move(row);
    batch.entries_.push_back(std::move(entry));
  }
  return batch;
}

std::vector<platform::Value> StudyBatch::learnersWithMarkedRows() {
  return StudyLogDao().usersWithMarkedRows();
}

std::int64_t StudyBatch::totalMinutes() const {
  return std::accumulate(entries_.begin(), entries_.end(), std::int64_t{0},
                         [](std::int64_t sum, const Entry& e) { return sum + e.minutes; });
}

std::map<std::string, std::vector<platform::Dictionary>> StudyBatch::uploadRows() const {
  std::map<std::string, std::vector<platform::Dictionary>> byYear;
  for (const auto& entry : entries_) {
    platform::Dictionary row = entry.row;
    row.erase("sync");
    row.erase("year");
    byYear[textOf(entry.row, "year")].push_back(std::move(row));
  }
  return byYear;
}

bool StudyBatch::settle() const {
  return apply(std::vector<Verdict>(entries_.size(), Verdict::kCredited));
}

bool StudyBatch::release() const {
  return apply(std::vector<Verdict>(entries_.size(), Verdict::kNotCredited));
}

bool StudyBatch::resolve(const model::List<Course>& serverTree) const {
  std::vector<Verdict> verdicts;
  for (const auto& entry : entries_) verdicts.push_back(verdict(entry, serverTree));
  return apply(verdicts);
}

std::int64_t StudyBatch::secondsCountedBy(std::int64_t year, std::int64_t cwId,
                                          std::int64_t serverMinutes) const {
  std::int64_t seconds = 0;
  for (const auto& entry : entries_) {
    if (entry.year != year || entry.cwId != cwId) continue;
    if (serverMinutes >= entry.creditedFigure())
      seconds += std::min(entry.seconds, entry.minutes * 60);
  }
  return seconds;
}

StudyBatch::Verdict StudyBatch::verdict(const Entry& entry,
                                        const model::List<Course>& serverTree) const {
  const auto places = LectureInTree::findAll(serverTree, entry.year, entry.cwId);
  if (places.empty()) return Verdict::kUnknown;
  for (const auto& place : places) {
    const std::int64_t now = place.lecture->listenedMins().value_or(0);
    const std::int64_t total = place.lecture->totalMins().value_or(0);
    if (now >= entry.creditedFigure() || (total > 0 && now >= total)) return Verdict::kCredited;
  }
  return Verdict::kNotCredited;
}

bool StudyBatch::apply(const std::vector<Verdict>& verdicts) const {
  StudyLogDao studyLog;
  if (!studyLog.db()) return false;
  ModelDao tree;
  tree.setDb(studyLog.db());
  {
    SQLTransaction transaction(*studyLog.db());
    if (!applyStored(studyLog, tree, transaction, verdicts) || !transaction.commit()) return false;
  }
  // Only a committed settlement shows in the tree the screens read, so a stretch is never
  // counted twice there either.
  const auto& courses = GlobalModel::sharedModel()->courses();
  if (!courses) return true;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (verdicts[i] != Verdict::kCredited || entries_[i].minutes <= 0) continue;
    for (const auto& place : LectureInTree::findAll(*courses, entries_[i].year, entries_[i].cwId))
      place.raiseTo(entries_[i].creditedFigure());
  }
  return true;
}

bool StudyBatch::applyStored(StudyLogDao& studyLog, ModelDao& tree, const SQLTransaction& open,
                             const std::vector<Verdict>& verdicts) const {
  if (!open.begun()) return false;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& entry = entries_[i];
    const platform::Value rowId(textOf(entry.row, "id"));
    switch (verdicts[i]) {
      case Verdict::kUnknown:
        break;
      case Verdict::kNotCredited:
        if (!studyLog.release(rowId, platform::Value(std::int64_t{0}))) return false;
        break;
      case Verdict::kCredited:
        if (!studyLog.release(rowId, platform::Value(entry.minutes * 60))) return false;
        if (entry.minutes > 0 &&
            !tree.raiseListenedMinutes(open, userId_, platform::Value(std::to_string(entry.year)),
                                       platform::Value(entry.cwId), entry.creditedFigure())) {
          return false;
        }
        break;
    }
  }
  return true;
}
