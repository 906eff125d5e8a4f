#pragma once
// StudyLogDao: study time not yet uploaded (table "studylog"): one row per user, year, class
// and lecture whose `listenedPos` counts the seconds credited on the device. The player adds
// 10-second steps, the upload marks, reads and settles the rows (see studytime/StudyBatch), and the
// study-records screen shows per-year summaries that combine the server's minutes (from the global
// course tree) with the local seconds.
//
// Dictionary keys are letter-exact: the row maps use "listenedPos", the lecture lookups answer
// "cwId" and "listenedpos".

#include <map>
#include <string>
#include <vector>

#include "dao/BaseDao.h"
#include "platform/foundation/Value.h"

class StudyLogDao : public BaseDao {
 public:
  // The fixed text the per-year summaries carry under "lastTime".
  static constexpr const char* kSummaryLastTime = "2013-12-13 13:21";

  std::optional<std::string> setTable(const std::string& sql) const override;

  bool exists(const platform::Value& userId, const platform::Value& year,
              const platform::Value& reClassId, const platform::Value& cwId);
  // Adds a row from {"userid", "year", "reclassid", "cwid", "createdTime", "lastUpdateTime",
  // "listenedPos"}; false, writing nothing, when the lecture already has a row.
  bool insert(const platform::Dictionary& row);
  // Adds "logTime" seconds to the lecture's row and sets its "lastUpdateTime"; true when the
  // statement ran, also when no row matched.
  bool update(const platform::Dictionary& row);
  bool deleteById(const platform::Value& rowId);
  // The user's rows by year text, each {"cwid", "createdTime", "lastUpdateTime", "listenedPos",
  // "id"} as texts, for the upload.
  std::map<std::string, std::vector<platform::Dictionary>> getByUserId(
      const platform::Value& userId);
  // {"cwId", "listenedpos"} (texts) of the lecture's rows, their seconds summed (an unmarked
  // and a marked row), or an empty map.
  platform::Dictionary getByReClassId(const platform::Value& reclassId,
                                      const platform::Value& userId, const platform::Value& cwId,
                                      const platform::Value& year);
  platform::Dictionary getByUserId(const platform::Value& userId, const platform::Value& cwId,
                                   const platform::Value& year);
  // {"listenedpos": total unsent seconds} (0 without rows); empty when the query fails.
  platform::Dictionary getUnSyncMins(const platform::Value& userId);
  // One summary per course of the global course tree, in its order: "year", "totalMins",
  // "unStudyMins" (not clamped: it can be negative), "localMins", "lastTime".
  std::vector<platform::Dictionary> getAllStudyLogByUserId(const platform::Value& userId);
  // Year text to the text of the year's summed unsent seconds.
  std::map<std::string, std::string> getStudyMinsByYear(const platform::Value& userId);
  // Course year to {"totalMins", "listenMins"}: the class sums of the global course tree (a
  // later course of the same year replaces an earlier one).
  std::map<std::int64_t, platform::Dictionary> getYearStudyMins();
  // [{"year", "listenedpos"}] as texts, in row order.
  std::vector<platform::Dictionary> getByYear(const platform::Value& userId);
  // Takes back exactly the `seconds` an upload sent from the row `rowId` and deletes the row
  // once nothing is left, so steps added while the upload was in flight survive it. True when
  // both statements ran (also when the row is gone meanwhile).
  bool deductSent(const platform::Value& rowId, const platform::Value& seconds);

  // The upload batch. Column `sync` is NULL while a row waits for an upload; a row marked for
  // an upload holds there the lecture's minutes on the server when the batch was sent. Steps
  // go only into unmarked rows (`exists` and `update` look at those alone), so a lecture has at
  // most one unmarked and one marked row, and the per-lecture reads above sum both.
  //
  // Folds each lecture's unmarked rows of the user into its first one.
  bool mergeUnmarked(const platform::Value& userId);
  // Marks the lecture's unmarked rows with the server's minutes.
  bool mark(const platform::Value& userId, const platform::Value& year, const platform::Value& cwId,
            const platform::Value& serverMinutes);
  // The user's marked rows, each {"id", "year", "cwid", "createdTime", "lastUpdateTime",
  // "listenedPos", "sync"} as texts, in row order.
  std::vector<platform::Dictionary> getMarkedByUserId(const platform::Value& userId);
  // The users who have marked rows.
  std::vector<platform::Value> usersWithMarkedRows();
  // Takes `secondsCredited` off the marked row `rowId` and hands what is left back to the
  // lecture's unmarked seconds (into its unmarked row when it has one); nothing left, no row.
  bool release(const platform::Value& rowId, const platform::Value& secondsCredited);

 private:
  platform::Dictionary positionOfLastRow(std::unique_ptr<SQLResultSet> rs);
};
