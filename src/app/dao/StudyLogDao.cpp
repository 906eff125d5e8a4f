#include "dao/StudyLogDao.h"

#include "model/GlobalModel.h"

using platform::Dictionary;
using platform::Value;

namespace {

const Value& member(const Dictionary& row, const std::string& key) {
  static const Value null;
  const Value* v = platform::find(row, key);
  return v ? *v : null;
}

// Leaves absent texts out of a map, as every map built here does.
void putText(Dictionary& map, const std::string& key, const std::optional<std::string>& text) {
  if (text) map[key] = *text;
}

// {"cwid", "createdTime", "lastUpdateTime", "listenedPos", "id"} of the current row, as the
// upload takes them.
Dictionary uploadRow(SQLResultSet& rs) {
  Dictionary entry;
  putText(entry, "cwid", rs.stringForColumn("cwid"));
  putText(entry, "createdTime", rs.stringForColumn("datetime(createdTime)"));
  putText(entry, "lastUpdateTime", rs.stringForColumn("datetime(lastUpdateTime)"));
  putText(entry, "listenedPos", rs.stringForColumn("listenedPos"));
  putText(entry, "id", rs.stringForColumn("id"));
  return entry;
}

const char* kSumByYearSql = "select year,sum(listenedpos) from  %@  where userid=? group by year ";

}  // namespace

std::optional<std::string> StudyLogDao::setTable(const std::string& sql) const {
  return withTable(sql, "studylog");
}

bool StudyLogDao::exists(const Value& userId, const Value& year, const Value& reClassId,
                         const Value& cwId) {
  auto rs = runQuery(
      tableSql("select count(*)  from %@ where  userid=? and year=? and reclassid=? and cwid=? "
               "and sync is null"),
      userId, year, reClassId, cwId);
  if (!rs) return false;
  bool found = rs->next() && rs->intForColumnIndex(0) > 0;
  rs->close();
  return found;
}

bool StudyLogDao::insert(const Dictionary& row) {
  if (exists(member(row, "userid"), member(row, "year"), member(row, "reclassid"),
             member(row, "cwid"))) {
    return false;
  }
  return runUpdate(tableSql("insert into %@ (userid,year,reclassid,cwid,createdTime,"
                            "lastUpdateTime,listenedPos) values(?,?,?,?,?,?,?)"),
                   member(row, "userid"), member(row, "year"), member(row, "reclassid"),
                   member(row, "cwid"), member(row, "createdTime"), member(row, "lastUpdateTime"),
                   member(row, "listenedPos"));
}

bool StudyLogDao::update(const Dictionary& row) {
  return runUpdate(
      tableSql("update  %@ set listenedPos=listenedPos+? ,lastUpdateTime=? where "
               "userid=? and year=? and          reclassid=? and cwid=? and sync is null"),
      member(row, "logTime"), member(row, "lastUpdateTime"), member(row, "userid"),
      member(row, "year"), member(row, "reclassid"), member(row, "cwid"));
}

bool StudyLogDao::deleteById(const Value& rowId) {
  return runUpdate(tableSql("delete  from %@   where id=?"), rowId);
}

std::map<std::string, std::vector<Dictionary>> StudyLogDao::getByUserId(const Value& userId) {
  std::map<std::string, std::vector<Dictionary>> byYear;
  auto rs = runQuery(tableSql("select year,cwid,datetime(createdTime),datetime(lastUpdateTime),"
                              "listenedPos,id from %@ where userid=?"),
                     userId);
  if (!rs) return byYear;
  while (rs->next()) {
    auto year = rs->stringForColumn("year");
    if (!year) continue;
    byYear[*year].push_back(uploadRow(*rs));
  }
  rs->close();
  return byYear;
}

Dictionary StudyLogDao::positionOfLastRow(std::unique_ptr<SQLResultSet> rs) {
  Dictionary position;
  if (!rs) return position;
  while (rs->next()) {
    position.clear();
    putText(position, "cwId", rs->stringForColumn("cwid"));
    putText(position, "listenedpos", rs->stringForColumn("listenedPos"));
  }
  rs->close();
  return position;
}

