#pragma once
// ReClassDao: course-class lookups (table "reclass") and the map from lecture to class type
// that the study-log upload sends along.

#include <map>
#include <string>

#include "dao/BaseDao.h"
#include "model/ReClass.h"
#include "platform/foundation/Value.h"

class ReClassDao : public BaseDao {
 public:
  std::optional<std::string> setTable(const std::string& sql) const override;

  // Lecture id to its class's type, walked from the global course tree (no table is read). A
  // lecture under two classes ends with the later class's type; a lecture without an id, or
  // whose class has no type, gets no entry.
  std::map<std::int64_t, std::string> getAllCwType();

  // Every stored class id with its name.
  model::List<ReClass> queryAllNames();
  // Lecture id to class type, from the stored tables.
  std::map<std::int64_t, std::string> queryAllTypes();
  model::List<ReClass> queryById(const platform::Value& reclassId);
  // {"year", "sum(listenedMinutes)", "sum(cwTotalMinutes)"} (texts) of the last year row.
  platform::Dictionary queryStudyTimes(const platform::Value& userId,
                                       const platform::Value& areaCode);
  // Adds exactly one minute to the lecture, whatever `listenedTimes` says.
  bool updateListenedTimes(const platform::Value& userId, const platform::Value& reclassId,
                           const platform::Value& cwId, const platform::Value& listenedTimes);
  // The user's classes in the region with their ids and listened and total minutes.
  model::List<ReClass> queryProgress(const platform::Value& userId,
                                     const platform::Value& areaCode);
};
