#pragma once
// ModelDao: the stored course tree of a user (tables "year", "reclass", "courseware"), the last
// play of each lecture (table "listenhistory") and the tree of downloaded lectures for the
// local-courses screen (table "download_info" joined with the course tables).

#include <string>

#include "dao/BaseDao.h"
#include "model/Course.h"
#include "model/ListenHistory.h"
#include "platform/foundation/Value.h"

class SQLTransaction;

class ModelDao : public BaseDao {
 public:
  // --- Course tree ---
  // The stored tree of the user in the region, newest year first; a year row that occurs twice
  // gives two courses. Classes and lecture lists are never absent (possibly empty).
  model::List<Course> getAllCousre(const platform::Value& userId, const platform::Value& areaCode);
  void delYearAll(const platform::Value& userId);
  bool delReClass(const platform::Value& userId, const platform::Value& areaCode);
  bool delCourseWare(const platform::Value& userId);
  // Stores one course with its classes and lectures, in one transaction, under the user id of
  // the global model.
  void insertReClass(const Course& course, const platform::Value& areaCode);
  void insertYear(const platform::Value& userId, const platform::Value& year);
  // Adds `minutes` the server credited to the stored lecture of the user's year (every region)
  // and to the class holding it, in one transaction; false, changing nothing, when it fails.
  bool addListenedMinutes(const platform::Value& userId, const platform::Value& year,
                          const platform::Value& cwId, std::int64_t minutes);
  // The same inside `open`, a transaction the caller began on this object's connection (see
  // BaseDao::setDb) and commits or rolls back with its own writes; false when `open` did not
  // begin or a statement failed (the caller then rolls back).
  bool addListenedMinutes(const SQLTransaction& open, const platform::Value& userId,
                          const platform::Value& year, const platform::Value& cwId,
                          std::int64_t minutes);
  // Inside `open` as above: raises the stored lecture's minutes to at least `minutes` (what the
  // server counts once it credited a batch), and its class by as much as the lecture rose. A
  // tree fetched since, which counts them already, is left as it is.
  bool raiseListenedMinutes(const SQLTransaction& open, const platform::Value& userId,
                            const platform::Value& year, const platform::Value& cwId,
                            std::int64_t minutes);
  bool exists(const platform::Value& userId, const platform::Value& year,
              const platform::Value& areaCode);
  // The classes of the region and year that hold the lecture, each with that lecture, ordered
  // by class id; the course's year is the year's integer value.
  std::shared_ptr<Course> getCousre(const platform::Value& userId, const platform::Value& cwid,
                                    const platform::Value& year, const platform::Value& areaCode);

  // --- Listen history: one row per user, lecture, region, year and class ---
  // Replaces the lecture's row with `history`; the success of the insert.
  bool insertListenHistory(const ListenHistory& history);
  bool deleteListenHistory(const ListenHistory& history);
  bool deleteAllListenHistory(const platform::Value& userId, const platform::Value& year);
  // Newest play first.
  model::List<ListenHistory> getAllListenHistory(const platform::Value& userId,
                                                 const platform::Value& year);
  model::List<ListenHistory> getAllListenHistory(const platform::Value& userId);
  // The class's newest play (without its class id); an empty history when there is none.
  std::shared_ptr<ListenHistory> getLatelyListenHistory(const platform::Value& userId,
                                                        const platform::Value& reclassId);
  // The newest play time of the year, or the empty text.
  std::string getLastListenTimeByUserId(const platform::Value& userId, const platform::Value& year);
  bool existsListenHistory(const platform::Value& userId, const platform::Value& cwId);

  // --- Downloaded lectures ---
  // One course per year with download rows, newest first, each class with its downloaded
  // lectures. Online every row counts; offline only finished ones (state 1). Classes come only
  // from the user's own stored classes, so two users of one device never see each other's.
  model::List<Course> getDownloadInfo(const platform::Value& userId,
                                      const platform::Value& areaCode, bool isOnline);

 private:
  model::List<ListenHistory> historiesFrom(std::unique_ptr<SQLResultSet> rs);
  model::List<CourseWare> downloadedLectures(const ReClass& rc, const platform::Value& userId,
                                             const platform::Value& areaCode, bool isOnline);
};
