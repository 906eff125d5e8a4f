#pragma once
// CourseWareDao: lecture lookups on the stored course tree (table "courseware"), for the study
// screens.

#include <map>
#include <string>

#include "dao/BaseDao.h"
#include "model/CourseWare.h"
#include "platform/foundation/Value.h"

class CourseWareDao : public BaseDao {
 public:
  std::optional<std::string> setTable(const std::string& sql) const override;

  // Lecture id to {"cwName", "listenedMinutes", "totalMinutes"} for the user's lectures of a
  // year (or of every year); a later row of the same lecture replaces an earlier one.
  std::map<std::int64_t, platform::Dictionary> queryCwInfosByUserId(const platform::Value& userId,
                                                                    const platform::Value& year);
  std::map<std::int64_t, platform::Dictionary> queryCwInfosByUserId(const platform::Value& userId);
  // The lecture from the last matching row, with its class id; null when none matches.
  std::shared_ptr<CourseWare> queryCwByUserId(const platform::Value& userId,
                                              const platform::Value& areaCode,
                                              const platform::Value& year,
                                              const platform::Value& reclassId,
                                              const platform::Value& cwId);
  // Every lecture of the class, one per row.
  model::List<CourseWare> queryCwByUserId(const platform::Value& userId,
                                          const platform::Value& areaCode,
                                          const platform::Value& year,
                                          const platform::Value& reclassId);
  // Lecture id to lecture name.
  std::map<std::int64_t, std::string> queryAllNames();

 private:
  std::map<std::int64_t, platform::Dictionary> infosFrom(std::unique_ptr<SQLResultSet> rs);
};
