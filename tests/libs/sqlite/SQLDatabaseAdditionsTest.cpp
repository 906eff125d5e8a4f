#include <gtest/gtest.h>

#include "sqlite/SQLDatabase.h"
#include "support/TempHome.h"

namespace {

class SQLDatabaseAdditionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = SQLDatabase::databaseWithPath(home_.path() + "/schema.db");
    ASSERT_TRUE(db_->open());
    db_->setShouldCacheStatements(true);
    ASSERT_TRUE(db_->executeUpdate("create table Lecture(id integer, title text)"));
    ASSERT_TRUE(db_->executeUpdate("create view lectureView as select * from Lecture"));
    ASSERT_TRUE(db_->executeUpdate("insert into Lecture values (1, null)"));
  }

  testsupport::TempHome home_;
  std::shared_ptr<SQLDatabase> db_;
};

TEST_F(SQLDatabaseAdditionsTest, TableExistsIgnoresCaseAndViews) {
  struct Case {
    const char* name;
    bool exists;
  };
  const Case cases[] = {
      {"Lecture", true},      {"LECTURE", true},  {"lecture", true},
      {"lectureView", false}, {"missing", false}, {"sqlite_master", false},
  };
  for (const auto& c : cases) EXPECT_EQ(db_->tableExists(c.name), c.exists) << c.name;
  EXPECT_FALSE(db_->hasOpenResultSets());
}

TEST_F(SQLDatabaseAdditionsTest, ColumnExistsSeesColumnsAddedLater) {
  struct Case {
    const char* table;
    const char* column;
    bool exists;
  };
  ASSERT_TRUE(db_->executeUpdate("ALTER TABLE Lecture ADD COLUMN areacode varchar(200)"));
  const Case cases[] = {
      {"lecture", "TITLE", true},
      {"LECTURE", "id", true},
      {"Lecture", "areaCode", true},
      {"Lecture", "missing", false},
      {"missing", "id", false},
      {"Lecture) x", "id", false},  // not a plain name: the pragma fails
  };
  for (const auto& c : cases) {
    EXPECT_EQ(db_->columnExists(c.table, c.column), c.exists) << c.table << "." << c.column;
  }
  EXPECT_FALSE(db_->hasOpenResultSets());
}

TEST_F(SQLDatabaseAdditionsTest, SingleValueQueries) {
  EXPECT_EQ(db_->intForQuery("select id from Lecture where id = ?", 1), 1);
  EXPECT_EQ(db_->intForQuery("select id from Lecture where id = ?", 2), 0);
  EXPECT_EQ(db_->stringForQuery("select title from Lecture"), std::nullopt);
  EXPECT_EQ(db_->stringForQuery("select 'a' || ?", "b"), "ab");
  EXPECT_EQ(db_->longForQuery("select ?", 1LL << 40), 1L << 40);
  EXPECT_TRUE(db_->boolForQuery("select 3"));
  EXPECT_DOUBLE_EQ(db_->doubleForQuery("select 1.5"), 1.5);
  EXPECT_EQ(db_->dataForQuery("select x'00ff'"), (platform::Bytes{0, 0xff}));
  EXPECT_EQ(db_->dateForQuery("select 60.0"), platform::dateFromSeconds(60));
  EXPECT_EQ(db_->intForQuery("select nonsense"), 0);
  EXPECT_TRUE(db_->hadError());
  EXPECT_FALSE(db_->hasOpenResultSets());
}

TEST_F(SQLDatabaseAdditionsTest, SchemaResultSets) {
  auto schema = db_->getSchema();
  ASSERT_TRUE(schema);
  std::vector<std::string> names;
  while (schema->next()) names.push_back(schema->stringForColumn("name").value_or(""));
  EXPECT_EQ(names, (std::vector<std::string>{"Lecture", "lectureView"}));

  auto columns = db_->getTableSchema("Lecture");
  ASSERT_TRUE(columns);
  std::vector<std::string> columnNames;
  while (columns->next()) columnNames.push_back(*columns->stringForColumn("name"));
  EXPECT_EQ(columnNames, (std::vector<std::string>{"id", "title"}));
}

TEST_F(SQLDatabaseAdditionsTest, ValidateSQLPreparesWithoutRunning) {
  platform::Error error;
  EXPECT_TRUE(db_->validateSQL("delete from Lecture", &error));
  EXPECT_EQ(db_->intForQuery("select count(*) from Lecture"), 1);
  EXPECT_FALSE(db_->validateSQL("delete frm Lecture", &error));
  EXPECT_EQ(error.domain(), platform::kCocoaErrorDomain);
  EXPECT_EQ(error.code(), SQLITE_ERROR);
  EXPECT_NE(error.localizedDescription().find("syntax error"), std::string::npos);
  EXPECT_FALSE(db_->validateSQL("select * from missing", nullptr));
}

}  // namespace
