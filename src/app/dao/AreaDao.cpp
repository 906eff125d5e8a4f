#include "dao/AreaDao.h"

#include "sqlite/SQLTransaction.h"

std::optional<std::string> AreaDao::setTable(const std::string& sql) const {
  return withTable(sql, "area");
}

void AreaDao::updateAreas(const model::List<Area>& areas) {
  if (areas.empty() || !db()) return;
  // One transaction for the whole list, as for a region answer; a transaction that cannot begin
  // is a delete that cannot run: nothing is written.
  SQLTransaction transaction(*db());
  if (!transaction.begun() || !delteAll()) return;
  for (const auto& area : areas) insertParent(area, std::string("0"));
  transaction.commit();
}

void AreaDao::insertParent(const std::shared_ptr<Area>& area, const model::Text& parent) {
  if (!area) return;
  area->setParent(parent);
  insert(*area);
  const auto& children = area->childArray();
  if (!children || children->empty()) {
    // Only the object learns it is a leaf; the row keeps what the answer said.
    area->setIsLeaf(true);
    return;
  }
  for (const auto& child : *children) insertParent(child, area->code());
}

bool AreaDao::insert(const Area& area) {
  return runUpdate(tableSql("insert into %@ (areaname,areacode,parentcode,logintype,description,"
                            "isLeaf) values(?,?,?,?,?,?)"),
                   area.name(), area.code(), area.parent(), area.loginType(), area.description(),
                   area.isLeaf() ? 1 : 0);
}

bool AreaDao::delteAll() { return runUpdate("delete from area"); }

namespace {

std::shared_ptr<Area> areaFromRow(SQLResultSet& rs) {
  return std::make_shared<Area>(rs.stringForColumn("areaname"), rs.stringForColumn("areacode"),
                                rs.stringForColumn("parentcode"), rs.intForColumn("logintype"),
                                rs.stringForColumn("description"));
}

}  // namespace

model::List<Area> AreaDao::queryAll() {
  model::List<Area> result;
  auto top = runQuery(tableSql("SELECT * FROM %@ where parentcode=0"));
  if (!top) return result;
  while (top->next()) {
    auto area = areaFromRow(*top);
    model::List<Area> children;
    if (auto rs = runQuery(tableSql("select * from %@ where parentcode=?"), area->code())) {
      while (rs->next()) children.push_back(areaFromRow(*rs));
      rs->close();
    }
    if (children.empty()) {
      area->setIsLeaf(true);
    } else {
      area->setChildArray(std::move(children));
    }
    result.push_back(std::move(area));
  }
  top->close();
  return result;
}
