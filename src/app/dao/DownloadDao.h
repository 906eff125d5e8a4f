#pragma once
// DownloadDao: the download list (table "download_info"): one row per lecture a user queued in
// a region and year, in state 0 (queued or unfinished) or 1 (finished).

#include <string>

#include "dao/BaseDao.h"
#include "model/DownloadInfo.h"
#include "platform/foundation/Value.h"

class DownloadDao : public BaseDao {
 public:
  static constexpr int kStateQueued = 0;
  static constexpr int kStateFinished = 1;

  std::optional<std::string> setTable(const std::string& sql) const override;

  // Whether the lecture has a row in any state.
  bool exists(const platform::Value& userId, const platform::Value& cwId,
              const platform::Value& year, const platform::Value& areacode);
  // Adds a row; callers check `exists` first, nothing here prevents a second row.
  bool insert(const DownloadInfo& info);
  // Whether the lecture has a row in `state`.
  bool queryByState(const platform::Value& userId, const platform::Value& cwId,
                    const platform::Value& state, const platform::Value& areacode,
                    const platform::Value& year);
  // The class's rows in `state`, in the order the database gives them (`areacode` not set).
  model::List<DownloadInfo> queryArrayByState(const platform::Value& userId,
                                              const platform::Value& reclassId,
                                              const platform::Value& state,
                                              const platform::Value& areacode,
                                              const platform::Value& year);
  // Sets the state of every matching row.
  void update(const platform::Value& userId, const platform::Value& cwid,
              const platform::Value& state, const platform::Value& areacode,
              const platform::Value& year);
  // Deletes the matching rows; true when the statement ran, also when nothing matched.
  bool del(const platform::Value& userId, const platform::Value& reclassId,
           const platform::Value& cwid, const platform::Value& areacode,
           const platform::Value& year);

 private:
  bool countAboveZero(std::unique_ptr<SQLResultSet> rs);
};
