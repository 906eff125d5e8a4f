#include "dao/DownloadDao.h"

using platform::Value;

std::optional<std::string> DownloadDao::setTable(const std::string& sql) const {
  return withTable(sql, "download_info");
}

bool DownloadDao::countAboveZero(std::unique_ptr<SQLResultSet> rs) {
  if (!rs) return false;
  bool found = rs->next() && rs->intForColumnIndex(0) > 0;
  rs->close();
  return found;
}

bool DownloadDao::exists(const Value& userId, const Value& cwId, const Value& year,
                         const Value& areacode) {
  return countAboveZero(
      runQuery(tableSql("select count(*)  from %@ where userid=? and cwid=? and year = ? and "
                        "areacode=?"),
               userId, cwId, year, areacode));
}

bool DownloadDao::insert(const DownloadInfo& info) {
  return runUpdate(
      tableSql("insert into %@(userid,year,reclassid,cwid,state,areacode) values (?,?,?,?,?,?)"),
      info.userId(), info.year(), info.reclassId(), info.cwid(), info.state(), info.areacode());
}

bool DownloadDao::queryByState(const Value& userId, const Value& cwId, const Value& state,
                               const Value& areacode, const Value& year) {
  return countAboveZero(
      runQuery(tableSql("select count(*)  from %@ where userid=? and cwid=? and state=? and "
                        "areacode=? and year=?"),
               userId, cwId, state, areacode, year));
}

model::List<DownloadInfo> DownloadDao::queryArrayByState(const Value& userId,
                                                         const Value& reclassId, const Value& state,
                                                         const Value& areacode, const Value& year) {
  model::List<DownloadInfo> rows;
  auto rs = runQuery(tableSql("select *  from %@ where userid=? and reclassid=? and state=? and "
                              "areacode=? and year=?"),
                     userId, reclassId, state, areacode, year);
  if (!rs) return rows;
  while (rs->next()) {
    auto info = std::make_shared<DownloadInfo>();
    info->setUserId(rs->intForColumn("userid"));
    info->setYear(rs->intForColumn("year"));
    info->setReclassId(rs->intForColumn("reclassid"));
    info->setCwid(rs->intForColumn("cwid"));
    info->setState(rs->intForColumn("state"));
    rows.push_back(std::move(info));
  }
  rs->close();
  return rows;
}

void DownloadDao::update(const Value& userId, const Value& cwid, const Value& state,
                         const Value& areacode, const Value& year) {
  runUpdate(tableSql("update %@ set state=? where userId=? and cwid=? and areacode=? and year=?"),
            state, userId, cwid, areacode, year);
}

bool DownloadDao::del(const Value& userId, const Value& reclassId, const Value& cwid,
                      const Value& areacode, const Value& year) {
  return runUpdate(tableSql("delete from %@ where userid=? and reclassid=? and cwid=? and "
                            "areacode=? and year = ?"),
                   userId, reclassId, cwid, areacode, year);
}
