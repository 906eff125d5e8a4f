#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Assert.h"
#include "sqlite/SQLDatabase.h"
#include "support/TempHome.h"

using platform::Value;

namespace {

class SQLDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = home_.path() + "/test.db";
    db_ = SQLDatabase::databaseWithPath(path_);
    ASSERT_TRUE(db_->open());
  }

  std::string typeOf(const std::string& sql) { return db_->stringForQuery(sql).value_or("?"); }

  testsupport::TempHome home_;
  std::string path_;
  std::shared_ptr<SQLDatabase> db_;
};

TEST_F(SQLDatabaseTest, OpenCloseAndReopen) {
  auto fresh = SQLDatabase::databaseWithPath(home_.path() + "/other.db");
  EXPECT_TRUE(fresh->close());  // never opened
  EXPECT_FALSE(fresh->goodConnection());
  EXPECT_TRUE(fresh->open());
  EXPECT_TRUE(fresh->open());  // already open
  EXPECT_TRUE(fresh->goodConnection());
  EXPECT_TRUE(fresh->close());
  EXPECT_EQ(fresh->sqliteHandle(), nullptr);
  EXPECT_TRUE(fresh->open());
  EXPECT_TRUE(fresh->executeUpdate("create table t(a)"));
}

TEST_F(SQLDatabaseTest, FailedOpenLeavesNoHandle) {
  auto bad = SQLDatabase::databaseWithPath(home_.path() + "/missing/folder/x.db");
  EXPECT_FALSE(bad->open());
  EXPECT_EQ(bad->sqliteHandle(), nullptr);
  // A second attempt tries again instead of answering yes for a leftover handle.
  EXPECT_FALSE(bad->open());
  EXPECT_FALSE(bad->databaseExists());
  EXPECT_EQ(bad->executeQuery("select 1"), nullptr);
  EXPECT_EQ(bad->lastErrorCode(), SQLITE_MISUSE);
}

TEST_F(SQLDatabaseTest, InMemoryDatabaseForAbsentPath) {
  auto memory = SQLDatabase::databaseWithPath(std::nullopt);
  ASSERT_TRUE(memory->open());
  EXPECT_TRUE(memory->executeUpdate("create table t(a)"));
  EXPECT_EQ(memory->intForQuery("select count(*) from t"), 0);
}

TEST_F(SQLDatabaseTest, CrashOnErrorsRaisesOnMisuse) {
  auto closed = SQLDatabase::databaseWithPath(path_);
  closed->setCrashOnErrors(true);
  EXPECT_THROW(closed->executeQuery("select 1"), platform::AssertionFailure);
  EXPECT_THROW(closed->databaseExists(), platform::AssertionFailure);
}

struct BindCase {
  const char* name;
  Value value;
  const char* type;
  const char* stored;  // quote() of the stored value
};

TEST_F(SQLDatabaseTest, BindsEachValueKindAsItsSQLType) {
  const BindCase cases[] = {
      {"null", Value(), "null", "NULL"},
      {"true", Value(true), "integer", "1"},
      {"false", Value(false), "integer", "0"},
      {"integer", Value(42), "integer", "42"},
      {"big integer", Value(9007199254740993LL), "integer", "9007199254740993"},
      {"negative", Value(-7L), "integer", "-7"},
      {"double", Value(2.5), "real", "2.5"},
      {"text", Value("héllo"), "text", "'héllo'"},
      {"empty text", Value(""), "text", "''"},
      {"bytes", Value(platform::Bytes{1, 2, 255}), "blob", "X'0102FF'"},
      {"empty bytes", Value(platform::Bytes{}), "blob", "X''"},
      {"date", Value(platform::dateFromSeconds(86400.5)), "real", "86400.5"},
      {"array", Value(platform::Array{Value(1)}), "text", nullptr},
  };
  ASSERT_TRUE(db_->executeUpdate("create table t(name, v)"));
  for (const auto& c : cases) {
    ASSERT_TRUE(db_->executeUpdateWithArgumentsInArray("insert into t values (?, ?)",
                                                       {Value(c.name), c.value}))
        << c.name;
    EXPECT_EQ(db_->stringForQuery("select typeof(v) from t where name = ?", c.name), c.type)
        << c.name;
    if (c.stored) {
      EXPECT_EQ(db_->stringForQuery("select quote(v) from t where name = ?", c.name), c.stored)
          << c.name;
    }
  }
}

