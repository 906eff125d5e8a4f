#pragma once
// StudyTimeBacklog: how the players write study time, keeping what the device cannot store.
// A 10-second step or a listen history that cannot be written (the device has no room left)
// stays in memory and is written with the next step or history of any player; a lecture's
// waiting seconds count towards its credited point meanwhile. The learner is told once, through
// the notice queue, that the device has no room; once everything waiting has been written, a
// later failure tells again. What waits when the process ends is lost, as it would be anyway.
//
// A write that succeeds also writes an accepted upload's settlement that waits for room
// (WaitingSettlement).
//
// It also counts the seconds written to the study log since launch: the study time credited in
// this run.
//
// ApplicationServices holds one for the whole run, so the backlog outlives the player that left
// it. Main thread only.

#include <cstdint>
#include <vector>

#include "dao/ModelDao.h"
#include "dao/StudyLogDao.h"
#include "model/ListenHistory.h"
#include "platform/foundation/Value.h"

class StudyTimeBacklog {
 public:
  static constexpr const char* kNoRoomNotice = "设备存储空间不足";
  // Tells the learner, through the notice queue, that the device has no room left.
  static void tellNoRoom();

  // Adds `seconds` to the study-log row of the lecture that `step` names (the player's step
  // record: "userid", "year", "reclassid", "cwid", "createdTime", "lastUpdateTime"), together
  // with whatever waits. False when something had to stay in memory.
  bool addStep(StudyLogDao& studyLog, ModelDao& histories, const platform::Dictionary& step,
               std::int64_t seconds);
  // Stores a lecture's listen history (it replaces one still waiting for the same lecture),
  // together with whatever waits. False when something had to stay in memory.
  bool saveHistory(StudyLogDao& studyLog, ModelDao& histories, const ListenHistory& history);

  // The seconds waiting for the lecture that `step` names.
  std::int64_t waitingSeconds(const platform::Dictionary& step) const;
  bool isEmpty() const { return rows_.empty() && histories_.empty(); }
  std::int64_t secondsWritten() const { return written_; }

 private:
  struct WaitingRow {
    platform::Dictionary step;
    std::int64_t seconds = 0;
  };

  static bool sameLecture(const platform::Dictionary& a, const platform::Dictionary& b);
  static bool sameLecture(const ListenHistory& a, const ListenHistory& b);
  static bool writeRow(StudyLogDao& studyLog, const WaitingRow& row);
  void keep(const platform::Dictionary& step, std::int64_t seconds);
  // Writes what waits; tells the learner when something must go on waiting.
  bool flush(StudyLogDao& studyLog, ModelDao& histories);

  std::vector<WaitingRow> rows_;
  std::vector<ListenHistory> histories_;
  std::int64_t written_ = 0;
  bool told_ = false;
};
