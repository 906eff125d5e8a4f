#include "dao/ModelDao.h"

#include "model/GlobalModel.h"
#include "sqlite/SQLTransaction.h"

using platform::Value;

namespace {

std::shared_ptr<CourseWare> storedLecture(SQLResultSet& rs) {
  auto cw = std::make_shared<CourseWare>();
  cw->setCwId(rs.intForColumn("cwID"));
  cw->setName(rs.stringForColumn("cwName"));
  cw->setUrl(rs.stringForColumn("cwUrl"));
  cw->setVideoUrl(rs.stringForColumn("cwVideoUrl"));
  cw->setTotalMins(rs.intForColumn("totalMinutes"));
  cw->setListenedMins(rs.intForColumn("listenedMinutes"));
  return cw;
}

std::shared_ptr<ReClass> storedClass(SQLResultSet& rs, model::Text year) {
  auto rc = std::make_shared<ReClass>();
  rc->setReClassId(rs.intForColumn("reclassId"));
  rc->setReClassName(rs.stringForColumn("reclassName"));
  rc->setTypeName(rs.stringForColumn("typeName"));
  rc->setTeacherName(rs.stringForColumn("teacherName"));
  rc->setListenedMins(rs.intForColumn("listenedMinutes"));
  rc->setTotalMins(rs.intForColumn("cwTotalMinutes"));
  rc->setCwNum(rs.intForColumn("cwNum"));
  rc->setType(rs.stringForColumn("type"));
  rc->setYear(std::move(year));
  return rc;
}

std::shared_ptr<ListenHistory> storedHistory(SQLResultSet& rs) {
  auto h = std::make_shared<ListenHistory>();
  h->setId(rs.intForColumn("id"));
  h->setUserId(rs.intForColumn("userid"));
  h->setCwid(rs.intForColumn("cwid"));
  h->setLastListenTime(rs.stringForColumn("lastListenTime"));
  h->setListenedMilliseconds(rs.intForColumn("listenedMillisecond"));
  h->setAreCode(rs.stringForColumn("areaCode"));
  h->setYear(rs.stringForColumn("year"));
  h->setReclassId(rs.intForColumn("reclassId"));
  return h;
}

}  // namespace

// --- Course tree ---

model::List<Course> ModelDao::getAllCousre(const Value& userId, const Value& areaCode) {
  model::List<Course> courses;
  auto years = runQuery("select * from year where userId=? order by years desc", userId);
  if (!years) return courses;
  while (years->next()) {
    model::Text yearText = years->stringForColumn("years");
    auto course = std::make_shared<Course>();
    course->setYear(platform::leadingInteger(yearText.value_or("")));
    model::List<ReClass> classes;
    if (auto rs = runQuery("select * from reclass where year=? and userId=? and areaCode=?",
                           yearText, userId, areaCode)) {
      while (rs->next()) classes.push_back(storedClass(*rs, yearText));
      rs->close();
    }
    for (const auto& rc : classes) {
      model::List<CourseWare> lectures;
      if (auto rs = runQuery("select * from courseware where reclassId=? and userid=?",
                             rc->reClassId(), userId)) {
        while (rs->next()) lectures.push_back(storedLecture(*rs));
        rs->close();
      }
      rc->setCws(std::move(lectures));
    }
    course->setReClasses(std::move(classes));
    courses.push_back(std::move(course));
  }
  years->close();
  return courses;
}

void ModelDao::delYearAll(const Value& userId) {
  runUpdate("delete  from year where userid=?", userId);
}

bool ModelDao::delReClass(const Value& userId, const Value& areaCode) {
  return runUpdate("delete  from reclass where userid=? and areaCode=?", userId, areaCode);
}

bool ModelDao::delCourseWare(const Value& userId) {
  return runUpdate("delete  from courseware where userid=?", userId);
}

void ModelDao::insertReClass(const Course& course, const Value& areaCode) {
  if (!db()) return;
  // When the transaction cannot begin, the rows are still written, one statement at a time.
  SQLTransaction transaction(*db());
  // The rows carry the logged-in user, whoever the caller named.
  int userId = GlobalModel::sharedModel()->userId();
  model::Text yearText;
  if (course.year()) yearText = std::to_string(*course.year());
  insertYear(userId, SQLArgument::toValue(yearText));
  if (const auto& classes = course.reClasses()) {
    for (const auto& rc : *classes) {
      if (!rc) continue;
      runUpdate(
          "insert into reclass "
          "(reclassId,cwNum,cwTotalMinutes,reclassName,type,typeName,teacherName,year,areacode,"
          "userid,listenedMinutes) values(?,?,?,?,?,?,?,?,?,?,?)",
          rc->reClassId(), rc->cwNum(), rc->totalMins(), rc->reClassName(), rc->type(),
          rc->typeName(), rc->teacherName(), rc->year(), areaCode, userId, rc->listenedMins());
      if (!rc->cws()) continue;
      for (const auto& cw : *rc->cws()) {
        if (!cw) continue;
        runUpdate(
            "insert into courseware "
            "(cwID,cwName,cwUrl,cwVideoUrl,totalMinutes,reclassId,userid,listenedMinutes,areacode,"
            "year) values(?,?,?,?,?,?,?,?,?,?)",
            cw->cwId(), cw->name(), cw->url(), cw->videoUrl(), cw->totalMins(), rc->reClassId(),
            userId, cw->listenedMins(), areaCode, yearText);
      }
    }
  }
  // Whatever single rows failed, the rest is kept; a failed commit is rolled back.
  transaction.commit();
}