TEST_F(SQLDatabaseTest, VariadicArgumentsConvertByCppType) {
  ASSERT_TRUE(db_->executeUpdate("create table t(name, v)"));
  struct Case {
    const char* name;
    std::function<bool()> insert;
    const char* type;
    const char* stored;
  };
  auto ins = [this](const char* name, auto v) {
    return [this, name, v] { return db_->executeUpdate("insert into t values (?, ?)", name, v); };
  };
  std::optional<int> none;
  const char* nullText = nullptr;
  const Case cases[] = {
      {"bool", ins("bool", true), "integer", "1"},
      {"char", ins("char", 'a'), "integer", "1"},
      {"int", ins("int", -3), "integer", "-3"},
      {"long long", ins("long long", 1LL << 40), "integer", "1099511627776"},
      {"unsigned", ins("unsigned", 7u), "text", "'7'"},
      {"unsigned long max", ins("unsigned long max", ~0UL), "text", "'18446744073709551615'"},
      {"short", ins("short", short{5}), "text", "'5'"},
      {"float", ins("float", 0.5f), "real", "0.5"},
      {"double", ins("double", 1.25), "real", "1.25"},
      {"literal", ins("literal", "x"), "text", "'x'"},
      {"string", ins("string", std::string("yz")), "text", "'yz'"},
      {"null text", ins("null text", nullText), "null", "NULL"},
      {"nullptr", ins("nullptr", nullptr), "null", "NULL"},
      {"empty optional", ins("empty optional", none), "null", "NULL"},
      {"optional", ins("optional", std::optional<int>(9)), "integer", "9"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.insert()) << c.name;
    EXPECT_EQ(db_->stringForQuery("select typeof(v) from t where name = ?", c.name), c.type)
        << c.name;
    EXPECT_EQ(db_->stringForQuery("select quote(v) from t where name = ?", c.name), c.stored)
        << c.name;
  }
}

TEST_F(SQLDatabaseTest, ExtraArgumentsAreIgnoredAndMissingOnesFail) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a, b)"));
  EXPECT_TRUE(db_->executeUpdate("insert into t values (?, ?)", 1, 2, 3, 4));
  EXPECT_EQ(db_->intForQuery("select count(*) from t where a = 1 and b = 2"), 1);
  EXPECT_TRUE(db_->executeUpdate("insert into t values (5, 6)", "ignored"));

  EXPECT_FALSE(db_->executeUpdate("insert into t values (?, ?)", 1));
  EXPECT_EQ(db_->lastErrorCode(), SQLITE_RANGE);
  EXPECT_TRUE(db_->hadError());
  EXPECT_EQ(db_->executeQueryWithArgumentsInArray("select * from t where a = ?", {}), nullptr);
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 2);
}

TEST_F(SQLDatabaseTest, DictionaryArgumentsMustMatchParameterCount) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a, b)"));
  struct Case {
    const char* name;
    platform::Dictionary arguments;
    bool ok;
  };
  const Case cases[] = {
      {"exact", {{"a", Value(1)}, {"b", Value("x")}}, true},
      {"one key too many", {{"a", Value(1)}, {"b", Value("x")}, {"c", Value(3)}}, false},
      {"one key missing", {{"a", Value(1)}}, false},
      {"wrong names", {{"x", Value(1)}, {"y", Value(2)}}, true},
  };
  db_->setShouldCacheStatements(true);
  for (const auto& c : cases) {
    EXPECT_EQ(
        db_->executeUpdateWithParameterDictionary("insert into t values (:a, :b)", c.arguments),
        c.ok)
        << c.name;
  }
  // The extra-key failure happened even though every parameter had been bound; unnamed
  // parameters read NULL, not what the cached statement was bound to before.
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 2);
  EXPECT_EQ(db_->intForQuery("select count(*) from t where a is null and b is null"), 1);
  auto rs =
      db_->executeQueryWithParameterDictionary("select b from t where a = :a", {{"a", Value(1)}});
  ASSERT_TRUE(rs);
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->stringForColumnIndex(0), "x");
  EXPECT_EQ(db_->executeQueryWithParameterDictionary("select b from t where a = :a",
                                                     {{"a", Value(1)}, {"z", Value(2)}}),
            nullptr);
}

