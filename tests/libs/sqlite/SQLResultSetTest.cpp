#include <gtest/gtest.h>

#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLResultSet.h"
#include "support/TempHome.h"

using platform::Value;

namespace {

class SQLResultSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = SQLDatabase::databaseWithPath(home_.path() + "/rows.db");
    ASSERT_TRUE(db_->open());
    db_->setShouldCacheStatements(true);
    ASSERT_TRUE(db_->executeUpdate(
        "create table t(id integer, Name text, ratio real, data blob, flag int, big int, "
        "empty)"));
    ASSERT_TRUE(db_->executeUpdate("insert into t values (?, ?, ?, ?, ?, ?, ?)", 7, "seven", 2.5,
                                   platform::Bytes{0, 1, 2}, 2, 1LL << 40, nullptr));
  }

  std::unique_ptr<SQLResultSet> row() {
    auto rs = db_->executeQuery("select * from t");
    EXPECT_TRUE(rs && rs->next());
    return rs;
  }

  testsupport::TempHome home_;
  std::shared_ptr<SQLDatabase> db_;
};

TEST_F(SQLResultSetTest, GettersReadEachColumnByIndexAndByName) {
  auto rs = row();
  EXPECT_EQ(rs->columnCount(), 7);
  EXPECT_EQ(rs->columnNameForIndex(1), "Name");
  EXPECT_EQ(rs->columnIndexForName("NAME"), 1);
  EXPECT_EQ(rs->columnIndexForName("name"), 1);
  EXPECT_EQ(rs->columnIndexForName("nope"), -1);

  EXPECT_EQ(rs->intForColumn("ID"), 7);
  EXPECT_EQ(rs->intForColumnIndex(0), 7);
  EXPECT_EQ(rs->longForColumn("big"), 1L << 40);
  EXPECT_EQ(rs->longLongIntForColumn("big"), 1LL << 40);
  EXPECT_EQ(rs->intForColumn("big"), 0);   // the low 32 bits
  EXPECT_TRUE(rs->boolForColumn("flag"));  // 2 is true
  EXPECT_DOUBLE_EQ(rs->doubleForColumn("ratio"), 2.5);
  EXPECT_EQ(rs->stringForColumn("name"), "seven");
  EXPECT_EQ(rs->stringForColumn("id"), "7");
  EXPECT_STREQ(rs->UTF8StringForColumnName("name"), "seven");
  EXPECT_EQ(rs->dataForColumn("data"), (platform::Bytes{0, 1, 2}));
  auto noCopy = rs->dataNoCopyForColumn("data");
  ASSERT_TRUE(noCopy);
  EXPECT_EQ(platform::Bytes(noCopy->begin(), noCopy->end()), (platform::Bytes{0, 1, 2}));
  EXPECT_EQ(rs->dateForColumn("ratio"), platform::dateFromSeconds(2.5));
  EXPECT_FALSE(rs->columnIsNull("id"));
  EXPECT_TRUE(rs->columnIsNull("empty"));
  EXPECT_EQ(rs->longLongIntForColumnIndex(5), 1LL << 40);
  EXPECT_EQ(rs->dataNoCopyForColumnIndex(3)->size(), 3u);
  EXPECT_EQ(rs->dataNoCopyForColumnIndex(6), std::nullopt);
  EXPECT_FALSE(rs->columnIndexIsNull(0));
  EXPECT_TRUE(rs->columnIndexIsNull(6));

  EXPECT_EQ(rs->objectForColumnName("id"), Value(7));
  EXPECT_EQ(rs->objectForColumnName("ratio"), Value(2.5));
  EXPECT_EQ(rs->objectForColumnName("name"), Value("seven"));
  EXPECT_EQ(rs->objectForColumnName("data"), Value(platform::Bytes{0, 1, 2}));
  EXPECT_TRUE(rs->objectForColumnName("empty").isNull());
}

TEST_F(SQLResultSetTest, UnknownColumnsAndNullReadAsAbsentOrZero) {
  auto rs = row();
  for (const char* column : {"nosuchcolumn", "empty"}) {
    SCOPED_TRACE(column);
    EXPECT_EQ(rs->intForColumn(column), 0);
    EXPECT_EQ(rs->longForColumn(column), 0);
    EXPECT_EQ(rs->longLongIntForColumn(column), 0);
    EXPECT_FALSE(rs->boolForColumn(column));
    EXPECT_EQ(rs->doubleForColumn(column), 0.0);
    EXPECT_EQ(rs->stringForColumn(column), std::nullopt);
    EXPECT_EQ(rs->UTF8StringForColumnName(column), nullptr);
    EXPECT_EQ(rs->dateForColumn(column), std::nullopt);
    EXPECT_EQ(rs->dataForColumn(column), std::nullopt);
    EXPECT_EQ(rs->dataNoCopyForColumn(column), std::nullopt);
    EXPECT_TRUE(rs->columnIsNull(column));
    EXPECT_TRUE(rs->objectForColumnName(column).isNull());
  }
  // Indexes past either end read as NULL too.
  EXPECT_EQ(rs->stringForColumnIndex(99), std::nullopt);
  EXPECT_EQ(rs->intForColumnIndex(-1), 0);
}