bool ModelDao::addListenedMinutes(const Value& userId, const Value& year, const Value& cwId,
                                  std::int64_t minutes) {
  if (!db()) return false;
  SQLTransaction transaction(*db());
  return addListenedMinutes(transaction, userId, year, cwId, minutes) && transaction.commit();
}

bool ModelDao::addListenedMinutes(const SQLTransaction& open, const Value& userId,
                                  const Value& year, const Value& cwId, std::int64_t minutes) {
  if (!open.begun()) return false;
  // The class first, while the lecture rows still name it.
  const bool classes = runUpdate(
      "update reclass set listenedMinutes=ifnull(listenedMinutes,0)+? where userid=? and year=? "
      "and reclassId in (select reclassId from courseware where userid=? and year=? and cwID=?)",
      minutes, userId, year, userId, year, cwId);
  return classes && runUpdate(
                        "update courseware set listenedMinutes=ifnull(listenedMinutes,0)+? where "
                        "userid=? and year=? and cwID=?",
                        minutes, userId, year, cwId);
}

bool ModelDao::raiseListenedMinutes(const SQLTransaction& open, const Value& userId,
                                    const Value& year, const Value& cwId, std::int64_t minutes) {
  if (!open.begun()) return false;
  // The class first, by the lecture's rise, while the lecture still holds its old figure.
  const bool classes = runUpdate(
      "update reclass set listenedMinutes=ifnull(listenedMinutes,0)+max(0,?-(select "
      "ifnull(max(listenedMinutes),0) from courseware where userid=? and year=? and cwID=?)) "
      "where userid=? and year=? and reclassId in (select reclassId from courseware where "
      "userid=? and year=? and cwID=?)",
      minutes, userId, year, cwId, userId, year, userId, year, cwId);
  return classes && runUpdate(
                        "update courseware set listenedMinutes=max(ifnull(listenedMinutes,0),?) "
                        "where userid=? and year=? and cwID=?",
                        minutes, userId, year, cwId);
}

void ModelDao::insertYear(const Value& userId, const Value& year) {
  runUpdate("insert into year (userId,years) values(?,?)", userId, year);
}

bool ModelDao::exists(const Value& userId, const Value& year, const Value& areaCode) {
  auto rs =
      runQuery("select count(reclassId) from reclass where year=? and areacode=? and userid=?",
               year, areaCode, userId);
  if (!rs) return false;
  bool found = rs->next() && rs->intForColumnIndex(0) > 0;
  rs->close();
  return found;
}

std::shared_ptr<Course> ModelDao::getCousre(const Value& userId, const Value& cwid,
                                            const Value& year, const Value& areaCode) {
  auto course = std::make_shared<Course>();
  course->setYear(year.integerValue());
  model::List<ReClass> classes;
  auto rs = runQuery(
      "select reclass.reclassId as reclassId,reclass.reclassName as reclassName,reclass.typeName "
      "as typeName,reclass.teacherName as teacherName,reclass.year as year,courseware.cwID as "
      "cwID,courseware.cwName as cwName,courseware.cwUrl as cwUrl,courseware.cwVideoUrl as "
      "cwVideoUrl,courseware.totalMinutes as totalMinutes,courseware.listenedMinutes as "
      "listenedMinutes from reclass,courseware where reclass.reclassId=courseware.reclassId and "
      "reclass.userid=courseware.userid and courseware.cwID=? and reclass.areacode=? and "
      "reclass.year=? and reclass.userid=? order by reclass.reclassId",
      cwid, areaCode, year, userId);
  if (rs) {
    while (rs->next()) {
      auto rc = std::make_shared<ReClass>();
      rc->setReClassId(rs->intForColumn("reclassId"));
      rc->setReClassName(rs->stringForColumn("reclassName"));
      rc->setTypeName(rs->stringForColumn("typeName"));
      rc->setTeacherName(rs->stringForColumn("teacherName"));
      rc->setYear(rs->stringForColumn("year"));
      rc->setCws(model::List<CourseWare>{storedLecture(*rs)});
      classes.push_back(std::move(rc));
    }
    rs->close();
  }
  course->setReClasses(std::move(classes));
  return course;
}

// --- Listen history ---

bool ModelDao::insertListenHistory(const ListenHistory& history) {
  deleteListenHistory(history);
  return runUpdate(
      "insert into listenhistory "
      "(userid,cwid,lastListenTime,listenedMillisecond,areaCode,year,reclassId) "
      "values(?,?,?,?,?,?,?)",
      history.userId(), history.cwid(), history.lastListenTime(), history.listenedMilliseconds(),
      history.areCode(), history.year(), history.reclassId());
}