TEST_F(SQLDatabaseTest, UpdateResultsAndErrors) {
  EXPECT_TRUE(db_->executeUpdate("create table t(a unique)"));
  EXPECT_FALSE(db_->hadError());
  EXPECT_TRUE(db_->executeUpdate("insert into t values (1)"));
  EXPECT_EQ(db_->lastInsertRowId(), 1);
  EXPECT_EQ(db_->changes(), 1);
  EXPECT_FALSE(db_->executeUpdate("insert into t values (1)"));
  EXPECT_TRUE(db_->hadError());
  EXPECT_EQ(db_->lastErrorCode(), SQLITE_CONSTRAINT);
  platform::Error error = db_->lastError();
  EXPECT_EQ(error.domain(), "SQLDatabase");
  EXPECT_EQ(error.code(), SQLITE_CONSTRAINT);
  EXPECT_NE(error.localizedDescription().find("UNIQUE"), std::string::npos);

  platform::Error prepareError;
  EXPECT_FALSE(db_->update("insert into nowhere values (?)", &prepareError, 1));
  EXPECT_EQ(prepareError.code(), SQLITE_ERROR);
  EXPECT_NE(prepareError.domain().find("no such table"), std::string::npos);
  EXPECT_TRUE(prepareError.userInfo().empty());
  EXPECT_TRUE(db_->update("insert into t values (?)", &prepareError, 2));
}

TEST_F(SQLDatabaseTest, UpdateGivenAQueryRaisesAndLeavesConnectionUsable) {
  for (bool caching : {false, true}) {
    db_->setShouldCacheStatements(caching);
    try {
      db_->executeUpdate("select 1");
      ADD_FAILURE() << "no assertion raised";
    } catch (const platform::AssertionFailure& e) {
      EXPECT_STREQ(e.what(), "A executeUpdate is being called with a query string 'select 1'");
    }
    // The in-use guard was cleared and the statement reset: the connection works on.
    EXPECT_TRUE(db_->executeUpdate("create table if not exists t(a)"));
    EXPECT_EQ(db_->intForQuery("select 1"), 1);
    EXPECT_NE(db_->lastInsertRowId(), -1);
  }
  // The cached statement was reset, so it does not hold a read lock open.
  EXPECT_EQ(sqlite3_txn_state(db_->sqliteHandle(), nullptr), SQLITE_TXN_NONE);
}

TEST_F(SQLDatabaseTest, StatementCacheReusesOneStatementPerSQLText) {
  db_->setShouldCacheStatements(true);
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(db_->executeUpdate("insert into t values (?)", i));
  auto insert = db_->cachedStatementForQuery("insert into t values (?)");
  ASSERT_TRUE(insert);
  EXPECT_EQ(insert->useCount(), 3);
  EXPECT_EQ(insert->query(), "insert into t values (?)");
  EXPECT_NE(insert->description().find("3 hit(s) for query insert into t values (?)"),
            std::string::npos);

  for (int i = 0; i < 2; ++i) {
    auto rs = db_->executeQuery("select a from t where a >= ?", 1);
    ASSERT_TRUE(rs);
    int rows = 0;
    while (rs->next()) ++rows;
    EXPECT_EQ(rows, 2);
  }
  auto select = db_->cachedStatementForQuery("select a from t where a >= ?");
  ASSERT_TRUE(select);
  EXPECT_EQ(select->useCount(), 2);
  // Keyed by the exact text: one more space is another statement.
  EXPECT_EQ(db_->cachedStatementForQuery("select a from t where a >=  ?"), nullptr);

  db_->setShouldCacheStatements(false);
  EXPECT_EQ(db_->cachedStatements(), nullptr);
  EXPECT_TRUE(db_->executeUpdate("insert into t values (?)", 9));
  db_->setShouldCacheStatements(true);
  EXPECT_TRUE(db_->cachedStatements()->empty());
}

