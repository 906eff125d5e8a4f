#pragma once
// SQLResultSet: the row cursor a query returns. `next()` steps to the next row; getters read the
// current row's columns by index or by name (names match without regard to case; an unknown name
// reads as a NULL column: absent or 0).
//
// While open it holds its statement and its connection. It closes itself when `next()` finds no
// more rows (or meets an error) and when it is destroyed, so a result set that goes out of scope
// never leaves its statement running; `close()` can also be called at any time, more than once.
// A closed result set reads every column as NULL. Used on the thread of its connection.

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"

class SQLDatabase;
class SQLStatement;

class SQLResultSet {
 public:
  // Case-insensitive map from column name to index; lookups take any case without copying.
  struct CaseInsensitiveHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const;
  };
  struct CaseInsensitiveEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  using ColumnMap = std::unordered_map<std::string, int, CaseInsensitiveHash, CaseInsensitiveEqual>;

  static std::unique_ptr<SQLResultSet> resultSetWithStatement(
      std::shared_ptr<SQLStatement> statement, std::shared_ptr<SQLDatabase> parentDB);
  SQLResultSet(std::shared_ptr<SQLStatement> statement, std::shared_ptr<SQLDatabase> parentDB);
  ~SQLResultSet();
  SQLResultSet(const SQLResultSet&) = delete;
  SQLResultSet& operator=(const SQLResultSet&) = delete;

  // Steps to the next row: true when there is one. Retries busy answers under the connection's
  // busy rule; finding no row (or an error) closes the result set.
  bool next();
  // Resets and lets go of the statement, tells the connection, lets go of it. Harmless twice.
  void close();
  // Whether the connection's last SQLite code is SQLITE_ROW.
  bool hasAnotherRow() const;

  int columnCount() const;
  // The index of the column of that name (any case), or -1.
  int columnIndexForName(std::string_view columnName);
  std::string columnNameForIndex(int columnIdx) const;

  int intForColumnIndex(int columnIdx) const;
  int intForColumn(std::string_view columnName);
  long longForColumnIndex(int columnIdx) const;
  long longForColumn(std::string_view columnName);
  long long longLongIntForColumnIndex(int columnIdx) const;
  long long longLongIntForColumn(std::string_view columnName);
  bool boolForColumnIndex(int columnIdx) const;
  bool boolForColumn(std::string_view columnName);
  double doubleForColumnIndex(int columnIdx) const;
  double doubleForColumn(std::string_view columnName);
  // Absent for NULL, an unknown column or a closed result set.
  std::optional<std::string> stringForColumnIndex(int columnIdx) const;
  std::optional<std::string> stringForColumn(std::string_view columnName);
  // SQLite's own text, valid until the next step or reset; null for NULL.
  const char* UTF8StringForColumnIndex(int columnIdx) const;
  const char* UTF8StringForColumnName(std::string_view columnName);
  // Seconds since 1970 as a date; absent for NULL.
  std::optional<platform::Date> dateForColumnIndex(int columnIdx) const;
  std::optional<platform::Date> dateForColumn(std::string_view columnName);
  // A copy of the blob; absent for NULL.
  std::optional<platform::Bytes> dataForColumnIndex(int columnIdx) const;
  std::optional<platform::Bytes> dataForColumn(std::string_view columnName);
  // SQLite's own blob bytes, valid until the next step or reset; absent for NULL.
  std::optional<std::span<const std::uint8_t>> dataNoCopyForColumnIndex(int columnIdx) const;
  std::optional<std::span<const std::uint8_t>> dataNoCopyForColumn(std::string_view columnName);
  bool columnIndexIsNull(int columnIdx) const;
  bool columnIsNull(std::string_view columnName);
  // By SQLite type: integer, double, bytes or text; NULL gives a null Value.
  platform::Value objectForColumnIndex(int columnIdx) const;
  platform::Value objectForColumnName(std::string_view columnName);
  // Lower-cased column name to value for the current row; absent when there is no current row.
  std::optional<platform::Dictionary> resultDict();
  // Hands each column whose text is not NULL to `setValueForKey` (column name as SQLite gives
  // it, the column's text).
  void kvcMagic(
      const std::function<void(const std::string& key, const std::string& value)>& setValueForKey);

  const std::string& query() const { return _query; }
  void setQuery(std::string query) { _query = std::move(query); }
  const std::shared_ptr<SQLStatement>& statement() const { return _statement; }
  void setStatement(std::shared_ptr<SQLStatement> statement);
  const std::shared_ptr<SQLDatabase>& parentDB() const { return _parentDB; }
  void setParentDB(std::shared_ptr<SQLDatabase> parentDB) { _parentDB = std::move(parentDB); }
  const ColumnMap& columnNameToIndexMap();

 private:
  sqlite3_stmt* handle() const;
  // The column's handle and index when both are readable, else null.
  sqlite3_stmt* readable(int columnIdx) const;
  void setupColumnNames();

  std::shared_ptr<SQLDatabase> _parentDB;
  std::shared_ptr<SQLStatement> _statement;
  std::string _query;
  ColumnMap _columnNameToIndexMap;
  bool _columnNamesSetup = false;
  // The map's entries in column order, for the common loop that reads columns by name in the
  // same order on every row: the search starts after the last hit, so it usually takes one
  // comparison and no hashing.
  std::vector<std::pair<std::string_view, int>> columnOrder_;
  size_t lookupHint_ = 0;
  // The statement's column count, read when the statement is set and after each step rather
  // than on every column read (a re-prepared statement may change it, only while stepping).
  int columnCount_ = 0;
};