Dictionary StudyLogDao::getByReClassId(const Value& reclassId, const Value& userId,
                                       const Value& cwId, const Value& year) {
  return positionOfLastRow(
      runQuery(tableSql("select cwid,sum(listenedPos) as listenedPos from  %@  where userid=? "
                        "and reclassid=? and cwid=? and year=? group by cwid"),
               userId, reclassId, cwId, year));
}

Dictionary StudyLogDao::getByUserId(const Value& userId, const Value& cwId, const Value& year) {
  return positionOfLastRow(
      runQuery(tableSql("select cwid,sum(listenedPos) as listenedPos from  %@  where userid=?  "
                        "and cwid=? and year=? group by cwid"),
               userId, cwId, year));
}

Dictionary StudyLogDao::getUnSyncMins(const Value& userId) {
  Dictionary result;
  auto rs = runQuery(tableSql("select sum(listenedpos) from  %@  where userid=?"), userId);
  if (!rs) return result;
  if (rs->next()) result["listenedpos"] = rs->intForColumnIndex(0);
  rs->close();
  return result;
}

std::map<std::string, std::string> StudyLogDao::getStudyMinsByYear(const Value& userId) {
  std::map<std::string, std::string> seconds;
  auto rs = runQuery(tableSql(kSumByYearSql), userId);
  if (!rs) return seconds;
  while (rs->next()) {
    auto year = rs->stringForColumn("year");
    auto sum = rs->stringForColumn("sum(listenedpos)");
    if (year && sum) seconds[*year] = *sum;
  }
  rs->close();
  return seconds;
}

std::vector<Dictionary> StudyLogDao::getByYear(const Value& userId) {
  std::vector<Dictionary> rows;
  auto rs = runQuery(tableSql(kSumByYearSql), userId);
  if (!rs) return rows;
  while (rs->next()) {
    Dictionary row;
    putText(row, "year", rs->stringForColumn("year"));
    putText(row, "listenedpos", rs->stringForColumn("sum(listenedpos)"));
    rows.push_back(std::move(row));
  }
  rs->close();
  return rows;
}

std::map<std::int64_t, Dictionary> StudyLogDao::getYearStudyMins() {
  std::map<std::int64_t, Dictionary> byYear;
  const auto& courses = GlobalModel::sharedModel()->courses();
  if (!courses) return byYear;
  for (const auto& course : *courses) {
    if (!course || !course->year()) continue;
    std::int64_t total = 0, listened = 0;
    if (const auto& classes = course->reClasses()) {
      for (const auto& rc : *classes) {
        if (!rc) continue;
        total += rc->totalMins().value_or(0);
        listened += rc->listenedMins().value_or(0);
      }
    }
    byYear[*course->year()] = Dictionary{{"totalMins", total}, {"listenMins", listened}};
  }
  return byYear;
}

std::vector<Dictionary> StudyLogDao::getAllStudyLogByUserId(const Value& userId) {
  std::vector<Dictionary> summaries;
  auto localSeconds = getStudyMinsByYear(userId);
  auto serverMinutes = getYearStudyMins();
  const auto& courses = GlobalModel::sharedModel()->courses();
  if (!courses) return summaries;
  for (const auto& course : *courses) {
    if (!course) continue;
    std::int64_t year = course->year().value_or(0);
    std::int64_t localMins = 0;
    if (auto it = localSeconds.find(std::to_string(year)); it != localSeconds.end()) {
      localMins = platform::leadingInteger(it->second) / 60;  // truncates toward zero
    }
    std::int64_t total = 0, listened = 0;
    if (auto it = serverMinutes.find(year); course->year() && it != serverMinutes.end()) {
      total = it->second["totalMins"].integerValue();
      listened = it->second["listenMins"].integerValue();
    }
    Dictionary summary{{"totalMins", listened + localMins},
                       {"unStudyMins", total - listened - localMins},
                       {"localMins", localMins},
                       {"lastTime", kSummaryLastTime}};
    if (course->year()) summary["year"] = *course->year();
    summaries.push_back(std::move(summary));
  }
  return summaries;
}

