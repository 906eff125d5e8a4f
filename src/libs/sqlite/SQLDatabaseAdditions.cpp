// Single-value queries and schema probes of SQLDatabase: conveniences over its query core, so
// they share its statement cache, in-use guard and busy rule.

#include <cctype>
#include <chrono>
#include <thread>

#include "sqlite/SQLDatabase.h"

namespace {

std::string lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

bool SQLDatabase::tableExists(const std::string& tableName) {
  auto resultSet =
      executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?",
                   lowered(tableName));
  if (!resultSet) return false;
  bool found = resultSet->next();
  resultSet->close();
  return found;
}

std::unique_ptr<SQLResultSet> SQLDatabase::getSchema() {
  return executeQuery(
      "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL "
      "SELECT * FROM sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER "
      "BY tbl_name, type DESC, name");
}

std::unique_ptr<SQLResultSet> SQLDatabase::getTableSchema(const std::string& tableName) {
  return executeQuery("PRAGMA table_info(" + tableName + ")");
}

bool SQLDatabase::columnExists(const std::string& tableName, const std::string& columnName) {
  std::string column = lowered(columnName);
  auto resultSet = getTableSchema(lowered(tableName));
  if (!resultSet) return false;
  bool found = false;
  while (!found && resultSet->next()) {
    auto name = resultSet->stringForColumn("name");
    found = name && lowered(*name) == column;
  }
  resultSet->close();
  return found;
}

bool SQLDatabase::validateSQL(const std::string& sql, platform::Error* error) {
  layerError_.reset();
  sqlite3_stmt* statement = nullptr;
  int rc = SQLITE_MISUSE;
  while (_db) {
    rc = sqlite3_prepare_v2(_db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    sqlite3_finalize(statement);
    statement = nullptr;
    // No count limit here, but a lock held on this very thread still ends the wait.
    if (sameThreadHolderExists()) break;
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  sqlite3_finalize(statement);
  if (rc == SQLITE_OK) return true;
  if (error) {
    *error = platform::Error::withDescription(platform::kCocoaErrorDomain, lastErrorCode(),
                                              lastErrorMessage());
  }
  return false;
}