bool ModelDao::deleteListenHistory(const ListenHistory& history) {
  return runUpdate(
      "delete  from listenhistory where cwid=? and userid=? and areaCode=? and year=? and "
      "reclassId=?",
      history.cwid(), history.userId(), history.areCode(), history.year(), history.reclassId());
}

bool ModelDao::deleteAllListenHistory(const Value& userId, const Value& year) {
  return runUpdate("delete  from listenhistory where userid=? and year=?", userId, year);
}

model::List<ListenHistory> ModelDao::historiesFrom(std::unique_ptr<SQLResultSet> rs) {
  model::List<ListenHistory> histories;
  if (!rs) return histories;
  while (rs->next()) histories.push_back(storedHistory(*rs));
  rs->close();
  return histories;
}

model::List<ListenHistory> ModelDao::getAllListenHistory(const Value& userId, const Value& year) {
  return historiesFrom(
      runQuery("select * from listenhistory where userid=? and year=? order by lastListenTime desc",
               userId, year));
}

model::List<ListenHistory> ModelDao::getAllListenHistory(const Value& userId) {
  return historiesFrom(runQuery("select * from listenhistory where userid=?", userId));
}

std::shared_ptr<ListenHistory> ModelDao::getLatelyListenHistory(const Value& userId,
                                                                const Value& reclassId) {
  auto rs = runQuery(
      "select * from listenhistory where userid=? and reclassId=? order by lastListenTime DESC",
      userId, reclassId);
  if (!rs) return std::make_shared<ListenHistory>();
  std::shared_ptr<ListenHistory> newest;
  if (rs->next()) {
    newest = storedHistory(*rs);
    newest->setReclassId(std::nullopt);
  }
  rs->close();
  return newest ? newest : std::make_shared<ListenHistory>();
}

std::string ModelDao::getLastListenTimeByUserId(const Value& userId, const Value& year) {
  auto rs = runQuery(
      "select lastListenTime from listenhistory where userid=? and year=? order by lastListenTime "
      "desc",
      userId, year);
  if (!rs) return "";
  std::string newest;
  if (rs->next()) newest = rs->stringForColumn("lastListenTime").value_or("");
  rs->close();
  return newest;
}

bool ModelDao::existsListenHistory(const Value& userId, const Value& cwId) {
  auto rs =
      runQuery("select count(cwId) from listenhistory where cwid=?  and userid=?", cwId, userId);
  if (!rs) return false;
  bool found = rs->next() && rs->intForColumnIndex(0) > 0;
  rs->close();
  return found;
}

// --- Downloaded lectures ---

model::List<Course> ModelDao::getDownloadInfo(const Value& userId, const Value& areaCode,
                                              bool isOnline) {
  model::List<Course> courses;
  auto years = runQuery(
      isOnline ? "select * from download_info where areaCode=? and userId=? group by year order "
                 "by year desc"
               : "select * from download_info where areaCode=? and userId=? and state = 1 group "
                 "by year order by year desc",
      areaCode, userId);
  if (!years) return courses;
  while (years->next()) {
    int year = years->intForColumn("year");
    auto course = std::make_shared<Course>();
    course->setYear(year);
    model::List<ReClass> classes;
    auto classRows = runQuery(
        isOnline ? "select * from download_info where userId= ? and areacode=? and year=? group "
                   "by reclassid"
                 : "select * from download_info where userId= ? and areacode=? and year=? and "
                   "state =1 group by reclassid",
        userId, areaCode, year);
    while (classRows && classRows->next()) {
      int reclassId = classRows->intForColumn("reclassid");
      auto rs = runQuery(
          "select * from reclass where reclassId= ? and areacode=? and year=? and userid=?",
          reclassId, areaCode, year, userId);
      while (rs && rs->next()) classes.push_back(storedClass(*rs, std::to_string(year)));
      if (rs) rs->close();
    }
    if (classRows) classRows->close();
    for (const auto& rc : classes) rc->setCws(downloadedLectures(*rc, userId, areaCode, isOnline));
    course->setReClasses(std::move(classes));
    courses.push_back(std::move(course));
  }
  years->close();
  return courses;
}

model::List<CourseWare> ModelDao::downloadedLectures(const ReClass& rc, const Value& userId,
                                                     const Value& areaCode, bool isOnline) {
  model::List<CourseWare> lectures;
  auto rows = runQuery(
      isOnline ? "select * from download_info where reclassid = ? and year=? and userId=? and "
                 "areacode=?"
               : "select * from download_info where reclassid = ? and year=? and userId=? and "
                 "areacode=? and state=1",
      rc.reClassId(), rc.year(), userId, areaCode);
  while (rows && rows->next()) {
    auto rs =
        runQuery("select * from courseware where cwid = ? and year=? and userId=? and areacode=?",
                 rows->intForColumn("cwid"), rc.year(), userId, areaCode);
    while (rs && rs->next()) lectures.push_back(storedLecture(*rs));
    if (rs) rs->close();
  }
  if (rows) rows->close();
  return lectures;
}