bool StudyLogDao::deductSent(const platform::Value& rowId, const platform::Value& seconds) {
  bool updated =
      runUpdate(tableSql("update %@ set listenedPos=listenedPos-? where id=?"), seconds, rowId);
  bool cleared = runUpdate(tableSql("delete from %@ where id=? and listenedPos<=0"), rowId);
  return updated && cleared;
}

namespace {

// The unmarked row of the same lecture as the row `r`, other than `r` itself.
const char* kSameLectureUnmarked =
    "u.sync is null and u.id<>r.id and u.userid is r.userid and u.year is r.year and "
    "u.reclassid is r.reclassid and u.cwid is r.cwid";

}  // namespace

bool StudyLogDao::mergeUnmarked(const Value& userId) {
  // The first unmarked row of the lecture of the row `studylog`.
  const std::string firstOfLecture =
      "(select min(u.id) from studylog u, studylog r where r.id=studylog.id and u.sync is null "
      "and u.userid is r.userid and u.year is r.year and u.reclassid is r.reclassid and u.cwid "
      "is r.cwid)";
  return runUpdate(
             "update studylog set listenedPos=(select sum(u.listenedPos) from studylog u, "
             "studylog r where r.id=studylog.id and u.sync is null and u.userid is "
             "r.userid and u.year is r.year and u.reclassid is r.reclassid and u.cwid is "
             "r.cwid) where userid=? and sync is null and id=" +
                 firstOfLecture,
             userId) &&
         runUpdate("delete from studylog where userid=? and sync is null and id>" + firstOfLecture,
                   userId);
}

bool StudyLogDao::mark(const Value& userId, const Value& year, const Value& cwId,
                       const Value& serverMinutes) {
  return runUpdate(
      "update studylog set sync=? where userid=? and year=? and cwid=? and sync is null",
      serverMinutes, userId, year, cwId);
}

std::vector<Dictionary> StudyLogDao::getMarkedByUserId(const Value& userId) {
  std::vector<Dictionary> rows;
  auto rs = runQuery(
      "select id,year,cwid,datetime(createdTime),datetime(lastUpdateTime),listenedPos,sync from "
      "studylog where userid=? and sync is not null order by id",
      userId);
  if (!rs) return rows;
  while (rs->next()) {
    Dictionary row = uploadRow(*rs);
    putText(row, "year", rs->stringForColumn("year"));
    putText(row, "sync", rs->stringForColumn("sync"));
    rows.push_back(std::move(row));
  }
  rs->close();
  return rows;
}

std::vector<Value> StudyLogDao::usersWithMarkedRows() {
  std::vector<Value> users;
  auto rs = runQuery("select distinct userid from studylog where sync is not null");
  if (!rs) return users;
  while (rs->next()) users.emplace_back(rs->longLongIntForColumnIndex(0));
  rs->close();
  return users;
}

bool StudyLogDao::release(const Value& rowId, const Value& secondsCredited) {
  const std::string sameLecture = kSameLectureUnmarked;
  // Only a marked row: a batch kept in memory may name a row that was released since.
  return runUpdate("update studylog set listenedPos=listenedPos-? where id=? and sync is not null",
                   secondsCredited, rowId) &&
         runUpdate(
             "update studylog set listenedPos=listenedPos+(select max(r.listenedPos,0) "
             "from studylog r where r.id=?) where id=(select min(u.id) from studylog u, "
             "studylog r where r.id=? and r.sync is not null and " +
                 sameLecture + ")",
             rowId, rowId) &&
         runUpdate(
             "delete from studylog where id=? and sync is not null and (listenedPos<=0 or "
             "exists(select 1 "
             "from studylog u, studylog r where r.id=studylog.id and " +
                 sameLecture + "))",
             rowId) &&
         runUpdate("update studylog set sync=null where id=?", rowId);
}
