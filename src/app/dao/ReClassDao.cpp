#include "dao/ReClassDao.h"

#include "model/GlobalModel.h"

using platform::Dictionary;
using platform::Value;

std::optional<std::string> ReClassDao::setTable(const std::string& sql) const {
  return withTable(sql, "reclass");
}

std::map<std::int64_t, std::string> ReClassDao::getAllCwType() {
  std::map<std::int64_t, std::string> types;
  const auto& courses = GlobalModel::sharedModel()->courses();
  if (!courses) return types;
  for (const auto& course : *courses) {
    if (!course || !course->reClasses()) continue;
    for (const auto& rc : *course->reClasses()) {
      if (!rc || !rc->cws()) continue;
      for (const auto& cw : *rc->cws()) {
        if (cw && cw->cwId() && rc->type()) types[*cw->cwId()] = *rc->type();
      }
    }
  }
  return types;
}

model::List<ReClass> ReClassDao::queryAllNames() {
  model::List<ReClass> classes;
  auto rs =
      runQuery(tableSql("select reclassid,reclassname from %@ group by reclassid,reclassname"));
  if (!rs) return classes;
  while (rs->next()) {
    auto rc = std::make_shared<ReClass>();
    rc->setReClassId(rs->intForColumn("reclassid"));
    rc->setReClassName(rs->stringForColumn("reclassname"));
    classes.push_back(std::move(rc));
  }
  rs->close();
  return classes;
}

std::map<std::int64_t, std::string> ReClassDao::queryAllTypes() {
  std::map<std::int64_t, std::string> types;
  auto rs = runQuery(tableSql(
      "select cwid,type from %@,courseware where reclass.reclassid = courseware.reclassid"));
  if (!rs) return types;
  while (rs->next()) {
    if (auto type = rs->stringForColumn("type")) types[rs->intForColumn("cwid")] = *type;
  }
  rs->close();
  return types;
}

model::List<ReClass> ReClassDao::queryById(const Value& reclassId) {
  model::List<ReClass> classes;
  auto rs = runQuery(tableSql("select reclassname,cwNum,cwTotalMinutes,teacherName,year,typeName,"
                              "listenedMinutes from %@ where reclassid=?"),
                     reclassId);
  if (!rs) return classes;
  while (rs->next()) {
    auto rc = std::make_shared<ReClass>();
    rc->setReClassName(rs->stringForColumn("reclassname"));
    rc->setCwNum(rs->intForColumn("cwNum"));
    rc->setTotalMins(rs->intForColumn("cwTotalMinutes"));
    rc->setTeacherName(rs->stringForColumn("teacherName"));
    rc->setYear(rs->stringForColumn("year"));
    rc->setTypeName(rs->stringForColumn("typeName"));
    rc->setListenedMins(rs->intForColumn("listenedMinutes"));
    classes.push_back(std::move(rc));
  }
  rs->close();
  return classes;
}

Dictionary ReClassDao::queryStudyTimes(const Value& userId, const Value& areaCode) {
  Dictionary times;
  auto rs = runQuery(tableSql("select year,sum(listenedMinutes),sum(cwTotalMinutes) from %@ where "
                              "userid=? and areacode=? group by year"),
                     userId, areaCode);
  if (!rs) return times;
  while (rs->next()) {
    for (const char* column : {"year", "sum(listenedMinutes)", "sum(cwTotalMinutes)"}) {
      if (auto text = rs->stringForColumn(column)) times[column] = *text;
    }
  }
  rs->close();
  return times;
}

bool ReClassDao::updateListenedTimes(const Value& userId, const Value& reclassId, const Value& cwId,
                                     const Value& listenedTimes) {
  (void)listenedTimes;
  return runUpdate(
      "update  courseware set listenedMinutes=listenedMinutes+ 1 where userid=? and reclassid=? "
      "and cwid=?",
      userId, reclassId, cwId);
}

model::List<ReClass> ReClassDao::queryProgress(const Value& userId, const Value& areaCode) {
  model::List<ReClass> classes;
  auto rs = runQuery(tableSql("select  reclassid,listenedMinutes,cwTotalMinutes  from %@ where  "
                              "userid=? and areacode =?"),
                     userId, areaCode);
  if (!rs) return classes;
  while (rs->next()) {
    auto rc = std::make_shared<ReClass>();
    rc->setReClassId(rs->intForColumn("reclassid"));
    rc->setListenedMins(rs->intForColumn("listenedMinutes"));
    rc->setTotalMins(rs->intForColumn("cwTotalMinutes"));
    classes.push_back(std::move(rc));
  }
  rs->close();
  return classes;
}
