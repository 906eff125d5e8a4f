#pragma once
// BaseDao: the base of every data-access object. Making one opens a connection of its own to
// "sample.db" in the documents folder and brings the file's schema up to date (DBHelper); the
// connection lives as long as the object. When the file cannot be opened the object still
// exists, without a connection: its reads then find nothing and its writes change nothing.
//
// Operations never report errors: a failure shows only as an empty list or map, false, absent
// or an empty text. Every operation closes its result sets before it returns, so no statement
// of one object keeps the file locked against the others.

#include <memory>
#include <optional>
#include <string>

#include "dao/DBHelper.h"
#include "dao/Single.h"
#include "sqlite/SQLDatabase.h"

class BaseDao {
 public:
  // The database file every data-access object works on.
  static constexpr const char* kDatabaseName = "sample.db";

  BaseDao();
  virtual ~BaseDao() = default;
  BaseDao(const BaseDao&) = delete;
  BaseDao& operator=(const BaseDao&) = delete;

  const std::shared_ptr<SQLDatabase>& db() const { return _db; }
  // Puts the object on another object's connection (its own is closed once nothing holds it),
  // so the writes of two objects can go into one transaction: the settlement of an accepted
  // study-log upload takes back the sent seconds and credits the course tree that way. Nothing
  // else sets it.
  void setDb(std::shared_ptr<SQLDatabase> db) { _db = std::move(db); }

  // `sql` with its one "%@" replaced by the object's table name; absent for an object bound to
  // no table.
  virtual std::optional<std::string> setTable(const std::string& sql) const;

 protected:
  // `sql` with "%@" replaced by `table`.
  static std::string withTable(const std::string& sql, const std::string& table);
  // The text of `setTable`, or the empty text (which runs nothing) when the object has no table.
  std::string tableSql(const std::string& sql) const { return setTable(sql).value_or(""); }

  // A query on this object's connection; null without a connection or when it fails.
  template <class... Args>
  std::unique_ptr<SQLResultSet> runQuery(const std::string& sql, const Args&... args) const {
    if (!_db) return nullptr;
    return _db->executeQuery(sql, args...);
  }
  // An update on this object's connection; false without a connection or when it fails.
  template <class... Args>
  bool runUpdate(const std::string& sql, const Args&... args) const {
    if (!_db) return false;
    return _db->executeUpdate(sql, args...);
  }

  std::shared_ptr<Single> _instance;
  std::shared_ptr<DBHelper> _dbHepler;

 private:
  std::shared_ptr<SQLDatabase> _db;
};
