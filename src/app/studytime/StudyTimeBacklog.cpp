#include "studytime/StudyTimeBacklog.h"

#include <algorithm>
#include <string>

#include "alerts/NoticeHUDView.h"
#include "studytime/WaitingSettlement.h"

namespace {

const platform::Value& member(const platform::Dictionary& row, const char* key) {
  static const platform::Value null;
  const platform::Value* value = platform::find(row, key);
  return value ? *value : null;
}

}  // namespace

bool StudyTimeBacklog::addStep(StudyLogDao& studyLog, ModelDao& histories,
                               const platform::Dictionary& step, std::int64_t seconds) {
  keep(step, seconds);
  return flush(studyLog, histories);
}

bool StudyTimeBacklog::saveHistory(StudyLogDao& studyLog, ModelDao& histories,
                                   const ListenHistory& history) {
  std::erase_if(histories_,
                [&](const ListenHistory& waiting) { return sameLecture(waiting, history); });
  histories_.push_back(history);
  return flush(studyLog, histories);
}

std::int64_t StudyTimeBacklog::waitingSeconds(const platform::Dictionary& step) const {
  for (const auto& row : rows_)
    if (sameLecture(row.step, step)) return row.seconds;
  return 0;
}

bool StudyTimeBacklog::sameLecture(const platform::Dictionary& a, const platform::Dictionary& b) {
  for (const char* key : {"userid", "year", "reclassid", "cwid"})
    if (!(member(a, key) == member(b, key))) return false;
  return true;
}

bool StudyTimeBacklog::sameLecture(const ListenHistory& a, const ListenHistory& b) {
  return a.userId() == b.userId() && a.cwid() == b.cwid() && a.areCode() == b.areCode() &&
         a.year() == b.year() && a.reclassId() == b.reclassId();
}

void StudyTimeBacklog::keep(const platform::Dictionary& step, std::int64_t seconds) {
  for (auto& row : rows_) {
    if (!sameLecture(row.step, step)) continue;
    // The row keeps when its time was first credited and takes the latest step's time.
    row.step["lastUpdateTime"] = member(step, "lastUpdateTime");
    row.seconds += seconds;
    return;
  }
  rows_.push_back(WaitingRow{step, seconds});
}

bool StudyTimeBacklog::writeRow(StudyLogDao& studyLog, const WaitingRow& row) {
  platform::Dictionary record = row.step;
  if (studyLog.exists(member(record, "userid"), member(record, "year"), member(record, "reclassid"),
                      member(record, "cwid"))) {
    record["logTime"] = platform::Value(row.seconds);
    return studyLog.update(record);
  }
  record["listenedPos"] = platform::Value(std::to_string(row.seconds));
  return studyLog.insert(record);
}

bool StudyTimeBacklog::flush(StudyLogDao& studyLog, ModelDao& histories) {
  bool wrote = false;
  std::erase_if(rows_, [&](const WaitingRow& row) {
    if (!writeRow(studyLog, row)) return false;
    written_ += row.seconds;
    wrote = true;
    return true;
  });
  std::erase_if(histories_, [&](const ListenHistory& history) {
    if (!histories.insertListenHistory(history)) return false;
    wrote = true;
    return true;
  });
  // The device has room again: an accepted upload's settlement need not wait for the next sync.
  if (wrote) WaitingSettlement::shared().write();
  if (isEmpty()) {
    told_ = false;
    return true;
  }
  if (!told_) {
    told_ = true;
    tellNoRoom();
  }
  return false;
}

void StudyTimeBacklog::tellNoRoom() {
  NoticeHUDView::hudWithBody(std::string(kNoRoomNotice), NoticeHUDView::kTypeExclamation, 2.0,
                             true);
}