TEST_F(SQLDatabaseTest, RunningCachedStatementIsNotReboundUnderItsReader) {
  db_->setShouldCacheStatements(true);
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  for (int i = 1; i <= 4; ++i) ASSERT_TRUE(db_->executeUpdate("insert into t values (?)", i));
  const std::string sql = "select a from t where a > ? order by a";
  auto outer = db_->executeQuery(sql, 1);
  ASSERT_TRUE(outer && outer->next());
  EXPECT_EQ(outer->intForColumnIndex(0), 2);
  {
    auto inner = db_->executeQuery(sql, 3);
    ASSERT_TRUE(inner && inner->next());
    EXPECT_EQ(inner->intForColumnIndex(0), 4);
    EXPECT_NE(inner->statement(), outer->statement());
  }
  // The outer reader goes on where it was, with its own binding.
  ASSERT_TRUE(outer->next());
  EXPECT_EQ(outer->intForColumnIndex(0), 3);
  outer->close();
  auto again = db_->executeQuery(sql, 0);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->statement(), db_->cachedStatementForQuery(sql));
}

// Statement objects can outlive the connection's hold on them: held by a caller, by an open
// result set, or dropped from the cache while still referenced. Closing the connection must
// finalize each handle exactly once, through its object, so none is finalized again when the
// object goes.
TEST_F(SQLDatabaseTest, CloseFinalizesEveryStatementOnceWhoeverHoldsIt) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
  // Uncached: a result set read to its end and closed lets its statement go, but the caller
  // still holds it, so SQLite still counts it as unfinalized.
  std::shared_ptr<SQLStatement> uncached;
  {
    auto rs = db_->executeQuery("select a from t");
    ASSERT_TRUE(rs && rs->next());
    uncached = rs->statement();
  }
  // Uncached and still stepped by an open result set.
  auto openSet = db_->executeQuery("select a + 1 from t");
  ASSERT_TRUE(openSet && openSet->next());
  std::shared_ptr<SQLStatement> running = openSet->statement();
  // Cached, and held as well.
  db_->setShouldCacheStatements(true);
  ASSERT_TRUE(db_->executeUpdate("insert into t values (2)"));
  std::shared_ptr<SQLStatement> cached = db_->cachedStatementForQuery("insert into t values (2)");
  ASSERT_TRUE(uncached && running && cached);
  ASSERT_NE(uncached->statement(), nullptr);

  EXPECT_TRUE(db_->close());
  EXPECT_EQ(uncached->statement(), nullptr);
  EXPECT_EQ(running->statement(), nullptr);
  EXPECT_EQ(cached->statement(), nullptr);
  EXPECT_EQ(openSet->parentDB(), nullptr);
  EXPECT_FALSE(openSet->next());
  EXPECT_FALSE(db_->hasOpenResultSets());
  // Dropping them now finalizes nothing twice (the sanitizer builds would report it).
  uncached.reset();
  running.reset();
  cached.reset();
  openSet.reset();
  EXPECT_TRUE(db_->open());
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 2);
}

TEST_F(SQLDatabaseTest, ClearingTheCacheFinalizesItsStatements) {
  db_->setShouldCacheStatements(true);
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  auto statement = db_->cachedStatementForQuery("create table t(a)");
  ASSERT_TRUE(statement && statement->statement());
  // A statement stored by hand is found under (a copy of) its text, which it learns.
  db_->setCachedStatement(statement, "create table t2(a)");
  EXPECT_EQ(db_->cachedStatementForQuery("create table t2(a)"), statement);
  EXPECT_EQ(statement->query(), "create table t2(a)");

  db_->clearCachedStatements();
  EXPECT_EQ(statement->statement(), nullptr);
  EXPECT_TRUE(db_->cachedStatements()->empty());
  EXPECT_TRUE(db_->executeUpdate("insert into t values (1)"));
}