TEST_F(SQLResultSetTest, DateColumnHoldingZeroIsTheEpoch) {
  EXPECT_EQ(db_->dateForQuery("select 0.0"), platform::dateFromSeconds(0));
}

TEST_F(SQLResultSetTest, QueryWithoutRowsClosesAtOnce) {
  auto rs = db_->executeQuery("select * from t where id = ?", 99);
  ASSERT_TRUE(rs);
  EXPECT_TRUE(db_->hasOpenResultSets());
  EXPECT_FALSE(rs->next());
  EXPECT_FALSE(db_->hasOpenResultSets());
  EXPECT_EQ(rs->parentDB(), nullptr);
  EXPECT_FALSE(rs->next());
  rs->close();
  rs->close();
}

TEST_F(SQLResultSetTest, NextAfterLastRowStaysFalseAndClosedSetReadsNull) {
  auto rs = row();
  EXPECT_FALSE(rs->next());
  EXPECT_FALSE(rs->next());
  EXPECT_EQ(rs->stringForColumnIndex(1), std::nullopt);
  EXPECT_EQ(rs->intForColumnIndex(0), 0);
  EXPECT_EQ(rs->columnCount(), 0);
  EXPECT_EQ(rs->resultDict(), std::nullopt);
}

TEST_F(SQLResultSetTest, ColumnsReadAsNullOnceTheStatementIsGoneUnderAnOpenSet) {
  auto rs = row();
  EXPECT_EQ(rs->columnNameForIndex(1), "Name");
  // Dropping the cached statements finalizes the one this set still steps.
  db_->clearCachedStatements();
  EXPECT_EQ(rs->stringForColumn("name"), std::nullopt);
  EXPECT_EQ(rs->longLongIntForColumnIndex(5), 0);
  EXPECT_EQ(rs->columnNameForIndex(1), "");
  EXPECT_FALSE(rs->next());
}

TEST_F(SQLResultSetTest, ResultDictHasLowerCasedNamesOnlyOnARow) {
  auto rs = db_->executeQuery("select id, Name, empty from t");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->resultDict(), std::nullopt);  // before the first next
  ASSERT_TRUE(rs->next());
  platform::Dictionary expected{{"id", Value(7)}, {"name", Value("seven")}, {"empty", Value()}};
  EXPECT_EQ(rs->resultDict(), expected);
}

TEST_F(SQLResultSetTest, SameNamedColumnsMapToTheLaterOne) {
  auto rs = db_->executeQuery("select 1 as a, 2 as A");
  ASSERT_TRUE(rs && rs->next());
  EXPECT_EQ(rs->intForColumn("a"), 2);
  EXPECT_EQ(rs->columnNameToIndexMap().size(), 1u);
}

TEST_F(SQLResultSetTest, KvcMagicHandsOverNonNullColumnsWithTheirNames) {
  auto rs = row();
  std::map<std::string, std::string> seen;
  rs->kvcMagic([&](const std::string& key, const std::string& value) { seen[key] = value; });
  EXPECT_EQ(seen.at("Name"), "seven");
  EXPECT_EQ(seen.at("id"), "7");
  EXPECT_EQ(seen.count("empty"), 0u);
}

TEST_F(SQLResultSetTest, GoingOutOfScopeClosesAndResetsTheStatement) {
  {
    auto rs = row();
    EXPECT_TRUE(db_->hasOpenResultSets());
    EXPECT_NE(sqlite3_txn_state(db_->sqliteHandle(), nullptr), SQLITE_TXN_NONE);
  }
  EXPECT_FALSE(db_->hasOpenResultSets());
  EXPECT_EQ(sqlite3_txn_state(db_->sqliteHandle(), nullptr), SQLITE_TXN_NONE);
  auto cached = db_->cachedStatementForQuery("select * from t");
  ASSERT_TRUE(cached);
  EXPECT_FALSE(cached->inUse());
}

TEST_F(SQLResultSetTest, ResultSetKeepsItsConnectionAlive) {
  auto rs = db_->executeQuery("select id from t");
  std::weak_ptr<SQLDatabase> weak = db_;
  db_.reset();
  ASSERT_FALSE(weak.expired());
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 7);
  EXPECT_FALSE(rs->next());
  EXPECT_TRUE(weak.expired());
}

TEST_F(SQLResultSetTest, HasAnotherRowFollowsTheLastStep) {
  ASSERT_TRUE(db_->executeUpdate("insert into t (id) values (8)"));
  auto rs = db_->executeQuery("select id from t order by id");
  ASSERT_TRUE(rs->next());
  EXPECT_TRUE(rs->hasAnotherRow());
  ASSERT_TRUE(rs->next());
  EXPECT_FALSE(rs->next());
  EXPECT_FALSE(rs->hasAnotherRow());
}

}  // namespace
