#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "dao/BaseDao.h"
#include "dao/DBService.h"
#include "dao/ModelDao.h"
#include "dao/RawDb.h"
#include "dao/StudyLogDao.h"
#include "dao/UserDao.h"
#include "support/TempHome.h"

namespace {

using daotest::RawDb;
using Names = std::vector<std::string>;

bool has(const Names& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The data tables as the first release created them: no version table, `listenhistory`
// without `reclassId`, `user` without `accountantNo`, `courseware` without `areacode` and
// `year`.
void makeFirstReleaseFile(RawDb& raw) {
  raw.exec(
      "create table user(userid int,idcard char(18),realName char(20),username char(100),"
      "password char(200));"
      "create table year(id integer primary key autoincrement,userid int,years char(4));"
      "create table listenhistory(id integer primary key autoincrement,userid int,cwid int,"
      "lastListenTime char(20),listenedMillisecond int,areaCode char(20),year char(4));"
      "create table area(areaname char(100),areacode char(100),parentcode char(100),isLeaf int,"
      "description char(200),logintype int);"
      "create table reclass(reclassId int,cwNum int,cwTotalMinutes int,reclassName varchar(200),"
      "type int,typeName varchar(10),teacherName varchar(50),year char(4),areacode int,userid "
      "int,listenedMinutes int);"
      "create table courseware(cwID int,cwName varchar(200),cwUrl varchar(200),cwVideoUrl "
      "varchar(200),totalMinutes int,reclassId int ,userid int,listenedMinutes int);"
      "create table studylog(id integer primary key autoincrement,reclassid int,year int,cwid "
      "int,userid int,createdTime Date,lastUpdateTime Date,listenedPos int,sync int);"
      "create table download_info(_id integer PRIMARY KEY AUTOINCREMENT,userid int,year int,"
      "reclassid int,cwid int,state int,areacode varchar(100));"
      "insert into user values(7,'110101','张三','zhang','e10adc3949ba59abbe56e057f20f883e');"
      "insert into courseware values(71,'第一讲','u','v',40,7,7,10);"
      "insert into listenhistory(userid,cwid,lastListenTime,listenedMillisecond,areaCode,year) "
      "values(7,71,'2013-05-01 10:00:00',1200,'110000','2013');"
      "insert into studylog(reclassid,year,cwid,userid,createdTime,lastUpdateTime,listenedPos) "
      "values(7,2013,71,7,'2013-05-01 10:00:00','2013-05-01 10:00:00',30);");
}

const Names kAllTables = {"area",    "courseware", "dbVersion", "download_info", "listenhistory",
                          "reclass", "studylog",   "user",      "year"};

TEST(SchemaTest, FreshFileGetsEveryTableAndOneVersionRow) {
  testsupport::TempHome home;
  BaseDao dao;
  ASSERT_TRUE(dao.db());
  RawDb raw;
  EXPECT_EQ(raw.tableNames(), kAllTables);
  EXPECT_EQ(raw.rows("select db_version from dbVersion"), (std::vector<Names>{{"1"}}));
  // The only column the create statements lack is added at once.
  EXPECT_TRUE(has(raw.columnNames("listenhistory"), "reclassId"));
  EXPECT_EQ(raw.columnNames("courseware"),
            (Names{"cwID", "cwName", "cwUrl", "cwVideoUrl", "totalMinutes", "reclassId", "userid",
                   "listenedMinutes", "areacode", "year"}));
  EXPECT_EQ(raw.columnNames("user"),
            (Names{"userid", "idcard", "realName", "username", "password", "accountantNo"}));
  // Region codes keep their declared integer affinity in `reclass`, text in the others.
  EXPECT_EQ(raw.value("select type from pragma_table_info('reclass') where name='areacode'"),
            "INT");
  EXPECT_FALSE(raw.value("select 1 from sqlite_master where type='index'"));
}

TEST(SchemaTest, FirstReleaseFileGainsTheColumnsAndKeepsItsData) {
  testsupport::TempHome home;
  {
    RawDb raw;
    makeFirstReleaseFile(raw);
  }
  UserDao dao;
  RawDb raw;
  EXPECT_EQ(raw.tableNames(), kAllTables);
  EXPECT_EQ(raw.rows("select db_version from dbVersion"), (std::vector<Names>{{"1"}}));
  EXPECT_TRUE(has(raw.columnNames("listenhistory"), "reclassId"));
  EXPECT_TRUE(has(raw.columnNames("user"), "accountantNo"));
  EXPECT_TRUE(has(raw.columnNames("courseware"), "areacode"));
  EXPECT_TRUE(has(raw.columnNames("courseware"), "year"));

  EXPECT_EQ(raw.rows("select userid,idcard,realName,username,password,accountantNo from user"),
            (std::vector<Names>{
                {"7", "110101", "张三", "zhang", "e10adc3949ba59abbe56e057f20f883e", "NULL"}}));
  EXPECT_EQ(raw.rows("select cwID,cwName,areacode,year from courseware"),
            (std::vector<Names>{{"71", "第一讲", "NULL", "NULL"}}));
  EXPECT_EQ(raw.rows("select cwid,listenedMillisecond,reclassId from listenhistory"),
            (std::vector<Names>{{"71", "1200", "NULL"}}));
  EXPECT_EQ(raw.value("select listenedPos from studylog"), "30");

  // The stores read the old rows through the new schema.
  User typed;
  typed.setName("zhang");
  typed.setPassword("e10adc3949ba59abbe56e057f20f883e");
  EXPECT_EQ(dao.validUser(typed, 1), "7");
}

TEST(SchemaTest, LaterConnectionsChangeNothing) {
  testsupport::TempHome home;
  {
    RawDb raw;
    makeFirstReleaseFile(raw);
  }
  UserDao first;
  RawDb raw;
  int version = raw.schemaVersion();
  auto schema = raw.rows("select type,name,sql from sqlite_master order by name");
  {
    DBService service;  // four more connections
    StudyLogDao studyLog;
    BaseDao plain;
  }
  EXPECT_EQ(raw.schemaVersion(), version);
  EXPECT_EQ(raw.rows("select type,name,sql from sqlite_master order by name"), schema);
  EXPECT_EQ(raw.rows("select db_version from dbVersion"), (std::vector<Names>{{"1"}}));
}

TEST(SchemaTest, EmptyVersionTableMeansNoMigration) {
  testsupport::TempHome home;
  {
    RawDb raw;
    makeFirstReleaseFile(raw);
    raw.exec("create table dbVersion(db_version int); drop table studylog;");
  }
  BaseDao dao;
  RawDb raw;
  EXPECT_FALSE(has(raw.columnNames("user"), "accountantNo"));
  EXPECT_FALSE(has(raw.columnNames("courseware"), "year"));
  EXPECT_EQ(raw.value("select count(*) from dbVersion"), "0");
  // A missing table is still created.
  EXPECT_TRUE(has(raw.tableNames(), "studylog"));
}

TEST(SchemaTest, OldVersionRowIsMigratedAgain) {
  testsupport::TempHome home;
  {
    RawDb raw;
    makeFirstReleaseFile(raw);
    raw.exec("create table dbVersion(db_version int); insert into dbVersion values(0);");
  }
  BaseDao dao;
  RawDb raw;
  EXPECT_TRUE(has(raw.columnNames("user"), "accountantNo"));
  EXPECT_TRUE(has(raw.columnNames("courseware"), "areacode"));
}

// A set-up that fails part-way must not leave a version row behind: otherwise the file would
// count as migrated and never get its missing columns.
TEST(SchemaTest, FailedSetUpLeavesNoVersionRowAndIsRetried) {
  testsupport::TempHome home;
  {
    RawDb raw;
    makeFirstReleaseFile(raw);
    // A view where the user table should be: its create and its column addition both fail.
    raw.exec("alter table user rename to user_old; create view user as select * from user_old;");
  }
  {
    BaseDao dao;
    ASSERT_TRUE(dao.db());
    RawDb raw;
    EXPECT_FALSE(has(raw.tableNames(), "dbVersion"));
    EXPECT_FALSE(has(raw.columnNames("listenhistory"), "reclassId"));
    EXPECT_FALSE(has(raw.columnNames("courseware"), "areacode"));
  }
  {
    RawDb raw;
    raw.exec("drop view user; alter table user_old rename to user;");
  }
  UserDao dao;
  RawDb raw;
  EXPECT_EQ(raw.rows("select db_version from dbVersion"), (std::vector<Names>{{"1"}}));
  EXPECT_TRUE(has(raw.columnNames("listenhistory"), "reclassId"));
  EXPECT_TRUE(has(raw.columnNames("user"), "accountantNo"));
  EXPECT_TRUE(has(raw.columnNames("courseware"), "areacode"));
  EXPECT_TRUE(has(raw.columnNames("courseware"), "year"));
  EXPECT_EQ(raw.value("select username from user"), "zhang");
}

// The file holds password digests, identity card numbers and real names.
TEST(SchemaTest, DatabaseFileIsOpenToItsOwnerOnly) {
  testsupport::TempHome home;
  // The usual mask, which leaves files SQLite creates readable by everyone.
  mode_t mask = ::umask(022);
  auto modeOf = [](const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
  };
  {
    UserDao dao;
    ASSERT_TRUE(dao.db());
    EXPECT_EQ(modeOf(RawDb::path()), 0600u);
    // The journal of a transaction takes the file's mode.
    ASSERT_TRUE(dao.db()->beginTransaction());
    dao.insert(User(7, "110101", "zhang", "张三", "digest", std::nullopt));
    EXPECT_EQ(modeOf(RawDb::path() + "-journal"), 0600u);
    ASSERT_TRUE(dao.db()->commit());
  }
  // A file an earlier build left open to others is narrowed, its rows kept.
  ASSERT_EQ(::chmod(RawDb::path().c_str(), 0644), 0);
  UserDao dao;
  EXPECT_EQ(modeOf(RawDb::path()), 0600u);
  EXPECT_EQ(dao.queryAll().size(), 1u);
  ::umask(mask);
}

TEST(SchemaTest, UnopenableFileGivesObjectsThatFindNothing) {
  testsupport::TempHome home;
  std::filesystem::create_directories(RawDb::path());  // a folder where the file should be
  UserDao users;
  ModelDao model;
  StudyLogDao studyLog;
  EXPECT_FALSE(users.db());
  EXPECT_TRUE(users.queryAll().empty());
  EXPECT_FALSE(users.validUser(User(), 2));
  EXPECT_FALSE(users.deleteById(1));
  EXPECT_TRUE(model.getAllCousre(1, "110000").empty());
  EXPECT_EQ(model.getLastListenTimeByUserId(1, 2014), "");
  EXPECT_FALSE(model.insertListenHistory(ListenHistory()));
  EXPECT_TRUE(studyLog.getUnSyncMins(1).empty());
  EXPECT_FALSE(studyLog.insert({{"userid", 1}}));
}

}  // namespace