TEST_F(SQLDatabaseTest, ClosingTheOpenResultSetsEndsEveryReaderMidway) {
  db_->setShouldCacheStatements(true);
  ASSERT_TRUE(db_->executeUpdate("create table t(n integer)"));
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(db_->executeUpdate("insert into t values (?)", n));
  auto first = db_->executeQuery("select n from t order by n");
  auto second = db_->executeQuery("select n from t order by n desc");
  ASSERT_TRUE(first && first->next() && second && second->next());
  EXPECT_EQ(first->intForColumnIndex(0), 1);

  db_->closeOpenResultSets();
  EXPECT_FALSE(db_->hasOpenResultSets());
  for (auto* rs : {first.get(), second.get()}) {
    EXPECT_EQ(rs->parentDB(), nullptr);
    EXPECT_FALSE(rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(0), std::nullopt);
  }
  // The statements were reset: the same query reads from its first row again, and the table
  // is no longer held by a reader.
  auto again = db_->executeQuery("select n from t order by n");
  ASSERT_TRUE(again && again->next());
  EXPECT_EQ(again->intForColumnIndex(0), 1);
  again->close();
  EXPECT_TRUE(db_->executeUpdate("drop table t"));
  first.reset();  // closing a closed set afterwards is harmless
  db_->closeOpenResultSets();
}

TEST_F(SQLDatabaseTest, ReadOnlyOpenRefusesWrites) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  auto reader = SQLDatabase::databaseWithPath(path_);
  ASSERT_TRUE(reader->openWithFlags(SQLITE_OPEN_READONLY));
  EXPECT_EQ(reader->intForQuery("select count(*) from t"), 0);
  EXPECT_FALSE(reader->executeUpdate("insert into t values (1)"));
  EXPECT_EQ(reader->lastErrorCode(), SQLITE_READONLY);
  // A file that is not there is not created by a read-only open.
  auto missing = SQLDatabase::databaseWithPath(home_.path() + "/missing.db");
  EXPECT_FALSE(missing->openWithFlags(SQLITE_OPEN_READONLY));
  EXPECT_FALSE(std::filesystem::exists(home_.path() + "/missing.db"));
}

TEST_F(SQLDatabaseTest, TransactionsCommitAndRollBack) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  EXPECT_FALSE(db_->inTransaction());
  ASSERT_TRUE(db_->beginTransaction());
  EXPECT_TRUE(db_->inTransaction());
  ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
  ASSERT_TRUE(db_->rollback());
  EXPECT_FALSE(db_->inTransaction());
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 0);

  ASSERT_TRUE(db_->beginDeferredTransaction());
  ASSERT_TRUE(db_->executeUpdate("insert into t values (2)"));
  ASSERT_TRUE(db_->commit());
  EXPECT_FALSE(db_->inTransaction());
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 1);
  EXPECT_FALSE(db_->commit());  // nothing to commit
}

TEST_F(SQLDatabaseTest, SavePointsNestAndRollBack) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  ASSERT_TRUE(db_->beginTransaction());
  ASSERT_TRUE(db_->startSavePointWithName("outer"));
  ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
  ASSERT_TRUE(db_->startSavePointWithName("in'ner"));  // quoted safely
  ASSERT_TRUE(db_->executeUpdate("insert into t values (2)"));
  ASSERT_TRUE(db_->rollbackToSavePointWithName("in'ner"));
  ASSERT_TRUE(db_->releaseSavePointWithName("in'ner"));
  ASSERT_TRUE(db_->releaseSavePointWithName("outer"));
  ASSERT_TRUE(db_->commit());
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 1);

  platform::Error error;
  EXPECT_FALSE(db_->releaseSavePointWithName("never", &error));
  EXPECT_EQ(error.domain(), "SQLDatabase");
  EXPECT_EQ(error.code(), SQLITE_ERROR);
  EXPECT_THROW(db_->startSavePointWithName(""), platform::AssertionFailure);
}

