#include "dao/DBHelper.h"

#include <array>

#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLTransaction.h"

namespace {

struct TableDefinition {
  const char* name;
  const char* createSql;
};

// In creation order. The texts are what earlier releases ran, so that every file has the same
// column declarations whichever release created it.
constexpr std::array<TableDefinition, 8> kTables = {{
    {"user",
     "create table user(userid int,idcard char(18),realName char(20),username "
     "char(100),password char(200),accountantNo char(200));"},
    {"year", "create table year(id integer primary key autoincrement,userid int,years char(4));"},
    {"listenhistory",
     "create table listenhistory(id integer primary key autoincrement,userid int,cwid "
     "int,lastListenTime char(20),listenedMillisecond int,areaCode char(20),year char(4))"},
    {"area",
     "create table area(areaname char(100),areacode char(100),parentcode char(100),isLeaf "
     "int,description char(200),logintype int);"},
    {"reclass",
     "create table reclass(reclassId int,cwNum int,cwTotalMinutes int,reclassName "
     "varchar(200),type int,typeName varchar(10),teacherName varchar(50),year char(4),areacode "
     "int,userid int,listenedMinutes int);"},
    {"courseware",
     "create table courseware(cwID int,cwName varchar(200),cwUrl varchar(200),cwVideoUrl "
     "varchar(200),totalMinutes int,reclassId int ,userid int,listenedMinutes int,areacode "
     "varchar(200) ,year char(4))"},
    {"studylog",
     "create table studylog(id integer primary key autoincrement,reclassid int,year int,cwid "
     "int,userid int,createdTime Date,lastUpdateTime Date,listenedPos int,sync int)"},
    {"download_info",
     "create table download_info(_id integer PRIMARY KEY AUTOINCREMENT,userid int,year "
     "int,reclassid int,cwid int,state int,areacode varchar(100))"},
}};

constexpr int kCurrentVersion = 1;

// Whether the version table holds a row older than the current version. No rows, or a read
// that fails, count as current: only a file without the table at all is an old release's.
bool versionRowIsOld(SQLDatabase& db) {
  auto rs = db.executeQuery("select * from dbVersion");
  if (!rs) return false;
  bool old = false;
  while (rs->next()) {
    if (rs->intForColumn("db_version") < kCurrentVersion) old = true;
  }
  rs->close();
  return old;
}

bool allTablesExist(SQLDatabase& db) {
  for (const auto& table : kTables) {
    if (!db.tableExists(table.name)) return false;
  }
  return true;
}

// Nothing to create and nothing to migrate: the common case for every connection after the
// first, which then takes no write lock.
bool schemaIsCurrent(SQLDatabase& db) {
  return db.tableExists("dbVersion") && allTablesExist(db) && !versionRowIsOld(db);
}

// Which columns the first row of `probeSql` would have; works on empty tables because only the
// prepared statement's column names are read. Absent when the probe cannot be prepared.
std::optional<std::vector<bool>> columnsPresent(SQLDatabase& db, const char* probeSql,
                                                std::initializer_list<const char*> columns) {
  auto rs = db.executeQuery(probeSql);
  if (!rs) return std::nullopt;
  std::vector<bool> present;
  for (const char* column : columns) present.push_back(rs->columnIndexForName(column) >= 0);
  rs->close();
  return present;
}

bool addColumnsOfTheFirstRelease(SQLDatabase& db) {
  auto history = columnsPresent(db, "select * from listenhistory limit 1", {"reclassId"});
  if (!history) return false;
  if (!(*history)[0] &&
      !db.executeUpdate("ALTER TABLE listenhistory ADD COLUMN reclassId integer;")) {
    return false;
  }
  auto user = columnsPresent(db, "select * from user limit 1", {"accountantNo"});
  if (!user) return false;
  if (!(*user)[0] && !db.executeUpdate("ALTER TABLE user ADD COLUMN accountantNo char(200);")) {
    return false;
  }
  // Both courseware columns are judged by one probe, taken before either is added.
  auto courseware = columnsPresent(db, "select * from courseware limit 1", {"areacode", "year"});
  if (!courseware) return false;
  if (!(*courseware)[0] &&
      !db.executeUpdate("ALTER TABLE courseware ADD COLUMN areacode varchar(200)")) {
    return false;
  }
  if (!(*courseware)[1] && !db.executeUpdate("ALTER TABLE courseware ADD COLUMN year char(4)")) {
    return false;
  }
  return true;
}

// The schema step proper; false as soon as a statement fails, so the caller can roll back.
bool runSchemaStep(SQLDatabase& db) {
  bool migrate;
  if (db.tableExists("dbVersion")) {
    migrate = versionRowIsOld(db);
  } else {
    if (!db.executeUpdate("create table dbVersion(db_version int);")) return false;
    if (!db.executeUpdate("insert into dbVersion (db_version) values (?)", kCurrentVersion)) {
      return false;
    }
    migrate = true;
  }
  for (const auto& table : kTables) {
    if (!db.tableExists(table.name) && !db.executeUpdate(table.createSql)) return false;
  }
  return !migrate || addColumnsOfTheFirstRelease(db);
}

}  // namespace

void DBHelper::initDB(const std::shared_ptr<SQLDatabase>& db) {
  if (!db || !db->open()) return;
  db->setShouldCacheStatements(true);
  if (schemaIsCurrent(*db)) return;
  // Another connection may be setting the file up at this moment; the exclusive lock makes the
  // checks inside the transaction see its finished work. If the lock cannot be had, the next
  // connection tries again.
  SQLTransaction transaction(*db);
  if (!transaction.begun()) return;
  // A failed step, or a failed commit, is rolled back as the transaction goes out of scope.
  if (runSchemaStep(*db)) transaction.commit();
}
