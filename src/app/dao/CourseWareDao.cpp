#include "dao/CourseWareDao.h"

using platform::Dictionary;
using platform::Value;

namespace {

const char* kLectureColumns =
    "select cwID,cwName,cwUrl,cwVideoUrl,reclassId,listenedMinutes,totalMinutes from %@ where "
    "userid=? and areacode=? and year=? and reclassId=?";

std::shared_ptr<CourseWare> lectureFromRow(SQLResultSet& rs) {
  auto cw = std::make_shared<CourseWare>();
  cw->setCwId(rs.intForColumn("cwID"));
  cw->setName(rs.stringForColumn("cwName"));
  cw->setUrl(rs.stringForColumn("cwUrl"));
  cw->setVideoUrl(rs.stringForColumn("cwVideoUrl"));
  cw->setReclassId(rs.intForColumn("reclassId"));
  cw->setListenedMins(rs.intForColumn("listenedMinutes"));
  cw->setTotalMins(rs.intForColumn("totalMinutes"));
  return cw;
}

}  // namespace

std::optional<std::string> CourseWareDao::setTable(const std::string& sql) const {
  return withTable(sql, "courseware");
}

std::map<std::int64_t, Dictionary> CourseWareDao::infosFrom(std::unique_ptr<SQLResultSet> rs) {
  std::map<std::int64_t, Dictionary> infos;
  if (!rs) return infos;
  while (rs->next()) {
    Dictionary info{{"listenedMinutes", rs->intForColumn("listenedMinutes")},
                    {"totalMinutes", rs->intForColumn("totalMinutes")}};
    if (auto name = rs->stringForColumn("cwName")) info["cwName"] = *name;
    infos[rs->intForColumn("cwID")] = std::move(info);
  }
  rs->close();
  return infos;
}

std::map<std::int64_t, Dictionary> CourseWareDao::queryCwInfosByUserId(const Value& userId,
                                                                       const Value& year) {
  return infosFrom(runQuery(
      "select cwID,cwName,listenedMinutes,totalMinutes from courseware where userid=? and year=?",
      userId, year));
}

std::map<std::int64_t, Dictionary> CourseWareDao::queryCwInfosByUserId(const Value& userId) {
  return infosFrom(runQuery(
      "select cwID,cwName,listenedMinutes,totalMinutes from courseware where userid=?", userId));
}

std::shared_ptr<CourseWare> CourseWareDao::queryCwByUserId(const Value& userId,
                                                           const Value& areaCode, const Value& year,
                                                           const Value& reclassId,
                                                           const Value& cwId) {
  auto rs = runQuery(tableSql(std::string(kLectureColumns) + " and cwId=?"), userId, areaCode, year,
                     reclassId, cwId);
  if (!rs) return nullptr;
  std::shared_ptr<CourseWare> last;
  while (rs->next()) last = lectureFromRow(*rs);
  rs->close();
  return last;
}

model::List<CourseWare> CourseWareDao::queryCwByUserId(const Value& userId, const Value& areaCode,
                                                       const Value& year, const Value& reclassId) {
  model::List<CourseWare> lectures;
  auto rs = runQuery(tableSql(kLectureColumns), userId, areaCode, year, reclassId);
  if (!rs) return lectures;
  while (rs->next()) lectures.push_back(lectureFromRow(*rs));
  rs->close();
  return lectures;
}

std::map<std::int64_t, std::string> CourseWareDao::queryAllNames() {
  std::map<std::int64_t, std::string> names;
  auto rs = runQuery(tableSql("select cwID,cwName from %@ group by cwID,cwName"));
  if (!rs) return names;
  while (rs->next()) {
    if (auto name = rs->stringForColumn("cwName")) names[rs->intForColumn("cwID")] = *name;
  }
  rs->close();
  return names;
}