TEST_F(SQLDatabaseTest, SavePointNamesAreQuoted) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  // Put in unquoted, each of these names breaks the statement's syntax.
  for (const char* name : {"it's", "'", "a''b", "x' || 'y", "x'; drop table t; --"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(db_->startSavePointWithName(name));
    EXPECT_TRUE(db_->executeUpdate("insert into t values (1)"));
    EXPECT_TRUE(db_->rollbackToSavePointWithName(name));
    EXPECT_TRUE(db_->releaseSavePointWithName(name));
    EXPECT_TRUE(sqlite3_get_autocommit(db_->sqliteHandle()));
  }
  // The savepoint is the very name given: another name does not release it.
  ASSERT_TRUE(db_->startSavePointWithName("it's"));
  EXPECT_FALSE(db_->releaseSavePointWithName("its"));
  EXPECT_TRUE(db_->releaseSavePointWithName("it's"));
  EXPECT_TRUE(db_->tableExists("t"));
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 0);
}

TEST_F(SQLDatabaseTest, InSavePointCommitsOrRollsBackAndLeavesNoTransaction) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  EXPECT_EQ(db_->inSavePoint([&](bool*) { db_->executeUpdate("insert into t values (1)"); }),
            std::nullopt);
  EXPECT_EQ(db_->inSavePoint([&](bool* rollback) {
    db_->executeUpdate("insert into t values (2)");
    *rollback = true;
  }),
            std::nullopt);
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 1);
  // A rolled-back savepoint is released too: no transaction stays open to lock the file.
  EXPECT_TRUE(sqlite3_get_autocommit(db_->sqliteHandle()));
  auto other = SQLDatabase::databaseWithPath(path_);
  ASSERT_TRUE(other->open());
  EXPECT_TRUE(other->executeUpdate("insert into t values (3)"));
}

TEST_F(SQLDatabaseTest, UserFunctionsAreCalledWithTheirArguments) {
  db_->makeFunctionNamed("twice", 1, [](sqlite3_context* context, int argc, sqlite3_value** argv) {
    ASSERT_EQ(argc, 1);
    sqlite3_result_int64(context, 2 * sqlite3_value_int64(argv[0]));
  });
  db_->makeFunctionNamed("fail", 0, [](sqlite3_context*, int, sqlite3_value**) {
    throw std::runtime_error("refused");
  });
  EXPECT_EQ(db_->intForQuery("select twice(?)", 21), 42);
  EXPECT_EQ(db_->executeQuery("select twice(1, 2)"), nullptr);
  auto rs = db_->executeQuery("select fail()");
  ASSERT_TRUE(rs);
  EXPECT_FALSE(rs->next());
  EXPECT_EQ(db_->lastErrorMessage(), "refused");
}

TEST_F(SQLDatabaseTest, NestedUseFromAUserFunctionIsTurnedAway) {
  ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  bool nestedRefused = false;
  db_->makeFunctionNamed("nested", 0, [&](sqlite3_context* context, int, sqlite3_value**) {
    nestedRefused = !db_->executeUpdate("insert into t values (1)");
    EXPECT_EQ(db_->lastInsertRowId(), 0);
    sqlite3_result_int(context, 1);
  });
  EXPECT_TRUE(db_->executeUpdate("insert into t values (nested())"));
  EXPECT_TRUE(nestedRefused);
}

struct FormatCase {
  const char* name;
  std::function<std::unique_ptr<SQLResultSet>(SQLDatabase&)> run;
  const char* type;
  const char* stored;
};

TEST_F(SQLDatabaseTest, PrintfLikeFormsBindBySpecifier) {
  using D = SQLDatabase;
  const FormatCase cases[] = {
      {"%@ text", [](D& d) { return d.executeQueryWithFormat("select %@", "a"); }, "text", "'a'"},
      {"%@ value", [](D& d) { return d.executeQueryWithFormat("select %@", Value(3)); }, "integer",
       "3"},
      {"%@ null", [](D& d) { return d.executeQueryWithFormat("select %@", nullptr); }, "null",
       "NULL"},
      {"%d", [](D& d) { return d.executeQueryWithFormat("select %d", 5); }, "integer", "5"},
      {"%i narrows", [](D& d) { return d.executeQueryWithFormat("select %i", 1LL << 32); },
       "integer", "0"},
      {"%u", [](D& d) { return d.executeQueryWithFormat("select %u", 5u); }, "text", "'5'"},
      {"%c", [](D& d) { return d.executeQueryWithFormat("select %c", 'z'); }, "text", "'z'"},
      {"%s", [](D& d) { return d.executeQueryWithFormat("select %s", "str"); }, "text", "'str'"},
      {"%f", [](D& d) { return d.executeQueryWithFormat("select %f", 0.1); }, "real", "0.1"},
      {"%g", [](D& d) { return d.executeQueryWithFormat("select %g", 0.1); }, "real",
       "1.00000001490116119384e-01"},
      {"%hi", [](D& d) { return d.executeQueryWithFormat("select %hi", 7); }, "text", "'7'"},
      {"%ld", [](D& d) { return d.executeQueryWithFormat("select %ld", 7L); }, "integer", "7"},
      {"%lld", [](D& d) { return d.executeQueryWithFormat("select %lld", 1LL << 40); }, "integer",
       "1099511627776"},
      {"%qi", [](D& d) { return d.executeQueryWithFormat("select %qi", -2LL); }, "integer", "-2"},
      {"%llu", [](D& d) { return d.executeQueryWithFormat("select %llu", 3ULL); }, "text", "'3'"},
  };
  for (const auto& c : cases) {
    auto rs = c.run(*db_);
    ASSERT_TRUE(rs) << c.name;
    ASSERT_TRUE(rs->next()) << c.name;
    EXPECT_EQ(rs->query(), "select ?") << c.name;
    Value v = rs->objectForColumnIndex(0);
    rs->close();
    EXPECT_EQ(db_->stringForQuery("select typeof(?)", v), c.type) << c.name;
    EXPECT_EQ(db_->stringForQuery("select quote(?)", v), c.stored) << c.name;
  }
}

TEST_F(SQLDatabaseTest, PrintfLikeFormsCopyOtherCharactersAndCheckArguments) {
  platform::Array values;
  EXPECT_EQ(SQLDatabase::sqlForFormat("a %% b %x %lx %d", {SQLArgument::from(1)}, values),
            "a % b x lx ?");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_THROW(SQLDatabase::sqlForFormat("%d %d", {SQLArgument::from(1)}, values),
               platform::AssertionFailure);
  EXPECT_THROW(
      SQLDatabase::sqlForFormat("%d", {SQLArgument::from(1), SQLArgument::from(2)}, values),
      platform::AssertionFailure);
  EXPECT_THROW(SQLDatabase::sqlForFormat("%d", {SQLArgument::from("text")}, values),
               platform::AssertionFailure);
  EXPECT_THROW(SQLDatabase::sqlForFormat("%s", {SQLArgument::from(1.5)}, values),
               platform::AssertionFailure);

  ASSERT_TRUE(db_->executeUpdate("create table t(a, b)"));
  EXPECT_TRUE(db_->executeUpdateWithFormat("insert into t values (%d, %@)", 1, "one"));
  EXPECT_EQ(db_->stringForQuery("select b from t where a = 1"), "one");
}

TEST_F(SQLDatabaseTest, LibraryFactsAndNoEncryption) {
  EXPECT_TRUE(SQLDatabase::isSQLiteThreadSafe());
  EXPECT_EQ(SQLDatabase::sqliteLibVersion(), sqlite3_libversion());
  EXPECT_FALSE(db_->setKey("k"));
  EXPECT_FALSE(db_->rekey("k"));
  EXPECT_EQ(db_->databasePath(), path_);
}

TEST_F(SQLDatabaseTest, LogsAndCrashOnErrorsRaiseOnFailedPrepare) {
  db_->setLogsErrors(true);
  EXPECT_EQ(db_->executeQuery("select nonsense from"), nullptr);
  db_->setCrashOnErrors(true);
  EXPECT_THROW(db_->executeQuery("select nonsense from"), platform::AssertionFailure);
  EXPECT_EQ(db_->intForQuery("select 3"), 3);
}

}  // namespace
